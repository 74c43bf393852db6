#include "core/infra/log_file_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QString>
#include <random>

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
  writer.WriteChunk("lost\n", true);
  EXPECT_FALSE(writer.stopped());
  dir = base + "/logs";
  writer.WriteChunk("kept\n", false);
  EXPECT_EQ("kept\n", DecodeLogFileWithBzip2Tool(Today(dir)));
}

}  // namespace
