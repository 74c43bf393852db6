#ifndef KORVO_CORE_INFRA_EXCEPTION_CATCH_WRAPPER_H_
#define KORVO_CORE_INFRA_EXCEPTION_CATCH_WRAPPER_H_

#include <boost/exception/exception.hpp>
#include <exception>
#include <utility>

#include "core/export.h"

namespace utils {

class KORVO_EXPORT ExceptionCatchWrapperBase {
 protected:
  // Log at Fatal level what escaped the callable named |name|.
  static void LogException(const char* name, const boost::exception& e);
  static void LogException(const char* name, const std::exception& e);
};

// Calls a callable, typically a thread body; an exception escaping it is
// logged with |name| and then passed on.
template <class F>
class ExceptionCatchWrapper : private ExceptionCatchWrapperBase {
 public:
  // |name| must outlive the wrapper (a string literal).
  ExceptionCatchWrapper(F callable, const char* name)
      : callable_(std::move(callable)), name_(name) {}

  template <class... Args>
  decltype(auto) operator()(Args&&... args) {
    try {
      return callable_(std::forward<Args>(args)...);
    } catch (const boost::exception& e) {
      LogException(name_, e);
      throw;
    } catch (const std::exception& e) {
      LogException(name_, e);
      throw;
    }
  }

 private:
  F callable_;
  const char* name_;
};

}  // namespace utils

#endif  // KORVO_CORE_INFRA_EXCEPTION_CATCH_WRAPPER_H_
