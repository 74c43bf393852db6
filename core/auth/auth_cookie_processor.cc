#include "core/auth/auth_cookie_processor.h"

#include <ostream>
#include <utility>

#include "core/infra/logger.h"

AuthCookieProcessor::AuthCookieProcessor(std::shared_ptr<AuthCookie> cookie,
                                         std::shared_ptr<URLProcessorFactory> factory)
    : cookie_(std::move(cookie)), factory_(std::move(factory)) {}

AuthCookieProcessor::~AuthCookieProcessor() = default;

std::ostream& operator<<(std::ostream& out, AuthCookieProcessor::Result result) {
  switch (result) {
    case AuthCookieProcessor::kSucceeded: return out << "Succeeded";
    case AuthCookieProcessor::kServiceFailed: return out << "ServiceFailed";
    case AuthCookieProcessor::kFailed: return out << "Failed";
    case AuthCookieProcessor::kNotAuthorized: return out << "NotAuthorized";
  }
  // No default label: -Wswitch names a value added without a name here.
  return out << "Unknown(" << static_cast<int32_t>(result) << ")";
}

AuthCookieProcessor::Result AuthCookieProcessorDummy::RefreshAccess() {
  KLOG(Fatal) << "Not supported.";
  return kFailed;
}

AuthCookieProcessor::Result AuthCookieProcessorDummy::Revoke() {
  KLOG(Fail) << "Revoke is not supported.";
  return kSucceeded;
}
