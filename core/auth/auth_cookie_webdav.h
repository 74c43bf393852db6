#ifndef KORVO_CORE_AUTH_AUTH_COOKIE_WEBDAV_H_
#define KORVO_CORE_AUTH_AUTH_COOKIE_WEBDAV_H_

#include <memory>
#include <string>

#include "core/auth/auth_cookie.h"
#include "core/export.h"

class URLProcessor;

// A WebDAV login sent as HTTP Basic authentication, and the server to use:
// the main one, or a fallback when the main one does not answer. The
// password itself is not kept, only the complete header line. Persisted as
// {"login": QString, "pwd": protected header line, "srv": QString}.
class KORVO_EXPORT AuthCookieWebDAVBase : public AuthCookie {
 public:
  AuthCookieWebDAVBase(CloudServiceId service_id, const std::string& server,
                       const std::string& login, const std::string& password,
                       const std::string& additional_server);
  // A form without login or header line logs "Failed to load cookie from
  // config." (Fail) and gives a credential that is not authorized.
  AuthCookieWebDAVBase(CloudServiceId service_id, const QVariant& stored,
                       const std::string& key);
  AuthCookieWebDAVBase(const AuthCookieWebDAVBase&) = delete;
  AuthCookieWebDAVBase& operator=(const AuthCookieWebDAVBase&) = delete;

  // "Authorization: Basic ..." or empty.
  std::string HttpHeader() const override;
  std::shared_ptr<AuthCookieProcessor> GetProcessor(
      std::shared_ptr<URLProcessorFactory> factory) override;
  void Expire() override;
  void ExpireAccess() override { Expire(); }
  bool HasAccess() const override;
  bool IsAuthorized() const override { return HasAccess(); }
  QVariant Serialize(const std::string& key) override;
  int64_t TimeNeedsRefresh() const override { return 0; }
  bool IsSameAccount(const AuthCookie& other) const override;

  // Chooses the server: the main one when a PROPFIND ("Depth: 0") through
  // |processor| (whose credential should be this one) succeeds, else the
  // fallback when it does, else the main one anyway. Blocks for the probes.
  // True when the chosen server answered.
  bool UpdateServerURL(std::shared_ptr<URLProcessor> processor);

  std::string GetLogin() const;
  std::string GetServer() const;

 private:
  std::string GetMainServer() const { return main_server_; }
  std::string GetAdditionalServer() const { return additional_server_; }
  void CreateAuthHeader(const std::string& password);

  mutable QMutex mutex_;
  std::string login_;
  std::string auth_header_;
  std::string server_;
  std::string main_server_;
  std::string additional_server_;
};

#endif  // KORVO_CORE_AUTH_AUTH_COOKIE_WEBDAV_H_
