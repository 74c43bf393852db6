#include "core/infra/log_file_writer.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QString>
#include <random>

#include "core/infra/log_file_reader.h"
#include "tests/support/log_files.h"
#include "tests/support/test_env.h"

namespace {

using testing_env::DecodeLogFileWithBzip2Tool;
using testing_env::MakeTempDir;

LogFileWriter::Options InDir(const std::string& dir, bool start_thread) {
  return {[dir] { return QString::fromStdString(dir); }, start_thread};
}

std::string Today(const std::string& dir) {
  return dir + "/" + QDate::currentDate().toString("yyyy-MM-dd").toStdString() + ".log";
}

QStringList LogFiles(const std::string& dir) {
  return QDir(QString::fromStdString(dir))
      .entryList(QStringList{"*.log"}, QDir::Files, QDir::Name);
}

TEST(LogFileWriterTest, EachChunkIsOneRecord) {
  const std::string dir = MakeTempDir("writer") + "/nested/logs";
  LogFileWriter writer(InDir(dir, false));
  writer.WriteChunk("first chunk\n", false);
  writer.WriteChunk("second chunk\n", false);
  std::vector<size_t> records;
  EXPECT_EQ("first chunk\nsecond chunk\n", DecodeLogFileWithBzip2Tool(Today(dir), &records));
  EXPECT_EQ(2u, records.size());
  const std::string bytes = testing_env::ReadFile(Today(dir));
  EXPECT_EQ(0, bytes.compare(0, 34, testing_env::kLogMarker));
  EXPECT_EQ(0, bytes.compare(34, 3, "BZh"));
  EXPECT_EQ('5', bytes[37]);  // Block size 5.
}

TEST(LogFileWriterTest, IncompressibleChunkIsWrittenWhole) {
  const std::string dir = MakeTempDir("writer");
  LogFileWriter writer(InDir(dir, false));
  std::mt19937 random(7);
  std::string noise(3 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  writer.WriteChunk(noise, false);
  EXPECT_TRUE(DecodeLogFileWithBzip2Tool(Today(dir)) == noise);
}

TEST(LogFileWriterTest, ThreadWritesQueuedChunksInOrder) {
  const std::string dir = MakeTempDir("writer");
  LogFileWriter writer(InDir(dir, true));
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    const std::string chunk = "chunk " + std::to_string(i) + "\n";
    writer.Enqueue(chunk);
    expected += chunk;
  }
  writer.Stop();
  EXPECT_TRUE(writer.stopped());
  writer.Enqueue("dropped after stop\n");
  writer.Stop();
  EXPECT_EQ(expected, DecodeLogFileWithBzip2Tool(Today(dir)));
}

TEST(LogFileWriterTest, CleanupKeepsSevenFilesOldestFirst) {
  const std::string dir = MakeTempDir("writer");
  for (int day = 1; day <= 9; ++day) {
    testing_env::WriteFile(dir + "/2024-01-0" + std::to_string(day) + ".log", "x");
  }
  testing_env::WriteFile(dir + "/notes.txt", "not a log");
  QDir().mkpath(QString::fromStdString(dir + "/0000-folder.log"));
  LogFileWriter writer(InDir(dir, false));
  writer.WriteChunk("kept\n", true);
  const QStringList files = LogFiles(dir);
  ASSERT_EQ(8, files.size());  // Seven old ones, then today's.
  EXPECT_EQ("2024-01-03.log", files.front());
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir + "/notes.txt")));
  EXPECT_TRUE(QDir(QString::fromStdString(dir + "/0000-folder.log")).exists());
  EXPECT_FALSE(writer.stopped());
}

TEST(LogFileWriterTest, CleanupKeepsTheTotalSizeBounded) {
  const std::string dir = MakeTempDir("writer");
  for (int day = 1; day <= 3; ++day) {
    const std::string path = dir + "/2024-02-0" + std::to_string(day) + ".log";
    testing_env::WriteFile(path, "");
    ASSERT_EQ(0, truncate(path.c_str(), 40 << 20));  // Sparse: no disk used.
  }
  LogFileWriter writer(InDir(dir, false));
  writer.WriteChunk("no cleanup\n", false);
  EXPECT_EQ(4, LogFiles(dir).size());
  writer.WriteChunk("cleanup\n", true);
  const QStringList files = LogFiles(dir);
  ASSERT_EQ(3, files.size());
  EXPECT_EQ("2024-02-02.log", files.front());
}

