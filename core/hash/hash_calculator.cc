#include "core/hash/hash_calculator.h"

#include <charconv>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/hash/digest.h"
#include "core/infra/logger.h"
#include "core/infra/thread.h"

using hash_internal::Digest;
using hash_internal::DigestKind;

namespace hash_internal {

// Runs Update of one digest on its own thread for one posted piece at a
// time, so that a second digest of the same bytes can run on the caller's
// thread meanwhile. The caller must Wait before it touches the digest or
// releases the piece.
class SideDigest {
 public:
  explicit SideDigest(Digest* digest) : digest_(digest) {}
  ~SideDigest() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    posted_.notify_one();
    thread_.join();
  }
  SideDigest(const SideDigest&) = delete;
  SideDigest& operator=(const SideDigest&) = delete;

  // False (logged) when the system would not start a thread.
  bool Start(const char* name) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
      KLOG(Fail) << "Failed to start hash thread: " << e.what();
      return false;
    }
    utils::SetThreadName(thread_, name);
    return true;
  }

  void Post(const uint8_t* data, size_t size) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      data_ = data;
      size_ = size;
      pending_ = true;
    }
    posted_.notify_one();
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !pending_; });
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      posted_.wait(lock, [this] { return pending_ || stop_; });
      if (stop_) return;
      const uint8_t* data = data_;
      const size_t size = size_;
      lock.unlock();
      digest_->Update(data, size);
      lock.lock();
      pending_ = false;
      done_.notify_one();
    }
  }

  Digest* const digest_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::condition_variable done_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool pending_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace hash_internal

namespace {

constexpr char kFeedBeforeBegin[] = "Failed to calculate hash. Begin() has not beed called.";
constexpr char kFinishBeforeBegin[] = "Begin() has not beed called.";

// Pieces from this size on are worth handing to the side thread: below it,
// waking the thread costs a noticeable share of the work.
constexpr size_t kSideBySideMinPiece = 32 * 1024;

}  // namespace

HashCalculator::~HashCalculator() = default;

// ---------------------------------------------------------------- Vt

HashCalculatorVt::HashCalculatorVt()
    : sha1_(std::make_unique<Digest>(DigestKind::kSha1)) {}

HashCalculatorVt::~HashCalculatorVt() = default;

void HashCalculatorVt::Begin() {
  length_ = 0;
  std::memset(short_content_, 0, sizeof(short_content_));
}

void HashCalculatorVt::Feed(const uint8_t* data, size_t size) {
  if (size == 0) return;
  if (length_ + size <= kShortSize) {
    std::memcpy(short_content_ + length_, data, size);
    length_ += size;
    return;
  }
  if (length_ <= kShortSize) {
    // The content just outgrew the short form.
    static constexpr char kSalt[] = "vtCloud";
    sha1_->Init();
    sha1_->Update(reinterpret_cast<const uint8_t*>(kSalt), sizeof(kSalt) - 1);
    sha1_->Update(short_content_, static_cast<size_t>(length_));
  }
  sha1_->Update(data, size);
  length_ += size;
}

SomeHash HashCalculatorVt::Finish() {
  HashBase<20> result{};
  if (length_ <= kShortSize) {
    std::memcpy(result.data, short_content_, kShortSize);
  } else {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof(digits), length_).ptr;
    sha1_->Update(reinterpret_cast<const uint8_t*>(digits), static_cast<size_t>(end - digits));
    sha1_->Final(result.data);
  }
  Begin();
  return SomeHash(result);
}

// ---------------------------------------------------------------- Yandex

HashCalculatorYandex::HashCalculatorYandex()
    : md5_(std::make_unique<Digest>(DigestKind::kMd5)),
      sha256_(std::make_unique<Digest>(DigestKind::kSha256)) {}

HashCalculatorYandex::~HashCalculatorYandex() = default;

void HashCalculatorYandex::Begin() {
  md5_->Init();
  sha256_->Init();
  begun_ = true;
}

