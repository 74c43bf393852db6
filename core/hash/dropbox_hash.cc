#include "core/hash/dropbox_hash.h"

#include <algorithm>

#include "core/hash/digest.h"
#include "core/infra/logger.h"

using hash_internal::Digest;
using hash_internal::DigestKind;

HashCalculatorDropbox::HashCalculatorDropbox()
    : block_(std::make_unique<Digest>(DigestKind::kSha256)),
      overall_(std::make_unique<Digest>(DigestKind::kSha256)) {}

HashCalculatorDropbox::~HashCalculatorDropbox() = default;

void HashCalculatorDropbox::Begin() {
  block_->Init();
  overall_->Init();
  block_fill_ = 0;
  begun_ = true;
}

void HashCalculatorDropbox::Feed(const uint8_t* data, size_t size) {
  if (!begun_) {
    KLOG(Fatal) << "Failed to calculate hash. Begin() has not beed called.";
    return;
  }
  while (size > 0) {
    const size_t piece = std::min(size, kBlockSize - block_fill_);
    block_->Update(data, piece);
    block_fill_ += piece;
    data += piece;
    size -= piece;
    if (block_fill_ == kBlockSize) FinishBlock();
  }
}

void HashCalculatorDropbox::FinishBlock() {
  uint8_t digest[32];
  block_->Final(digest);
  overall_->Update(digest, sizeof(digest));
  block_fill_ = 0;
}

SomeHash HashCalculatorDropbox::Finish() {
  if (block_fill_ > 0) FinishBlock();
  HashDropbox result;
  overall_->Final(result.content.data);
  begun_ = false;
  return SomeHash(std::move(result));
}
