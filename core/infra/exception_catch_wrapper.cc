#include "core/infra/exception_catch_wrapper.h"

#include <boost/exception/diagnostic_information.hpp>
#include <typeinfo>

#include "core/infra/logger.h"

namespace utils {

void ExceptionCatchWrapperBase::LogException(const char* name,
                                             const boost::exception& e) {
  KLOG(Fatal) << "Caught boost exception in " << name << ": "
              << boost::diagnostic_information(e);
}

void ExceptionCatchWrapperBase::LogException(const char* name,
                                             const std::exception& e) {
  KLOG(Fatal) << "Caught exception in " << name << " of type "
              << typeid(e).name() << ": " << e.what();
}

}  // namespace utils
