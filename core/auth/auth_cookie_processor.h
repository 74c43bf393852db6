#ifndef KORVO_CORE_AUTH_AUTH_COOKIE_PROCESSOR_H_
#define KORVO_CORE_AUTH_AUTH_COOKIE_PROCESSOR_H_

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>

#include "core/export.h"
#include "core/infra/stoppable.h"

class AuthCookie;
class URLProcessorFactory;

// Refreshes and revokes the tokens of one credential on its service. A
// credential creates its processor (AuthCookie::GetProcessor); operations on
// one processor are serialized by |operation_mutex_|, and Stop may come from
// any thread.
class KORVO_EXPORT AuthCookieProcessor : public Stoppable {
 public:
  // Reaches logs: never renumber. Every caller takes a value other than
  // kSucceeded for a failure.
  enum Result : int32_t {
    kSucceeded = 0,         // or nothing needed doing
    kServiceFailed = 1,     // for a service's own processors; the library never gives it
    kFailed = 2,            // no HTTP client, empty input, operation not supported
    kNotAuthorized = 3,     // the credential is not, or no longer, authorized
  };

  AuthCookieProcessor(std::shared_ptr<AuthCookie> cookie,
                      std::shared_ptr<URLProcessorFactory> factory);

  void Start() override {}
  void Stop() override = 0;
  ~AuthCookieProcessor() override;
  virtual Result RefreshAccess() = 0;
  virtual Result Revoke() = 0;

 protected:
  std::shared_ptr<AuthCookie> cookie_;
  std::mutex operation_mutex_;
  std::shared_ptr<URLProcessorFactory> factory_;
};

// Prints the value's name ("Succeeded", "Failed", ...).
KORVO_EXPORT std::ostream& operator<<(std::ostream& out, AuthCookieProcessor::Result result);

// The processor of credentials whose tokens need no refresh and cannot be
// revoked (S3 keys, WebDAV logins).
class KORVO_EXPORT AuthCookieProcessorDummy : public AuthCookieProcessor {
 public:
  using AuthCookieProcessor::AuthCookieProcessor;

  void Stop() override {}
  // Logs "Not supported." (Fatal) and gives kFailed.
  Result RefreshAccess() override;
  // Logs "Revoke is not supported." (Fail) and gives kSucceeded: there is
  // nothing on the service to forget.
  Result Revoke() override;
};

#endif  // KORVO_CORE_AUTH_AUTH_COOKIE_PROCESSOR_H_
