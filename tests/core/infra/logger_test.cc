#include "core/infra/logger.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iomanip>

#include <QDate>
#include <QString>
#include <regex>
#include <thread>

#include "core/infra/logger_state.h"
#include "core/infra/tally_logger.h"
#include "tests/support/log_files.h"
#include "tests/support/test_env.h"

namespace {

using testing_env::DecodeLogFileWithBzip2Tool;
using testing_env::MakeTempDir;

std::string TodayFile(const std::string& dir) {
  return dir + "/" + QDate::currentDate().toString("yyyy-MM-dd").toStdString() + ".log";
}

// A logger of its own, writing under a fresh directory.
struct TestLogger {
  explicit TestLogger(bool start_thread = true)
      : dir(MakeTempDir("logs")),
        state(LogFileWriter::Options{[d = dir] { return QString::fromStdString(d); },
                                     start_thread}) {}
  // Every line also goes to a plain file: the reference for the log files.
  void KeepPlainCopy() { ASSERT_EQ(0, state.OpenFile(dir + "/plain.txt")); }
  std::string PlainCopy() { return testing_env::ReadFile(dir + "/plain.txt"); }
  std::string Get() {
    std::string text;
    state.Get(&text);
    return text;
  }
  std::string dir;
  LoggerState state;
};

std::string LastLine(const std::string& log) {
  const size_t end = log.size() - 1;
  const size_t start = log.rfind('\n', end - 1);
  return log.substr(start == std::string::npos ? 0 : start + 1);
}

const char kStamp[] = R"(\[\d\d:\d\d:\d\d \d\d\.\d\d\] )";

TEST(LoggerTest, StatementLineFormat) {
  const int line = __LINE__ + 1;
  KLOG(Info) << "hello " << 42;
  std::string log;
  LoggerWrapper::Get(&log);
  const std::regex expected(std::string(R"(\[I\] )") + kStamp + "logger_test\\.cc:" +
                            std::to_string(line) + " T" + std::to_string(gettid()) +
                            " hello 42\n");
  EXPECT_TRUE(std::regex_match(LastLine(log), expected)) << LastLine(log);
}

// Logs while it is being streamed into another statement.
struct Chatty {};
std::ostream& operator<<(std::ostream& out, const Chatty&) {
  KLOG(Info) << "inner statement";
  return out << "chatty";
}

TEST(LoggerTest, StatementFormatting) {
  const char* null_text = nullptr;
  KLOG(Info) << "v=" << -42 << ' ' << 7u << ' ' << true << ' ' << std::hex << 255 << ' '
             << std::showbase << 255 << std::dec << std::noshowbase << ' ' << std::setw(5)
             << 3 << ' ' << std::setw(4) << "ab" << ' ' << std::string("str") << ' '
             << std::string_view("view") << ' ' << 1.5 << ' ' << null_text << "|" << 5;
  KLOG(Info) << "next " << 10;  // Formatting does not leak into the next statement.
  KLOG(Info) << "outer " << Chatty() << " done";
  std::string log;
  LoggerWrapper::Get(&log);
  EXPECT_NE(std::string::npos, log.find(" v=-42 7 1 ff 0xff     3   ab str view 1.5 |5\n")) << log;
  EXPECT_NE(std::string::npos, log.find(" next 10\n"));
  const size_t inner = log.rfind(" inner statement\n");
  const size_t outer = log.rfind(" outer chatty done\n");
  ASSERT_NE(std::string::npos, inner);
  ASSERT_NE(std::string::npos, outer);
  EXPECT_LT(inner, outer);
}

TEST(LoggerTest, LevelTags) {
  TestLogger logger(false);
  const std::pair<LoggerWrapper::LogType, const char*> kCases[] = {
      {LoggerWrapper::Info, R"(\[I\] )"},      {LoggerWrapper::Verbose, R"(\[V\] )"},
      {LoggerWrapper::Special, R"(\[S\] )"},   {LoggerWrapper::Fail, R"(\[W\] )"},
      {LoggerWrapper::Fatal, R"(\[E\] )"},
      {static_cast<LoggerWrapper::LogType>(9), R"(\[INVALID\] )"},
  };
  for (const auto& [type, tag] : kCases) {
    logger.state.Write(type, "text\n", "");
    const std::string line = LastLine(logger.Get());
    EXPECT_TRUE(std::regex_match(line, std::regex(std::string(tag) + kStamp + "text\n")))
        << line;
  }
}

TEST(LoggerTest, ProcessIdFollowsTheStamp) {
  TestLogger logger(false);
  logger.state.SetLogProcessId(true);
  logger.state.Write(LoggerWrapper::Info, "x ", "y\n");
  const std::regex expected(std::string(R"(\[I\] )") + kStamp + " P" +
                            std::to_string(getpid()) + " x y\n");
  EXPECT_TRUE(std::regex_match(logger.Get(), expected)) << logger.Get();
}

TEST(LoggerTest, LongStatementReachesTheLogWhole) {
  const std::string long_text(5000, 'q');
  KLOG(Info) << "start " << long_text << " end";
  std::string log;
  LoggerWrapper::Get(&log);
  const std::string line = LastLine(log);
  EXPECT_NE(std::string::npos, line.find("start " + long_text + " end\n"));
}

TEST(LoggerTest, GetReturnsOnlyTheHeadWhileItHasRoom) {
  TestLogger logger(false);
  logger.state.Write(LoggerWrapper::Info, "one\n", "");
  logger.state.Write(LoggerWrapper::Info, "two\n", "");
  const std::string log = logger.Get();
  EXPECT_EQ(std::string::npos, log.find("\n---\n\n"));
  EXPECT_TRUE(std::regex_match(log, std::regex(std::string(".*") + kStamp + "one\n" +
                                               ".*" + kStamp + "two\n")));
}

// Lines of exactly 100 bytes with their tag and stamp.
std::string Text100(int n) {
  char text[128];
  std::snprintf(text, sizeof(text), "%-77d|\n", n);
  return text;  // 79 bytes; "[I] [hh:mm:ss dd.mm] " adds 21.
}

TEST(LoggerTest, ChunksAreQueuedWhenUnwrittenLinesWouldBeDropped) {
  TestLogger logger(false);
  logger.KeepPlainCopy();
  LogFileWriter& writer = logger.state.writer();
  int n = 0;
  auto write = [&] { logger.state.Write(LoggerWrapper::Info, Text100(n++), ""); };
  // The head takes lines until it holds at least 256 KiB...
  const int head_lines = (LoggerState::kHeadLimit + 99) / 100;
  // ...then the tail up to 2 MiB.
  const int tail_lines = LoggerState::kTailLimit / 100;
  for (int i = 0; i < head_lines + tail_lines; ++i) write();
  EXPECT_EQ(0u, writer.QueuedForTesting());
  const std::string before = logger.Get();
  EXPECT_NE(std::string::npos, before.find("\n---\n\n"));

  write();  // Drops the oldest tail line: head and tail go out as one chunk.
  EXPECT_EQ(1u, writer.QueuedForTesting());
  for (int i = 1; i < tail_lines; ++i) write();  // Each drops a written line.
  EXPECT_EQ(1u, writer.QueuedForTesting());
  write();  // The first line never written is about to go.
  EXPECT_EQ(2u, writer.QueuedForTesting());
  for (int i = 0; i < 1000; ++i) write();

  logger.state.FinishWriteLogs();
  const std::string expected = logger.PlainCopy();
  EXPECT_EQ(100u * n, expected.size());
  std::vector<size_t> records;
  const std::string on_disk = DecodeLogFileWithBzip2Tool(TodayFile(logger.dir), &records);
  EXPECT_EQ(3u, records.size());
  EXPECT_TRUE(on_disk == expected) << "the file differs from what was logged";

  // Later lines stay in memory only.
  logger.state.Write(LoggerWrapper::Info, "after finish\n", "");
  EXPECT_NE(std::string::npos, logger.Get().find("after finish\n"));
  logger.state.FinishWriteLogs();
  EXPECT_TRUE(DecodeLogFileWithBzip2Tool(TodayFile(logger.dir)) == expected);
}

TEST(LoggerTest, TheTailStaysWithinItsLimitForLongLines) {
  TestLogger logger(false);
  logger.KeepPlainCopy();
  for (int i = 0; i < 3000; ++i) logger.state.Write(LoggerWrapper::Info, Text100(i), "");
  const std::string big(700 * 1024, 'b');
  for (int i = 0; i < 12; ++i) {
    logger.state.Write(LoggerWrapper::Info, big, "\n");
    const std::string log = logger.Get();
    const size_t tail_bytes = log.size() - log.find("\n---\n\n") - 6;
    EXPECT_LE(tail_bytes, LoggerState::kTailLimit);
  }
  // A single line above the limit is kept alone.
  const std::string huge(3 * 1024 * 1024, 'h');
  logger.state.Write(LoggerWrapper::Info, huge, "\n");
  logger.state.Write(LoggerWrapper::Info, "last\n", "");

  logger.state.FinishWriteLogs();
  EXPECT_TRUE(DecodeLogFileWithBzip2Tool(TodayFile(logger.dir)) == logger.PlainCopy());
}

TEST(LoggerTest, ConcurrentStatementsStayWholeAndInOrder) {
  TestLogger logger(true);
  constexpr int kLines = 20000;
  auto body = [&](char id) {
    for (int i = 0; i < kLines; ++i) {
      const std::string text = std::string(1, id) + std::to_string(i) + " " +
                               std::string(50 + i % 200, id) + "\n";
      logger.state.Write(i % 100 == 0 ? LoggerWrapper::Fail : LoggerWrapper::Info, text, "");
    }
  };
  std::thread a(body, 'a');
  std::thread b(body, 'b');
  a.join();
  b.join();
  logger.state.FinishWriteLogs();
  const std::string text = DecodeLogFileWithBzip2Tool(TodayFile(logger.dir));
  int next[2] = {0, 0};
  size_t pos = 0;
  int lines = 0;
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    ASSERT_NE(std::string::npos, end);
    const std::string line = text.substr(pos, end - pos);
    const size_t body_at = line.find("] ", 4) + 2;  // After the stamp.
    const char id = line[body_at];
    ASSERT_TRUE(id == 'a' || id == 'b') << line;
    const int i = std::stoi(line.substr(body_at + 1));
    EXPECT_EQ(next[id - 'a'], i);
    next[id - 'a'] = i + 1;
    EXPECT_EQ(line.substr(body_at), std::string(1, id) + std::to_string(i) + " " +
                                        std::string(50 + i % 200, id));
    pos = end + 1;
    ++lines;
  }
  EXPECT_EQ(2 * kLines, lines);
  EXPECT_EQ(2u * kLines / 100, logger.state.BufferedMetricsForTesting().size());
}

