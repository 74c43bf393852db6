// The korvo program's logcat command, run as a separate process.

#include <gtest/gtest.h>

#include <QDate>
#include <QString>

#include "core/infra/log_file_writer.h"
#include "tests/support/log_files.h"
#include "tests/support/test_env.h"
#include "tests/tools/korvo_run.h"

namespace {

using testing_env::DecodeLogFileWithBzip2Tool;
using testing_env::Korvo;
using testing_env::KorvoRun;
using testing_env::MakeTempDir;
using testing_env::ReadFile;
using testing_env::RunCommand;

std::string WriteLog(const std::string& dir, const std::vector<std::string>& chunks) {
  LogFileWriter writer({[dir] { return QString::fromStdString(dir); }, false});
  for (const std::string& chunk : chunks) writer.WriteChunk(chunk, false);
  return dir + "/" + QDate::currentDate().toString("yyyy-MM-dd").toStdString() + ".log";
}

TEST(KorvoLogcatTest, PrintsEveryRecordInOrder) {
  const std::string home = MakeTempDir("home");
  const std::string first = WriteLog(MakeTempDir("a"), {"one\n", "two\n"});
  const std::string second = WriteLog(MakeTempDir("b"), {"three\n"});
  const KorvoRun run = Korvo(home, "logcat '" + first + "' '" + second + "'");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("one\ntwo\nthree\n", run.out);
  EXPECT_EQ("", run.err);
}

TEST(KorvoLogcatTest, DamagedRecordsAreReportedAndSkipped) {
  const std::string home = MakeTempDir("home");
  const std::string path = WriteLog(MakeTempDir("a"), {"before\n"});
  std::string bytes = ReadFile(path);
  bytes += testing_env::kLogMarker;  // A marker with no data behind it.
  const size_t damaged_at = bytes.size() + testing_env::kLogMarker.size();
  bytes += testing_env::kLogMarker + "BZh5 this is no bzip2 stream";
  testing_env::WriteFile(path, bytes);
  const std::string good = WriteLog(MakeTempDir("b"), {"after\n"});
  testing_env::WriteFile(path, bytes + ReadFile(good));

  const KorvoRun run = Korvo(home, "logcat '" + path + "'");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("before\nafter\n", run.out);
  EXPECT_NE(std::string::npos, run.err.find("offset " + std::to_string(damaged_at)))
      << run.err;
  EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
}

TEST(KorvoLogcatTest, MissingFileIsNamedAndTheOthersStillPrinted) {
  const std::string home = MakeTempDir("home");
  const std::string path = WriteLog(MakeTempDir("a"), {"present\n"});
  const KorvoRun run = Korvo(home, "logcat /nonexistent/2024-01-01.log '" + path + "'");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("present\n", run.out);
  EXPECT_NE(std::string::npos, run.err.find("/nonexistent/2024-01-01.log")) << run.err;
}

TEST(KorvoLogcatTest, EachRunLeavesItsLinesInTheDayLog) {
  const std::string home = MakeTempDir("home");
  const std::string path = WriteLog(MakeTempDir("a"), {"x\n"});
  ASSERT_EQ(0, Korvo(home, "logcat '" + path + "'").status);
  const std::string own_log = home + "/.local/share/korvo/logs/" +
                              QDate::currentDate().toString("yyyy-MM-dd").toStdString() +
                              ".log";
  const std::string text = DecodeLogFileWithBzip2Tool(own_log);
  EXPECT_NE(std::string::npos, text.find(" korvo logcat, 1 argument(s)\n")) << text;
  EXPECT_NE(std::string::npos, text.find(" korvo logcat finished with status 0\n")) << text;

  // The program reads its own log back.
  const KorvoRun run = Korvo(home, "logcat '" + own_log + "'");
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(text, run.out);
}

TEST(KorvoLogcatTest, HelpAndUsage) {
  const std::string home = MakeTempDir("home");
  const KorvoRun help = Korvo(home, "--help");
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("logcat FILE..."));
  EXPECT_EQ(2, Korvo(home, "").status);
  EXPECT_EQ(2, Korvo(home, "frobnicate").status);
  EXPECT_EQ(2, Korvo(home, "logcat").status);
}

}  // namespace
