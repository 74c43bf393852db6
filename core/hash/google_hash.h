#ifndef KORVO_CORE_HASH_GOOGLE_HASH_H_
#define KORVO_CORE_HASH_GOOGLE_HASH_H_

#include <memory>

#include "core/export.h"
#include "core/hash/hash_calculator.h"

// MD5 of the content.
class KORVO_EXPORT HashCalculatorGoogle : public HashCalculator {
 public:
  HashCalculatorGoogle();
  ~HashCalculatorGoogle() override;

  void Begin() override;
  void Feed(const uint8_t* data, size_t size) override;
  SomeHash Finish() override;

 private:
  std::unique_ptr<hash_internal::Digest> md5_;
  bool begun_ = false;
};

#endif  // KORVO_CORE_HASH_GOOGLE_HASH_H_
