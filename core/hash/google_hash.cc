#include "core/hash/google_hash.h"

#include "core/hash/digest.h"
#include "core/infra/logger.h"

using hash_internal::Digest;
using hash_internal::DigestKind;

HashCalculatorGoogle::HashCalculatorGoogle()
    : md5_(std::make_unique<Digest>(DigestKind::kMd5)) {}

HashCalculatorGoogle::~HashCalculatorGoogle() = default;

void HashCalculatorGoogle::Begin() {
  md5_->Init();
  begun_ = true;
}

void HashCalculatorGoogle::Feed(const uint8_t* data, size_t size) {
  if (!begun_) {
    KLOG(Fatal) << "Failed to calculate hash. Begin() has not beed called.";
    return;
  }
  md5_->Update(data, size);
}

SomeHash HashCalculatorGoogle::Finish() {
  if (!begun_) KLOG(Fatal) << "Begin() has not beed called.";
  HashBase<16> result{};
  md5_->Final(result.data);
  begun_ = false;
  return SomeHash(result);
}
