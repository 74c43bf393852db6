#include "core/tree/tree_id.h"

#include "core/hash/hash_impl.h"
#include "core/infra/logger.h"

bool TreeId::IsEmpty() const {
  for (uint8_t b : bytes_) {
    if (b != 0) return false;
  }
  return true;
}

std::string TreeId::ToHexString() const {
  std::string out;
  hash_internal::AppendHex(bytes_, kSize, /*lowercase=*/false, &out);
  return out;
}

TreeId TreeId::FromHexString(const std::string& text) {
  if (text.size() != 2 * kSize) {
    KLOG(Fatal) << "Invalida tree_id string.";
    return TreeId();
  }
  TreeId id;
  for (size_t i = 0; i < kSize; ++i) {
    const int high = hash_internal::HexDigitValue(text[2 * i]);
    const int low = hash_internal::HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) {
      KLOG(Fatal) << "Invalid symbol in FromHexString.";
      return TreeId();
    }
    id.bytes_[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return id;
}
