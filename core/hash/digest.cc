#include "core/hash/digest.h"

#include <openssl/evp.h>

#include <cstring>

#include "core/infra/logger.h"

namespace hash_internal {
namespace {

const char* NameOf(DigestKind kind) {
  switch (kind) {
    case DigestKind::kMd5: return "MD5";
    case DigestKind::kSha1: return "SHA1";
    case DigestKind::kSha256: return "SHA256";
  }
  return "";
}

// Fetched once: an implicit fetch on every initialisation costs a lookup in
// the provider store.
const EVP_MD* MethodOf(DigestKind kind) {
  static const EVP_MD* const md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  static const EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  static const EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  switch (kind) {
    case DigestKind::kMd5: return md5 != nullptr ? md5 : EVP_md5();
    case DigestKind::kSha1: return sha1 != nullptr ? sha1 : EVP_sha1();
    case DigestKind::kSha256: return sha256 != nullptr ? sha256 : EVP_sha256();
  }
  return nullptr;
}

}  // namespace

Digest::Digest(DigestKind kind) : kind_(kind), ctx_(EVP_MD_CTX_new()) {
  if (ctx_ == nullptr) {
    KLOG(Fatal) << "Failed to create " << NameOf(kind_) << " digest context.";
    failed_ = true;
  }
}

Digest::~Digest() { EVP_MD_CTX_free(ctx_); }

size_t Digest::SizeOf(DigestKind kind) {
  switch (kind) {
    case DigestKind::kMd5: return 16;
    case DigestKind::kSha1: return 20;
    case DigestKind::kSha256: return 32;
  }
  return 0;
}

bool Digest::EnsureStarted() {
  if (started_) return true;
  if (failed_) return false;
  if (EVP_DigestInit_ex(ctx_, MethodOf(kind_), nullptr) != 1) {
    KLOG(Fatal) << "Failed to initialise " << NameOf(kind_) << " digest.";
    failed_ = true;
    return false;
  }
  started_ = true;
  return true;
}

void Digest::Init() {
  started_ = false;
  failed_ = ctx_ == nullptr;
  EnsureStarted();
}

void Digest::Update(const uint8_t* data, size_t size) {
  if (size == 0 || !EnsureStarted()) return;
  if (EVP_DigestUpdate(ctx_, data, size) != 1) {
    KLOG(Fatal) << "Failed to update " << NameOf(kind_) << " digest.";
    failed_ = true;
    started_ = false;
  }
}

void Digest::Final(uint8_t* out) {
  const bool ok = EnsureStarted() && EVP_DigestFinal_ex(ctx_, out, nullptr) == 1;
  if (!ok) {
    if (!failed_) KLOG(Fatal) << "Failed to finish " << NameOf(kind_) << " digest.";
    std::memset(out, 0, size());
  }
  started_ = false;
  failed_ = ctx_ == nullptr;
}

}  // namespace hash_internal