TEST(LoggerTest, BufferedMetricsKeepTheNewestDistinctTexts) {
  TestLogger logger(false);
  constexpr size_t kMax = LoggerState::kMaxBufferedMetrics;
  for (size_t i = 0; i < kMax + 5; ++i) {
    logger.state.Write(LoggerWrapper::Fail, "failed on item " + std::to_string(i), "\n");
  }
  // A text already buffered only counts up; it pushes nothing out.
  logger.state.Write(LoggerWrapper::Fail, "failed on item " + std::to_string(kMax + 4), "\n");
  const auto metrics = logger.state.BufferedMetricsForTesting();
  EXPECT_EQ(kMax, metrics.size());
  EXPECT_EQ(5u, logger.state.DroppedMetricsForTesting());
  EXPECT_EQ(0u, metrics.count({"fail_error", "failed_on_item_4"}));
  EXPECT_EQ(1u, metrics.count({"fail_error", "failed_on_item_5"}));
  EXPECT_EQ(2, metrics.at({"fail_error", "failed_on_item_" + std::to_string(kMax + 4)}));
}

TEST(LoggerTest, PlainLogFileIsOwnerOnly) {
  const mode_t previous = umask(0);
  TestLogger logger(false);
  const std::string path = logger.dir + "/plain.txt";
  testing_env::WriteFile(path, "older\n");
  ASSERT_EQ(0, chmod(path.c_str(), 0666));
  logger.KeepPlainCopy();
  const std::string saved = logger.dir + "/saved.txt";
  EXPECT_TRUE(LoggerWrapper::SaveCurrentLogToFile(saved).value());
  umask(previous);
  for (const std::string& file : {path, saved}) {
    struct stat info = {};
    ASSERT_EQ(0, stat(file.c_str(), &info)) << file;
    EXPECT_EQ(0600u, info.st_mode & 0777) << file;
  }
}

