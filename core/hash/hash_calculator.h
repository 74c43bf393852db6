#ifndef KORVO_CORE_HASH_HASH_CALCULATOR_H_
#define KORVO_CORE_HASH_HASH_CALCULATOR_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/export.h"
#include "core/hash/hashes.h"

namespace hash_internal {
class Digest;
class SideDigest;
}  // namespace hash_internal

// Computes a service's content hash from consecutive pieces of the content:
// Begin, any number of Feed calls (a zero-length Feed does nothing), Finish.
// After Finish, Begin again before the next content. One thread at a time.
class KORVO_EXPORT HashCalculator {
 public:
  HashCalculator() = default;
  HashCalculator(const HashCalculator&) = delete;
  HashCalculator& operator=(const HashCalculator&) = delete;
  virtual ~HashCalculator();

  virtual void Begin() = 0;
  // Feeding a calculator that was not begun logs and drops the data.
  virtual void Feed(const uint8_t* data, size_t size) = 0;
  virtual SomeHash Finish() = 0;
};

// The maker's own cloud hash, 20 bytes: content of up to 20 bytes is its own
// hash (padded with zeros); longer content hashes to SHA-1 of "vtCloud", the
// content and the decimal text of its length.
class KORVO_EXPORT HashCalculatorVt : public HashCalculator {
 public:
  static constexpr size_t kShortSize = 20;

  HashCalculatorVt();
  ~HashCalculatorVt() override;

  void Begin() override;
  void Feed(const uint8_t* data, size_t size) override;
  // Also starts the next content, as Begin does.
  SomeHash Finish() override;

 private:
  std::unique_ptr<hash_internal::Digest> sha1_;
  uint64_t length_ = 0;
  uint8_t short_content_[kShortSize] = {};
};

// MD5 and SHA-256 of the same bytes. Large pieces are digested side by side:
// SHA-256 on a helper thread of the calculator while the caller's thread runs
// MD5.
class KORVO_EXPORT HashCalculatorYandex : public HashCalculator {
 public:
  HashCalculatorYandex();
  ~HashCalculatorYandex() override;

  void Begin() override;
  void Feed(const uint8_t* data, size_t size) override;
  SomeHash Finish() override;

 private:
  std::unique_ptr<hash_internal::Digest> md5_;
  std::unique_ptr<hash_internal::Digest> sha256_;
  std::unique_ptr<hash_internal::SideDigest> side_;  // Started on first need.
  bool side_failed_ = false;
  bool begun_ = false;
};

// "internal-sha256-" and the SHA-256 of the content in lower-case hex, as a
// GenericString.
class KORVO_EXPORT HashCalculatorInternal : public HashCalculator {
 public:
  static constexpr char kPrefix[] = "internal-sha256-";

  HashCalculatorInternal();
  ~HashCalculatorInternal() override;

  static bool IsInternal(const SomeHash& hash);

  void Begin() override;
  void Feed(const uint8_t* data, size_t size) override;
  SomeHash Finish() override;

 private:
  std::unique_ptr<hash_internal::Digest> sha256_;
  bool begun_ = false;
};

// SHA-1 of the content in the |sha1| field; the other fields stay zero.
class KORVO_EXPORT HashCalculatorOneDrive : public HashCalculator {
 public:
  HashCalculatorOneDrive();
  ~HashCalculatorOneDrive() override;

  void Begin() override;
  void Feed(const uint8_t* data, size_t size) override;
  SomeHash Finish() override;

 private:
  std::unique_ptr<hash_internal::Digest> sha1_;
  bool begun_ = false;
};

// MD5 of the content in the |md5| field, without an entity tag. Finish
// without Begin gives an empty hash.
class KORVO_EXPORT HashCalculatorS3 : public HashCalculator {
 public:
  HashCalculatorS3();
  ~HashCalculatorS3() override;

  void Begin() override;
  void Feed(const uint8_t* data, size_t size) override;
  SomeHash Finish() override;

 private:
  std::unique_ptr<hash_internal::Digest> md5_;
  bool begun_ = false;
};

#endif  // KORVO_CORE_HASH_HASH_CALCULATOR_H_
