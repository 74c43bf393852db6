#ifndef KORVO_CORE_INFRA_TAGGED_BOOL_H_
#define KORVO_CORE_INFRA_TAGGED_BOOL_H_

// A boolean that only converts from and to bool explicitly, so that two flags
// of a signature cannot be swapped silently:
//   using AddWinUnicodePrefix = utils::TaggedBool<struct AddWinUnicodePrefixTag>;
//   ToWindowsSeparators(path, AddWinUnicodePrefix(true));
namespace utils {

template <class Tag>
class TaggedBool {
 public:
  constexpr explicit TaggedBool(bool value) : value_(value) {}
  constexpr explicit operator bool() const { return value_; }
  constexpr bool value() const { return value_; }
  friend constexpr bool operator==(TaggedBool a, TaggedBool b) {
    return a.value_ == b.value_;
  }

 private:
  bool value_;
};

}  // namespace utils

#endif  // KORVO_CORE_INFRA_TAGGED_BOOL_H_