void HashCalculatorYandex::Feed(const uint8_t* data, size_t size) {
  if (!begun_) {
    KLOG(Fatal) << kFeedBeforeBegin;
    return;
  }
  if (size == 0) return;
  if (size >= kSideBySideMinPiece && !side_ && !side_failed_) {
    if (std::thread::hardware_concurrency() > 1) {
      auto side = std::make_unique<hash_internal::SideDigest>(sha256_.get());
      if (side->Start("Yandex hash")) side_ = std::move(side);
    }
    side_failed_ = !side_;
  }
  if (size >= kSideBySideMinPiece && side_) {
    side_->Post(data, size);
    md5_->Update(data, size);
    side_->Wait();
    return;
  }
  md5_->Update(data, size);
  sha256_->Update(data, size);
}

SomeHash HashCalculatorYandex::Finish() {
  if (!begun_) KLOG(Fatal) << kFinishBeforeBegin;
  HashYandex result;
  md5_->Final(result.md5.data);
  sha256_->Final(result.sha256.data);
  begun_ = false;
  return SomeHash(result);
}

// ---------------------------------------------------------------- Internal

HashCalculatorInternal::HashCalculatorInternal()
    : sha256_(std::make_unique<Digest>(DigestKind::kSha256)) {}

HashCalculatorInternal::~HashCalculatorInternal() = default;

bool HashCalculatorInternal::IsInternal(const SomeHash& hash) {
  return hash.Type() == SomeHash::GenericString &&
         hash.GetHashGenericString().starts_with(kPrefix);
}

void HashCalculatorInternal::Begin() {
  sha256_->Init();
  begun_ = true;
}

void HashCalculatorInternal::Feed(const uint8_t* data, size_t size) {
  if (!begun_) {
    KLOG(Fatal) << kFeedBeforeBegin;
    return;
  }
  sha256_->Update(data, size);
}

SomeHash HashCalculatorInternal::Finish() {
  if (!begun_) KLOG(Fatal) << kFinishBeforeBegin;
  uint8_t digest[32];
  sha256_->Final(digest);
  begun_ = false;
  std::string text(kPrefix);
  hash_internal::AppendHex(digest, sizeof(digest), /*lowercase=*/true, &text);
  return SomeHash(std::move(text));
}

// ---------------------------------------------------------------- OneDrive

HashCalculatorOneDrive::HashCalculatorOneDrive()
    : sha1_(std::make_unique<Digest>(DigestKind::kSha1)) {}

HashCalculatorOneDrive::~HashCalculatorOneDrive() = default;

void HashCalculatorOneDrive::Begin() {
  sha1_->Init();
  begun_ = true;
}

void HashCalculatorOneDrive::Feed(const uint8_t* data, size_t size) {
  if (!begun_) {
    KLOG(Fatal) << kFeedBeforeBegin;
    return;
  }
  sha1_->Update(data, size);
}

SomeHash HashCalculatorOneDrive::Finish() {
  if (!begun_) KLOG(Fatal) << kFinishBeforeBegin;
  HashOneDrive result;
  sha1_->Final(result.sha1.data);
  begun_ = false;
  return SomeHash(std::move(result));
}

// ---------------------------------------------------------------- S3

HashCalculatorS3::HashCalculatorS3()
    : md5_(std::make_unique<Digest>(DigestKind::kMd5)) {}

HashCalculatorS3::~HashCalculatorS3() = default;

void HashCalculatorS3::Begin() {
  md5_->Init();
  begun_ = true;
}

void HashCalculatorS3::Feed(const uint8_t* data, size_t size) {
  if (!begun_) {
    KLOG(Fatal) << kFeedBeforeBegin;
    return;
  }
  md5_->Update(data, size);
}

SomeHash HashCalculatorS3::Finish() {
  if (!begun_) {
    KLOG(Fatal) << kFinishBeforeBegin;
    return SomeHash();
  }
  HashS3 result;
  md5_->Final(result.md5.data);
  begun_ = false;
  return SomeHash(std::move(result));
}
