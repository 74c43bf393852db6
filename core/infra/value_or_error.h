#ifndef KORVO_CORE_INFRA_VALUE_OR_ERROR_H_
#define KORVO_CORE_INFRA_VALUE_OR_ERROR_H_

#include <utility>
#include <variant>

namespace utils {

// Either a value of type T or an error of type E.
template <class T, class E>
class ValueOrError {
 public:
  static ValueOrError Value(T value) { return ValueOrError(std::in_place_index<0>, std::move(value)); }
  static ValueOrError Error(E error) { return ValueOrError(std::in_place_index<1>, std::move(error)); }

  bool HasValue() const { return data_.index() == 0; }
  explicit operator bool() const { return HasValue(); }
  // Only when HasValue().
  T& GetValue() { return std::get<0>(data_); }
  const T& GetValue() const { return std::get<0>(data_); }
  // Only when !HasValue().
  const E& GetError() const { return std::get<1>(data_); }

 private:
  template <size_t I, class V>
  ValueOrError(std::in_place_index_t<I> index, V&& v) : data_(index, std::forward<V>(v)) {}

  std::variant<T, E> data_;
};

}  // namespace utils

#endif  // KORVO_CORE_INFRA_VALUE_OR_ERROR_H_
