#ifndef KORVO_CORE_TREE_TREE_ID_H_
#define KORVO_CORE_TREE_TREE_ID_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/export.h"

// Names one tree of an account (its own storage, or a tree shared into it):
// 12 raw bytes, all zero when empty.
class KORVO_EXPORT TreeId {
 public:
  static constexpr size_t kSize = 12;

  TreeId() = default;
  explicit TreeId(const uint8_t* bytes) { Set(bytes); }

  uint8_t* Data() { return bytes_; }
  const uint8_t* Data() const { return bytes_; }
  void Set(const uint8_t* bytes) { std::memcpy(bytes_, bytes, kSize); }
  void Clear() { std::memset(bytes_, 0, kSize); }
  bool IsEmpty() const;

  bool operator==(const TreeId& other) const {
    return std::memcmp(bytes_, other.bytes_, kSize) == 0;
  }
  bool operator!=(const TreeId& other) const { return !(*this == other); }
  // Bytewise lexicographic.
  bool operator<(const TreeId& other) const {
    return std::memcmp(bytes_, other.bytes_, kSize) < 0;
  }

  // 24 upper-case hexadecimal digits.
  std::string ToHexString() const;
  // Exactly 24 digits of either case; anything else logs and gives an empty
  // id (never a partly parsed one).
  static TreeId FromHexString(const std::string& text);

 private:
  uint8_t bytes_[kSize] = {};
};

#endif  // KORVO_CORE_TREE_TREE_ID_H_
