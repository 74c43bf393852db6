// Loads every credential kind from a QVariant read with QDataStream out of
// arbitrary bytes, as if the settings file had been tampered with. Nothing
// may crash or read out of bounds; whatever loads must serialize and load
// back to the same account.

#include <QByteArray>
#include <QDataStream>
#include <QVariant>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "core/auth/auth_cookie.h"
#include "core/auth/auth_cookie_s3.h"
#include "core/auth/auth_cookie_webdav.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr char kKey[] = "fuzz-key";

class OneToken : public AuthCookieOneToken {
 public:
  using AuthCookieOneToken::AuthCookieOneToken;
  std::string HttpHeader() const override { return GetAccessToken(); }
  std::shared_ptr<AuthCookieProcessor> GetProcessor(
      std::shared_ptr<URLProcessorFactory>) override {
    return nullptr;
  }
};

class WithRefresh : public AuthCookieWithRefreshToken {
 public:
  using AuthCookieWithRefreshToken::AuthCookieWithRefreshToken;
  std::string HttpHeader() const override { return GetRefreshToken(); }
  std::shared_ptr<AuthCookieProcessor> GetProcessor(
      std::shared_ptr<URLProcessorFactory>) override {
    return nullptr;
  }
};

template <class Cookie>
void RoundTrip(Cookie& cookie, const Cookie& again) {
  if (cookie.IsAuthorized() && !again.IsSameAccount(cookie)) std::abort();
}

}  // namespace

// Qt's own reader sizes a list by the count it reads, before reading the
// items: a forged count asks for more memory than exists. Qt answers a failed
// allocation with std::bad_alloc, which is what a settings file would give
// too; that reader is Qt's, not ours, so such input is simply skipped.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
  QDataStream in(bytes);
  in.setVersion(QDataStream::Qt_5_15);
  QVariant stored;
  try {
    in >> stored;
  } catch (const std::bad_alloc&) {
    return 0;
  }
  // Bytes that are no variant at all load as a bare value.
  if (in.status() != QDataStream::Ok) stored = QVariant(bytes);

  OneToken one(stored, kKey, CloudServiceId::kYandex);
  RoundTrip(one, OneToken(one.Serialize(kKey), kKey, CloudServiceId::kYandex));
  WithRefresh refresh(stored, kKey, CloudServiceId::kVeltra);
  RoundTrip(refresh, WithRefresh(refresh.Serialize(kKey), kKey, CloudServiceId::kVeltra));
  AuthCookieS3 s3(CloudServiceId::kS3, stored, kKey);
  RoundTrip(s3, AuthCookieS3(CloudServiceId::kS3, s3.Serialize(kKey), kKey));
  AuthCookieWebDAVBase webdav(CloudServiceId::kWebDAV, stored, kKey);
  RoundTrip(webdav, AuthCookieWebDAVBase(CloudServiceId::kWebDAV, webdav.Serialize(kKey), kKey));
  (void)webdav.HttpHeader();
  (void)s3.HttpHeaders("https://" + s3.Domain() + "/" + s3.Bucket() + "/k", "GET", {});
  return 0;
}
