#include "core/auth/auth_cookie.h"

#include <QByteArray>
#include "core/auth/cookie_lock.h"
#include <QVariantMap>

#include "core/auth/persisted.h"
#include "core/auth/token.h"
#include "core/infra/logger.h"

namespace {

constexpr char kRefreshKey[] = "t_refresh";

}  // namespace

AuthCookie::~AuthCookie() = default;

// ---- AuthCookieOneToken

AuthCookieOneToken::AuthCookieOneToken(CloudServiceId service_id) : AuthCookie(service_id) {}

AuthCookieOneToken::AuthCookieOneToken(const QVariant& stored, const std::string& key,
                                       CloudServiceId service_id)
    : AuthCookie(service_id) {
  const std::string bytes = auth_persisted::BytesOf(stored);
  if (bytes.empty()) {
    KLOG(Fail) << "Empty OAuth token in config.";
    return;
  }
  access_token_ = Token::Decrypt(bytes, key);
  if (access_token_.empty()) KLOG(Fail) << "Failed to decrypt token.";
}

void AuthCookieOneToken::Expire() { ExpireAccess(); }

void AuthCookieOneToken::ExpireAccess() {
  CookieLock lock(&mutex_);
  access_token_.clear();
}

bool AuthCookieOneToken::HasAccess() const {
  CookieLock lock(&mutex_);
  return !access_token_.empty();
}

bool AuthCookieOneToken::IsAuthorized() const { return HasAccess(); }

QVariant AuthCookieOneToken::Serialize(const std::string& key) {
  CookieLock lock(&mutex_);
  return QVariant(auth_persisted::Protect(access_token_, key));
}

bool AuthCookieOneToken::IsSameAccount(const AuthCookie& other) const {
  const auto* same = dynamic_cast<const AuthCookieOneToken*>(&other);
  return same != nullptr && same->access_token_ == access_token_;
}

void AuthCookieOneToken::SetAccessToken(const std::string& token) {
  CookieLock lock(&mutex_);
  access_token_ = token;
}

std::string AuthCookieOneToken::GetAccessToken() const {
  CookieLock lock(&mutex_);
  return access_token_;
}

// ---- AuthCookieWithRefreshToken

AuthCookieWithRefreshToken::AuthCookieWithRefreshToken(CloudServiceId service_id)
    : AuthCookie(service_id) {}

AuthCookieWithRefreshToken::AuthCookieWithRefreshToken(const QVariant& stored,
                                                       const std::string& key,
                                                       CloudServiceId service_id)
    : AuthCookie(service_id) {
  refresh_token_ =
      Token::Decrypt(auth_persisted::BytesOf(auth_persisted::Entry(stored, kRefreshKey)), key);
}

void AuthCookieWithRefreshToken::Expire() {
  CookieLock lock(&mutex_);
  access_token_.Clear();
  refresh_token_.clear();
}

void AuthCookieWithRefreshToken::ExpireAccess() {
  CookieLock lock(&mutex_);
  access_token_.Clear();
}

bool AuthCookieWithRefreshToken::HasAccess() const {
  CookieLock lock(&mutex_);
  return !access_token_.Empty();
}

bool AuthCookieWithRefreshToken::IsAuthorized() const {
  CookieLock lock(&mutex_);
  return !refresh_token_.empty();
}

QVariant AuthCookieWithRefreshToken::Serialize(const std::string& key) {
  CookieLock lock(&mutex_);
  QVariantMap map;
  auth_persisted::InsertProtected(&map, kRefreshKey, refresh_token_, key);
  return map;
}

int64_t AuthCookieWithRefreshToken::TimeNeedsRefresh() const {
  CookieLock lock(&mutex_);
  return access_token_.Empty() ? 0 : access_token_.expire_time;
}

bool AuthCookieWithRefreshToken::IsSameAccount(const AuthCookie& other) const {
  const auto* same = dynamic_cast<const AuthCookieWithRefreshToken*>(&other);
  return same != nullptr && same->refresh_token_ == refresh_token_;
}

const TokenTimed& AuthCookieWithRefreshToken::GetAccessToken() const {
  CookieLock lock(&mutex_);
  return access_token_;
}

const std::string& AuthCookieWithRefreshToken::GetRefreshToken() const {
  CookieLock lock(&mutex_);
  return refresh_token_;
}

void AuthCookieWithRefreshToken::SetAccessToken(const TokenTimed& token) {
  CookieLock lock(&mutex_);
  access_token_ = token;
}

void AuthCookieWithRefreshToken::SetAccessToken(const std::string& token, int64_t expire_time) {
  CookieLock lock(&mutex_);
  access_token_.token = token;
  access_token_.expire_time = expire_time;
}

void AuthCookieWithRefreshToken::SetRefreshToken(const std::string& token) {
  CookieLock lock(&mutex_);
  refresh_token_ = token;
}

// ---- AuthCookieHelperOAuth

std::string AuthCookieHelperOAuth::BearerTokenHttpHeader(const std::string& token) {
  if (token.empty()) return std::string();
  return "Authorization: Bearer " + token;
}
