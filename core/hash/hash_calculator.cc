#include "core/hash/hash_calculator.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/hash/digest.h"
#include "core/infra/logger.h"
#include "core/infra/thread.h"
#include "core/platform/cpu_relax.h"

using hash_internal::Digest;
using hash_internal::DigestKind;

namespace hash_internal {

// Runs Update of one digest on its own thread for one posted piece at a
// time, so that a second digest of the same bytes can run on the caller's
// thread meanwhile. The caller must Wait before it touches the digest or
// releases the piece.
//
// Waking a sleeping thread costs a system call on each side, which on a
// virtual machine is a good share of the time a 128 KiB piece takes. So both
// sides spin for a while before they sleep: the helper for the next piece,
// the caller for the helper's result. A sleeper announces itself in an atomic
// flag, and the other side takes the mutex and signals only then.
class SideDigest {
 public:
  explicit SideDigest(Digest* digest) : digest_(digest) {}
  ~SideDigest() {
    if (!thread_.joinable()) return;
    stop_.store(true);
    WakeIfParked(helper_parked_, posted_cv_);
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
    data_ = data;
    size_ = size;
    posted_.store(++sequence_);
    WakeIfParked(helper_parked_, posted_cv_);
  }

  void Wait() {
    const uint64_t sequence = sequence_;
    WaitFor([&] { return done_.load() == sequence; }, kCallerSpin, caller_parked_, done_cv_);
  }

 private:
  using Clock = std::chrono::steady_clock;

  // Long enough to cover the time the caller spends on its own digest and
  // on reading the next piece; short enough not to burn a core for long
  // once the pieces stop coming.
  static constexpr auto kHelperSpin = std::chrono::microseconds(400);
  static constexpr auto kCallerSpin = std::chrono::microseconds(200);

  void Run() {
    uint64_t seen = 0;
    for (;;) {
      WaitFor([&] { return posted_.load() != seen || stop_.load(); }, kHelperSpin,
              helper_parked_, posted_cv_);
      if (stop_.load()) return;
      seen = posted_.load();
      digest_->Update(data_, size_);
      done_.store(seen);
      WakeIfParked(caller_parked_, done_cv_);
    }
  }

  // Spins on |ready| for up to |spin|, then sleeps on |cv| until it holds.
  template <class Ready>
  void WaitFor(const Ready& ready, Clock::duration spin, std::atomic<bool>& parked,
               std::condition_variable& cv) {
    if (ready()) return;
    const Clock::time_point give_up = Clock::now() + spin;
    for (int i = 1;; ++i) {
      platform::CpuRelax();
      if (ready()) return;
      if (i % 64 == 0 && Clock::now() >= give_up) break;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    parked.store(true);
    // The other side stores its value and then reads |parked|; this side
    // stores |parked| and then reads the value. Sequentially consistent
    // atomics make at least one of them see the other's store.
    while (!ready()) cv.wait(lock);
    parked.store(false);
  }

  void WakeIfParked(std::atomic<bool>& parked, std::condition_variable& cv) {
    if (!parked.load()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    cv.notify_one();
  }

  Digest* const digest_;
  // The piece: written by the caller before it publishes |posted_|, read by
  // the helper after it sees the new value.
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint64_t sequence_ = 0;  // The caller's count of posted pieces.
  std::atomic<uint64_t> posted_{0};
  std::atomic<uint64_t> done_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> helper_parked_{false};
  std::atomic<bool> caller_parked_{false};
  std::mutex mutex_;
  std::condition_variable posted_cv_;
  std::condition_variable done_cv_;
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
