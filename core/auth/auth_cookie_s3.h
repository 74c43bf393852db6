#ifndef KORVO_CORE_AUTH_AUTH_COOKIE_S3_H_
#define KORVO_CORE_AUTH_AUTH_COOKIE_S3_H_

#include <memory>
#include <string>
#include <vector>

#include "core/auth/auth_cookie.h"
#include "core/export.h"

// The keys of an S3 storage. Every request is signed as a whole (SigV4,
// s3_utils::GenerateHTTPHeaders), so HttpHeader is empty and HttpHeaders
// carries the signature. Persisted as {"secret": protected secret, "bucket",
// "access", "region", "domain": plain bytes}.
class KORVO_EXPORT AuthCookieS3 : public AuthCookie,
                                  public std::enable_shared_from_this<AuthCookieS3> {
 public:
  explicit AuthCookieS3(CloudServiceId service_id);
  AuthCookieS3(CloudServiceId service_id, const std::string& bucket, const std::string& access,
               const std::string& secret, const std::string& region, const std::string& domain);
  AuthCookieS3(CloudServiceId service_id, const QVariant& stored, const std::string& key);
  AuthCookieS3(const AuthCookieS3&) = delete;
  AuthCookieS3& operator=(const AuthCookieS3&) = delete;

  std::string HttpHeader() const override { return std::string(); }
  // The signing lines for |url| (a full URL) and the caller's |headers|;
  // empty, with one Fatal line in the log, for a URL libcurl cannot split.
  std::vector<std::string> HttpHeaders(const std::string& url, const std::string& method,
                                       const std::vector<std::string>& headers) override;
  // An AuthCookieProcessorDummy: keys are neither refreshed nor revoked.
  std::shared_ptr<AuthCookieProcessor> GetProcessor(
      std::shared_ptr<URLProcessorFactory> factory) override;
  void Expire() override {}
  void ExpireAccess() override {}
  bool HasAccess() const override { return IsAuthorized(); }
  bool IsAuthorized() const override;
  QVariant Serialize(const std::string& key) override;
  int64_t TimeNeedsRefresh() const override { return 0; }
  bool IsSameAccount(const AuthCookie& other) const override;

  // Not locked: these never change after construction.
  const std::string& Bucket() const { return bucket_; }
  const std::string& Region() const { return region_; }
  const std::string& Domain() const { return domain_; }

 private:
  mutable QMutex mutex_;
  std::string bucket_;
  std::string access_;
  std::string secret_;
  std::string region_;
  std::string domain_;
};

#endif  // KORVO_CORE_AUTH_AUTH_COOKIE_S3_H_
