// Test entry point: a QCoreApplication, and a temporary home so that nothing
// the library writes (logs, settings) reaches the user's own.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <cstdlib>

#include "tests/support/crash_report.h"
#include "tests/support/test_env.h"

int main(int argc, char** argv) {
  testing_env::InstallCrashReport();
  const std::string& home = testing_env::TempHome();
  setenv("HOME", home.c_str(), 1);
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                           "XDG_RUNTIME_DIR"}) {
    unsetenv(name);
  }
  QStandardPaths::setTestModeEnabled(true);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("korvo_test"));
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  if (!testing_env::TempHomeOutlivesTheProcess()) {
    QDir(QString::fromStdString(home)).removeRecursively();
  }
  return status;
}