TEST(LogFileWriterTest, UnusableDirectoryLosesOnlyThatChunk) {
  const std::string base = MakeTempDir("writer");
  testing_env::WriteFile(base + "/blocker", "a file where the folder should be");
  std::string dir = base + "/blocker/logs";
  LogFileWriter writer({[&dir] { return QString::fromStdString(dir); }, false});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.WriteChunk("lost\n", true));
  EXPECT_NE(std::string::npos,
            testing::internal::GetCapturedStderr().find("Log writer: cannot create the folder"));
  EXPECT_FALSE(writer.stopped());
  dir = base + "/logs";
  EXPECT_TRUE(writer.WriteChunk("kept\n", false));
  EXPECT_EQ("kept\n", DecodeLogFileWithBzip2Tool(Today(dir)));
}

TEST(LogFileWriterTest, AFileThatCannotBeOpenedIsReportedOnce) {
  const std::string dir = MakeTempDir("writer");
  QDir().mkpath(QString::fromStdString(Today(dir)));  // A folder where the file goes.
  LogFileWriter writer(InDir(dir, false));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.WriteChunk("lost\n", false));
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_EQ(0u, report.find("Log writer: cannot open \"" + Today(dir) + "\": ")) << report;
  EXPECT_EQ(report.size() - 1, report.find('\n')) << report;
}

TEST(LogFileWriterTest, LogFilesAreOwnerOnlyWhateverTheUmask) {
  const std::string dir = MakeTempDir("writer");
  const mode_t previous = umask(0);
  LogFileWriter writer(InDir(dir, false));
  EXPECT_TRUE(writer.WriteChunk("private\n", false));
  umask(previous);
  struct stat info = {};
  ASSERT_EQ(0, stat(Today(dir).c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777);
  // A file of an older version is narrowed on the next record.
  ASSERT_EQ(0, chmod(Today(dir).c_str(), 0644));
  EXPECT_TRUE(writer.WriteChunk("more\n", false));
  ASSERT_EQ(0, stat(Today(dir).c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777);
  EXPECT_EQ("private\nmore\n", DecodeLogFileWithBzip2Tool(Today(dir)));
}

std::string Bzip2(const std::string& text) {
  std::string out(text.size() + text.size() / 100 + 600, '\0');
  unsigned int size = static_cast<unsigned int>(out.size());
  EXPECT_EQ(BZ_OK, BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(text.data()),
                                            static_cast<unsigned int>(text.size()), 9, 0, 30));
  out.resize(size);
  return out;
}

TEST(LogFileReaderTest, ARecordOverTheLimitIsDamagedAndTheNextIsRead) {
  const std::string marker(LogFileWriter::kRecordMarker, LogFileWriter::kRecordMarkerSize);
  constexpr size_t kLimit = 1 << 20;
  const std::string bomb = Bzip2(std::string(8 * kLimit, 'z'));
  ASSERT_LT(bomb.size(), 1000u);  // what makes it a bomb
  struct Case {
    std::string file;
    std::string text;
    size_t damaged;
  } const kCases[] = {
      {marker + Bzip2("a\n") + marker + bomb + marker + Bzip2("b\n"), "a\nb\n", 1},
      {marker + bomb + marker + bomb, "", 2},
      {marker + Bzip2(std::string(kLimit, 'x')), std::string(kLimit, 'x'), 0},
      {marker + Bzip2(std::string(kLimit + 1, 'x')), "", 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file.size());
    std::string text;
    std::vector<DamagedLogRecord> damaged;
    EXPECT_EQ(c.damaged == 0, ReadLogFile(c.file, &text, &damaged, kLimit));
    EXPECT_TRUE(text == c.text);
    ASSERT_EQ(c.damaged, damaged.size());
    for (const DamagedLogRecord& record : damaged) {
      EXPECT_EQ("record text over 1048576 bytes", record.reason);
    }
  }
  // The default limit takes a record of the largest chunk the logger hands
  // over with room to spare.
  std::string text;
  std::vector<DamagedLogRecord> damaged;
  const std::string chunk(3 << 20, 'y');
  EXPECT_TRUE(ReadLogFile(marker + Bzip2(chunk), &text, &damaged));
  EXPECT_TRUE(text == chunk);
}

}  // namespace
