#include "core/infra/log_file_writer.h"

#include <bzlib.h>

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "core/infra/exception_catch_wrapper.h"
#include "core/infra/thread.h"
#include "core/platform/platform.h"

namespace {

// bzip2 settings of every record.
constexpr int kBlockSize = 5;
constexpr int kWorkFactor = 30;
// How long the constructor waits for the writer thread to come up.
constexpr std::chrono::seconds kStartWait{2};

}  // namespace

LogFileWriter::LogFileWriter(Options options) : options_(std::move(options)) {
  if (!options_.directory) options_.directory = &LogFileWriter::DefaultDirectory;
  if (!options_.start_thread) return;
  thread_ = std::make_unique<utils::Thread>(
      utils::ExceptionCatchWrapper([this] { Loop(); }, "ThreadWriter"));
  thread_->setObjectName(QStringLiteral("Logs writer"));
  thread_->start(QThread::LowestPriority);
  // Qt sets a new thread up (its event dispatcher looks at the application
  // object) before the loop runs. Started at load, on a busy machine that
  // set-up could otherwise still be under way while a short-lived process
  // destroys its QCoreApplication. A bounded wait: a thread that never
  // starts must not hang the process.
  std::unique_lock<std::mutex> lock(queue_mutex_);
  queue_signal_.wait_for(lock, kStartWait, [this] { return loop_started_; });
}

LogFileWriter::~LogFileWriter() { Abandon(); }

void LogFileWriter::Abandon() {
  if (!thread_) return;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    stop_ = true;
    ++pending_signals_;
  }
  queue_signal_.notify_one();
  thread_->wait();
}

QString LogFileWriter::DefaultDirectory() {
  return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
         QStringLiteral("/logs");
}

void LogFileWriter::Enqueue(std::string chunk) {
  if (stop_.load()) return;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back(std::move(chunk));
    ++pending_signals_;
  }
  queue_signal_.notify_one();
}

void LogFileWriter::Stop() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    stop_ = true;
    ++pending_signals_;
  }
  queue_signal_.notify_one();
  if (thread_) {
    thread_->wait();
    // QThread::wait() gives no ordering the thread sanitizer can see; the
    // loop's exit under the queue mutex does.
    std::unique_lock<std::mutex> lock(queue_mutex_);
    queue_signal_.wait(lock, [this] { return loop_exited_ || !thread_->isRunning(); });
  }
  std::vector<std::string> rest;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    rest.swap(queue_);
  }
  for (const std::string& chunk : rest) WriteChunk(chunk, false);
}

size_t LogFileWriter::QueuedForTesting() {
  std::lock_guard<std::mutex> lock(queue_mutex_);
  return queue_.size();
}

void LogFileWriter::Loop() {
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    loop_started_ = true;
  }
  queue_signal_.notify_all();
  Platform::Default()->SetCurrentThreadName("Logs writer");
  int counter = 0;
  for (;;) {
    std::string chunk;
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      queue_signal_.wait(lock, [this] { return pending_signals_ > 0; });
      --pending_signals_;
      if (stop_.load()) break;
      if (queue_.empty()) continue;
      chunk = std::move(queue_.front());
      queue_.erase(queue_.begin());
    }
    WriteChunk(chunk, counter >= kCleanupPeriod);
    counter = counter < kCleanupPeriod ? counter + 1 : 0;
  }
  std::lock_guard<std::mutex> lock(queue_mutex_);
  loop_exited_ = true;
  queue_signal_.notify_all();
}

bool LogFileWriter::Cleanup(const QString& directory) {
  QFileInfoList files = QDir(directory).entryInfoList(
      QStringList{QStringLiteral("*.log")}, QDir::Files, QDir::Name);
  int64_t total = 0;
  for (const QFileInfo& file : files) total += file.size();
  int count = files.size();
  for (const QFileInfo& file : files) {
    if (count <= kMaxLogFiles && total <= kMaxLogBytes) break;
    total -= file.size();
    --count;
    if (!QFile::remove(file.absoluteFilePath())) return false;
  }
  return true;
}

bool LogFileWriter::WriteChunk(const std::string& chunk, bool cleanup) {
  const QString directory = options_.directory();
  if (!QDir().mkpath(directory)) {
    ReportFailure("cannot create the folder", directory, 0);
    return false;
  }
  if (cleanup && !Cleanup(directory)) {
    ReportFailure("cannot remove old files in", directory, 0);
    stop_ = true;
    return false;
  }
  // The whole record, marker first, is ready before the file is touched: a
  // failed compression must not leave a marker without its data.
  // Sized by bzip2's documented bound (input + 1% + 600 bytes), so every
  // chunk fits: log text must not be lost for want of buffer.
  const size_t bound = kRecordMarkerSize + chunk.size() + chunk.size() / 100 + 600;
  if (bound - kRecordMarkerSize > 0xFFFFFFFFu) {
    ReportFailure("chunk too large for one record in", directory, 0);
    return false;
  }
  if (compressed_.size() < bound) compressed_.resize(bound);
  std::copy(kRecordMarker, kRecordMarker + kRecordMarkerSize, compressed_.begin());
  unsigned int compressed_size = static_cast<unsigned int>(compressed_.size() - kRecordMarkerSize);
  const int rc = BZ2_bzBuffToBuffCompress(
      compressed_.data() + kRecordMarkerSize, &compressed_size, const_cast<char*>(chunk.data()),
      static_cast<unsigned int>(chunk.size()), kBlockSize, 0, kWorkFactor);
  const size_t record_size = kRecordMarkerSize + compressed_size;
  bool written = false;
  const QString name = directory + QLatin1Char('/') +
                       QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) +
                       QStringLiteral(".log");
  if (rc != BZ_OK) {
    ReportFailure(("bzip2 error " + std::to_string(rc) + " for").c_str(), name, 0);
  } else if (FILE* file = Platform::Default()->OpenOwnerOnlyFile(
                 QFile::encodeName(name).toStdString(), /*append=*/true)) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    const size_t put = std::fwrite(compressed_.data(), 1, record_size, file);
    const int error = put == record_size ? 0 : errno;
    const bool closed = std::fclose(file) == 0;
    written = put == record_size && closed;
    if (!written) ReportFailure("cannot write", name, error != 0 ? error : errno);
  } else {
    ReportFailure("cannot open", name, errno);
  }
  // Do not keep a buffer for a rare huge chunk.
  if (compressed_.size() > (4u << 20)) std::vector<char>().swap(compressed_);
  return written;
}

void LogFileWriter::ReportFailure(const char* what, const QString& path, int error) {
  // The logger cannot log its own failure through itself: one line to the
  // debugger output and to stderr instead.
  std::string line = "Log writer: ";
  line.append(what).append(" \"").append(QFile::encodeName(path).constData()).append("\"");
  if (error != 0) line.append(": ").append(Platform::Default()->ErrorText(error));
  Platform::Default()->WriteDebuggerOutput(line);
  line.push_back('\n');
  std::fputs(line.c_str(), stderr);
}
