#include "core/hash/hash_impl.h"

#include <cstring>

#include "core/infra/logger.h"

namespace hash_internal {

void AppendHex(const uint8_t* bytes, size_t size, bool lowercase, std::string* out) {
  const char* digits = lowercase ? "0123456789abcdef" : "0123456789ABCDEF";
  const size_t start = out->size();
  out->resize(start + 2 * size);
  char* p = out->data() + start;
  for (size_t i = 0; i < size; ++i) {
    *p++ = digits[bytes[i] >> 4];
    *p++ = digits[bytes[i] & 0xF];
  }
}

bool ParseHex(std::string_view text, uint8_t* bytes, size_t size) {
  std::memset(bytes, 0, size);
  if (text.size() != 2 * size) {
    KLOG(Fatal) << "Invalid hash string.";
    return false;
  }
  for (size_t i = 0; i < size; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    if (high < 0 || low < 0) {
      KLOG(Fatal) << "Invalid symbol in FromHexString method.";
      return false;
    }
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

}  // namespace hash_internal
