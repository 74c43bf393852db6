#ifndef KORVO_CORE_AUTH_AUTH_COOKIE_H_
#define KORVO_CORE_AUTH_AUTH_COOKIE_H_

#include <QMutex>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/auth/cloud_service_id.h"
#include "core/export.h"
#include "core/net/auth_info_provider.h"

class AuthCookieProcessor;
class URLProcessorFactory;

// An access token and the Unix time (seconds) at which it stops being valid;
// 0 when not known.
struct KORVO_EXPORT TokenTimed {
  std::string token;
  int64_t expire_time = 0;

  void Clear() {
    token.clear();
    expire_time = 0;
  }
  // The time is not looked at.
  bool Empty() const { return token.empty(); }
};

// The credential of one account: what authenticates its requests, whether it
// is still authorized, and its persisted form. The request engine sees it as
// an AuthInfoProvider. Secrets are persisted only through Token::Encrypt
// under the caller's key; a secret that cannot be protected is not stored.
// Each kind guards its fields with its own (non-recursive) mutex, so request
// threads, refresh threads and whoever saves the account may share one.
class KORVO_EXPORT AuthCookie : public AuthInfoProvider {
 public:
  explicit AuthCookie(CloudServiceId service_id) : service_id_(service_id) {}
  AuthCookie(const AuthCookie& other) = default;
  AuthCookie& operator=(const AuthCookie& other) = default;

  std::string UrlParams(const std::string& client_id) const override { return std::string(); }

  virtual ~AuthCookie();
  // The processor that refreshes and revokes this credential's tokens.
  virtual std::shared_ptr<AuthCookieProcessor> GetProcessor(
      std::shared_ptr<URLProcessorFactory> factory) = 0;
  // Forgets everything that authorizes the account.
  virtual void Expire() = 0;
  // Forgets only the short-lived access part.
  virtual void ExpireAccess() = 0;
  virtual bool HasAccess() const = 0;
  // Whether access can still be obtained without the user.
  virtual bool IsAuthorized() const = 0;
  // The persisted form; |key| is handed to Token::Encrypt.
  virtual QVariant Serialize(const std::string& key) = 0;
  // When the access part must be refreshed (Unix seconds); 0: never.
  virtual int64_t TimeNeedsRefresh() const = 0;
  // Only a credential of the same class can be the same account.
  virtual bool IsSameAccount(const AuthCookie& other) const = 0;

  CloudServiceId ServiceId() const { return service_id_; }

 private:
  CloudServiceId service_id_;
};

// A single bearer token. Services derive from it and supply HttpHeader
// (AuthCookieHelperOAuth::BearerTokenHttpHeader) and GetProcessor.
class KORVO_EXPORT AuthCookieOneToken : public AuthCookie {
 public:
  explicit AuthCookieOneToken(CloudServiceId service_id);
  // From Serialize's form: the protected token as bare bytes. Empty bytes
  // log "Empty OAuth token in config.", bytes that decrypt to nothing
  // "Failed to decrypt token." (Fail); the token stays empty then.
  AuthCookieOneToken(const QVariant& stored, const std::string& key, CloudServiceId service_id);
  AuthCookieOneToken(const AuthCookieOneToken&) = delete;
  AuthCookieOneToken& operator=(const AuthCookieOneToken&) = delete;

  void Expire() override;
  void ExpireAccess() override;
  bool HasAccess() const override;
  bool IsAuthorized() const override;
  QVariant Serialize(const std::string& key) override;
  int64_t TimeNeedsRefresh() const override { return 0; }
  bool IsSameAccount(const AuthCookie& other) const override;
  virtual void SetAccessToken(const std::string& token);

  std::string GetAccessToken() const;

 private:
  mutable QMutex mutex_;
  std::string access_token_;
};

// An access token with its expiry and a refresh token; only the refresh
// token is persisted. Services derive from it and supply HttpHeader and
// GetProcessor.
class KORVO_EXPORT AuthCookieWithRefreshToken : public AuthCookie {
 public:
  explicit AuthCookieWithRefreshToken(CloudServiceId service_id);
  // From Serialize's form: {"t_refresh": protected refresh token}.
  AuthCookieWithRefreshToken(const QVariant& stored, const std::string& key,
                             CloudServiceId service_id);
  AuthCookieWithRefreshToken(const AuthCookieWithRefreshToken&) = delete;
  AuthCookieWithRefreshToken& operator=(const AuthCookieWithRefreshToken&) = delete;

  void Expire() override;
  void ExpireAccess() override;
  bool HasAccess() const override;
  bool IsAuthorized() const override;
  QVariant Serialize(const std::string& key) override;
  // The access token's expiry while there is one.
  int64_t TimeNeedsRefresh() const override;
  bool IsSameAccount(const AuthCookie& other) const override;

  // References read after the lock is released: a caller that may race with
  // a refresh copies the value at once.
  const TokenTimed& GetAccessToken() const;
  const std::string& GetRefreshToken() const;
  void SetAccessToken(const TokenTimed& token);
  void SetAccessToken(const std::string& token, int64_t expire_time);
  void SetRefreshToken(const std::string& token);

 private:
  TokenTimed access_token_;
  std::string refresh_token_;
  mutable QMutex mutex_;
};

class KORVO_EXPORT AuthCookieHelperOAuth {
 public:
  // "Authorization: Bearer " and |token|; empty for an empty token.
  static std::string BearerTokenHttpHeader(const std::string& token);
};

#endif  // KORVO_CORE_AUTH_AUTH_COOKIE_H_
