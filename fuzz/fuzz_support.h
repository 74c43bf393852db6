#ifndef KORVO_FUZZ_FUZZ_SUPPORT_H_
#define KORVO_FUZZ_FUZZ_SUPPORT_H_

#include <QCoreApplication>
#include <QStandardPaths>

#include "core/infra/logger.h"

namespace fuzz_support {

// Bad input is logged at level Fatal on every run; keep those lines in
// memory and away from the console and the user's log directory.
inline void QuietLogger() {
  static const bool done = [] {
    QStandardPaths::setTestModeEnabled(true);
    LoggerWrapper::SetEnableCout(false);
    return true;
  }();
  (void)done;
}

}  // namespace fuzz_support

#endif  // KORVO_FUZZ_FUZZ_SUPPORT_H_
