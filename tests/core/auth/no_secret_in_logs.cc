// After every run of these tests: no secret of theirs (each holds the
// marker "KVSECRET") in what the library logged, in any log file the run
// wrote, or in the logs of the servers it started.

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QString>
#include <string>

#include "core/infra/logger.h"
#include "tests/support/log_files.h"
#include "tests/support/test_env.h"

namespace {

constexpr char kMarker[] = "KVSECRET";

class NoSecretInLogs : public ::testing::Environment {
 public:
  void TearDown() override {
    std::string memory;
    LoggerWrapper::Get(&memory);
    EXPECT_EQ(std::string::npos, memory.find(kMarker)) << "a secret reached the library's log";
    QDirIterator files(QString::fromStdString(testing_env::TempHome()), {"*.log"}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
      const std::string path = files.next().toStdString();
      std::string text = testing_env::ReadFile(path);
      if (text.rfind(testing_env::kLogMarker, 0) == 0) {
        text = testing_env::DecodeLogFileWithBzip2Tool(path);
      }
      EXPECT_EQ(std::string::npos, text.find(kMarker)) << "a secret is in " << path;
    }
  }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new NoSecretInLogs);

}  // namespace
