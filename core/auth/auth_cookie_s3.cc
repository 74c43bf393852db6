#include "core/auth/auth_cookie_s3.h"

#include <curl/curl.h>

#include "core/auth/cookie_lock.h"
#include <QVariantMap>

#include "core/auth/auth_cookie_processor.h"
#include "core/auth/persisted.h"
#include "core/auth/s3_utils.h"
#include "core/auth/token.h"
#include "core/infra/logger.h"

namespace {

constexpr char kSecretKey[] = "secret";
constexpr char kBucketKey[] = "bucket";
constexpr char kAccessKey[] = "access";
constexpr char kRegionKey[] = "region";
constexpr char kDomainKey[] = "domain";

// Owns a libcurl URL handle and the parts taken from it.
class CurlUrl {
 public:
  CurlUrl() : handle_(curl_url()) {}
  ~CurlUrl() { curl_url_cleanup(handle_); }
  CurlUrl(const CurlUrl&) = delete;
  CurlUrl& operator=(const CurlUrl&) = delete;

  bool valid() const { return handle_ != nullptr; }
  bool Set(const std::string& url) {
    return curl_url_set(handle_, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
  }
  bool Get(CURLUPart what, std::string* out) {
    char* part = nullptr;
    if (curl_url_get(handle_, what, &part, 0) != CURLUE_OK || part == nullptr) return false;
    out->assign(part);
    curl_free(part);
    return true;
  }

 private:
  CURLU* handle_;
};

}  // namespace

AuthCookieS3::AuthCookieS3(CloudServiceId service_id) : AuthCookie(service_id) {}

AuthCookieS3::AuthCookieS3(CloudServiceId service_id, const std::string& bucket,
                           const std::string& access, const std::string& secret,
                           const std::string& region, const std::string& domain)
    : AuthCookie(service_id),
      bucket_(bucket),
      access_(access),
      secret_(secret),
      region_(region),
      domain_(domain) {}

AuthCookieS3::AuthCookieS3(CloudServiceId service_id, const QVariant& stored,
                           const std::string& key)
    : AuthCookie(service_id) {
  using auth_persisted::BytesOf;
  using auth_persisted::Entry;
  secret_ = Token::Decrypt(BytesOf(Entry(stored, kSecretKey)), key);
  bucket_ = BytesOf(Entry(stored, kBucketKey));
  access_ = BytesOf(Entry(stored, kAccessKey));
  region_ = BytesOf(Entry(stored, kRegionKey));
  domain_ = BytesOf(Entry(stored, kDomainKey));
}

std::vector<std::string> AuthCookieS3::HttpHeaders(const std::string& url,
                                                   const std::string& method,
                                                   const std::vector<std::string>& headers) {
  CurlUrl parsed;
  if (!parsed.valid()) {
    KLOG(Fatal) << "Failed to create instance of curl_url";
    return {};
  }
  if (!parsed.Set(url)) {
    KLOG(Fatal) << "Failed to set url";
    return {};
  }
  std::string host, path, query;
  if (!parsed.Get(CURLUPART_HOST, &host)) {
    KLOG(Fatal) << "Failed to get host";
    return {};
  }
  if (!parsed.Get(CURLUPART_PATH, &path)) {
    KLOG(Fatal) << "Failed to get path";
    return {};
  }
  // No query is no error.
  if (!parsed.Get(CURLUPART_QUERY, &query)) query.clear();
  std::string access, secret;
  {
    CookieLock lock(&mutex_);
    access = access_;
    secret = secret_;
  }
  return s3_utils::GenerateHTTPHeaders(host, path, query, method, region_, access, secret,
                                       headers);
}

std::shared_ptr<AuthCookieProcessor> AuthCookieS3::GetProcessor(
    std::shared_ptr<URLProcessorFactory> factory) {
  return std::make_shared<AuthCookieProcessorDummy>(nullptr, std::move(factory));
}

bool AuthCookieS3::IsAuthorized() const {
  CookieLock lock(&mutex_);
  return !secret_.empty();
}

QVariant AuthCookieS3::Serialize(const std::string& key) {
  using auth_persisted::Bytes;
  CookieLock lock(&mutex_);
  QVariantMap map;
  auth_persisted::InsertProtected(&map, kSecretKey, secret_, key);
  map.insert(kBucketKey, Bytes(bucket_));
  map.insert(kAccessKey, Bytes(access_));
  map.insert(kRegionKey, Bytes(region_));
  map.insert(kDomainKey, Bytes(domain_));
  return map;
}

bool AuthCookieS3::IsSameAccount(const AuthCookie& other) const {
  const auto* same = dynamic_cast<const AuthCookieS3*>(&other);
  return same != nullptr && same->bucket_ == bucket_ && same->domain_ == domain_ &&
         same->region_ == region_ && same->access_ == access_ && same->secret_ == secret_;
}
