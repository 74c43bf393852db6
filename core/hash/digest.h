#ifndef KORVO_CORE_HASH_DIGEST_H_
#define KORVO_CORE_HASH_DIGEST_H_

#include <cstddef>
#include <cstdint>

struct evp_md_ctx_st;

namespace hash_internal {

enum class DigestKind { kMd5, kSha1, kSha256 };

// One streaming OpenSSL digest. Starts initialised; Final finishes it and
// the next Update or Final starts afresh, so a Final without data always
// gives the digest of no data. Failures of OpenSSL (out of memory) are
// logged and give a zero digest.
class Digest {
 public:
  static constexpr size_t kMaxSize = 32;

  explicit Digest(DigestKind kind);
  ~Digest();
  Digest(const Digest&) = delete;
  Digest& operator=(const Digest&) = delete;

  static size_t SizeOf(DigestKind kind);
  size_t size() const { return SizeOf(kind_); }

  // Drops anything fed so far.
  void Init();
  void Update(const uint8_t* data, size_t size);
  // Writes size() bytes to |out|.
  void Final(uint8_t* out);

 private:
  bool EnsureStarted();

  const DigestKind kind_;
  evp_md_ctx_st* ctx_;
  bool started_ = false;
  bool failed_ = false;  // Logged once; the next Init clears it.
};

}  // namespace hash_internal

#endif  // KORVO_CORE_HASH_DIGEST_H_