TEST(LoggerTest, MetricTextNormalisation) {
  const std::pair<std::string, std::string> kCases[] = {
      {"Cannot Open File.\r\n", "cannot_open_file"},
      {"Ends with dot. \n", "ends_with_dot._"},
      {"\xd0\x9e\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0 \xd0\xa1\xd0\xb5\xd1\x82\xd0\xb8\n",
       "\xd0\xbe\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0_\xd1\x81\xd0\xb5\xd1\x82\xd0\xb8"},
      {"Bad \xff Byte\n", "Bad_\xff_Byte"},  // Not UTF-8: only blanks change.
      {"...\n", ""},
  };
  for (const auto& [text, key] : kCases) {
    EXPECT_EQ(key, LoggerState::NormaliseMetricText(text)) << text;
  }
}

class RecordingTally : public TallyLoggerImplInterface {
 public:
  struct Sent {
    std::string name;
    int count;
    std::string add;
    bool operator==(const Sent&) const = default;
  };
  bool Open(const std::shared_ptr<URLProcessorFactory>&, const std::string&) override {
    return true;
  }
  void Close() override {}
  void SendToFerro(const std::vector<std::pair<std::string, std::string>>&) override {}
  void SendSSLFailed() override {}
  void SendMetric(const std::string& name, int count, const std::string& add) override {
    sent.push_back({name, count, add});
  }
  void SendMetricWithUtm(const std::string&, int, const std::string&) override {}
  void SetEmail(const std::string&) override {}
  void SetInstallationId(const std::string&) override {}
  void SetUtm(const std::string&) override {}
  void SetGCLID(const std::string&) override {}
  std::vector<Sent> sent;
};

