#ifndef KORVO_CORE_HASH_HASH_IMPL_H_
#define KORVO_CORE_HASH_HASH_IMPL_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/export.h"

namespace hash_internal {

// Writes |size| bytes as 2 * |size| hexadecimal digits, high nibble first,
// upper case unless |lowercase|.
KORVO_EXPORT void AppendHex(const uint8_t* bytes, size_t size, bool lowercase,
                            std::string* out);

// Parses exactly 2 * |size| hexadecimal digits (either case) into |bytes|.
// A text of another length logs "Invalid hash string." and leaves |bytes|
// zero. At the first character that is not a digit it logs "Invalid symbol in
// FromHexString method." and stops: the bytes decoded before it are kept and
// the rest stay zero. Returns whether the whole text was decoded.
KORVO_EXPORT bool ParseHex(std::string_view text, uint8_t* bytes, size_t size);

// Value of one hexadecimal digit, or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace hash_internal

// Exactly N raw digest bytes and no other state; all zero is "zero". A plain
// aggregate, so constants of it are built at compile time.
template <size_t N>
struct HashBase {
  static constexpr size_t kSize = N;

  uint8_t data[N];

  std::string ToHexString(bool lowercase = false) const {
    std::string out;
    hash_internal::AppendHex(data, N, lowercase, &out);
    return out;
  }
  // See hash_internal::ParseHex for what a bad text gives.
  static HashBase FromHexString(std::string_view text) {
    HashBase hash{};
    hash_internal::ParseHex(text, hash.data, N);
    return hash;
  }

  bool IsZero() const {
    for (uint8_t b : data) {
      if (b != 0) return false;
    }
    return true;
  }
  void Clear() { std::memset(data, 0, N); }

  friend bool operator==(const HashBase& a, const HashBase& b) {
    return std::memcmp(a.data, b.data, N) == 0;
  }
  friend bool operator!=(const HashBase& a, const HashBase& b) { return !(a == b); }
  // Bytewise lexicographic.
  friend bool operator<(const HashBase& a, const HashBase& b) {
    return std::memcmp(a.data, b.data, N) < 0;
  }
};

#endif  // KORVO_CORE_HASH_HASH_IMPL_H_
