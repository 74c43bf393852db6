#ifndef KORVO_CORE_HASH_DROPBOX_HASH_H_
#define KORVO_CORE_HASH_DROPBOX_HASH_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/export.h"
#include "core/hash/hash_calculator.h"

// The Dropbox content hash: SHA-256 over the SHA-256 digests of consecutive
// 4 MiB blocks (the last one may be shorter; empty content has no block).
class KORVO_EXPORT HashCalculatorDropbox : public HashCalculator {
 public:
  static constexpr size_t kBlockSize = 4194304;

  HashCalculatorDropbox();
  ~HashCalculatorDropbox() override;

  void Begin() override;
  void Feed(const uint8_t* data, size_t size) override;
  SomeHash Finish() override;

 private:
  void FinishBlock();

  std::unique_ptr<hash_internal::Digest> block_;
  std::unique_ptr<hash_internal::Digest> overall_;
  size_t block_fill_ = 0;
  bool begun_ = false;
};

#endif  // KORVO_CORE_HASH_DROPBOX_HASH_H_