TEST(LoggerTest, ErrorsAreCountedAndBufferedAsMetrics) {
  auto tally = std::make_shared<RecordingTally>();
  ASSERT_TRUE(TallyLogger::instance().Open(nullptr, tally, "test"));
  LoggerWrapper::SendBufferedMetrics();  // What earlier tests left.
  tally->sent.clear();
  LoggerWrapper::SendBufferedMetrics();
  EXPECT_TRUE(tally->sent.empty());

  int callbacks = 0;
  LoggerWrapper::SetCallbackOnError([&] { ++callbacks; });
  const unsigned int fails = LoggerWrapper::GetErrorCounterFails();
  const unsigned int fatals = LoggerWrapper::GetErrorCounterFatals();
  for (int i = 0; i < 2; ++i) LoggerWrapper(LoggerWrapper::Fatal) << "Disk Gone.";
  LoggerWrapper(LoggerWrapper::Fail) << "Retry Later";
  LoggerWrapper(LoggerWrapper::Info) << "Not counted";
  LoggerWrapper::SetCallbackOnError(nullptr);
  LoggerWrapper(LoggerWrapper::Fatal) << "No callback now";

  EXPECT_EQ(2, callbacks);
  EXPECT_EQ(fails + 1, LoggerWrapper::GetErrorCounterFails());
  EXPECT_EQ(fatals + 3, LoggerWrapper::GetErrorCounterFatals());
  LoggerWrapper::SendBufferedMetrics();
  const std::vector<RecordingTally::Sent> expected = {
      {"fail_error", 1, "retry_later"},
      {"fatal_error", 2, "disk_gone"},
      {"fatal_error", 1, "no_callback_now"},
  };
  EXPECT_EQ(expected, tally->sent);
  tally->sent.clear();
  LoggerWrapper::SendBufferedMetrics();
  EXPECT_TRUE(tally->sent.empty());

  LoggerWrapper::ResetErrorCounters();
  EXPECT_EQ(0u, LoggerWrapper::GetErrorCounterFails());
  EXPECT_EQ(0u, LoggerWrapper::GetErrorCounterFatals());
  TallyLogger::instance().Open(nullptr, nullptr, "");
}

TEST(LoggerTest, PlainFileAndSavedCopy) {
  const std::string dir = MakeTempDir("plain");
  const std::string path = dir + "/plain.log";
  LoggerWrapper::OpenFile(QString::fromStdString(path).toStdU16String());
  KLOG(Info) << "to the plain file";
  const std::string plain = testing_env::ReadFile(path);
  EXPECT_NE(std::string::npos, plain.find("T" + std::to_string(gettid()) + " to the plain file\n"));

  const unsigned int fails = LoggerWrapper::GetErrorCounterFails();
  LoggerWrapper::OpenFile(u"/nonexistent-dir/plain.log");
  EXPECT_EQ(fails + 1, LoggerWrapper::GetErrorCounterFails());
  KLOG(Info) << "not in the plain file";
  EXPECT_EQ(plain, testing_env::ReadFile(path));

  EXPECT_TRUE(LoggerWrapper::SaveCurrentLogToFile(dir + "/saved.log").value());
  std::string log;
  LoggerWrapper::Get(&log);
  const std::string saved = testing_env::ReadFile(dir + "/saved.log");
  EXPECT_EQ(0, log.compare(0, saved.size(), saved));
  EXPECT_NE(std::string::npos,
            saved.find("Failed to open log file at \"/nonexistent-dir/plain.log\". errno=2.\n"));
  EXPECT_FALSE(LoggerWrapper::SaveCurrentLogToFile("/nonexistent-dir/saved.log").value());
}

}  // namespace
