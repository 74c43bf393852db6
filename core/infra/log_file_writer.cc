#include "core/infra/log_file_writer.h"

#include <bzlib.h>

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <chrono>
#include <cstdio>

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

void LogFileWriter::WriteChunk(const std::string& chunk, bool cleanup) {
  const QString directory = options_.directory();
  if (!QDir().mkpath(directory)) return;
  if (cleanup && !Cleanup(directory)) {
    stop_ = true;
    return;
  }
  const QString name = directory + QLatin1Char('/') +
                       QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) +
                       QStringLiteral(".log");
  FILE* file = std::fopen(QFile::encodeName(name).constData(), "ab");
  if (file == nullptr) return;
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::fwrite(kRecordMarker, 1, kRecordMarkerSize, file);
  // Sized by bzip2's documented bound (input + 1% + 600 bytes), so every
  // chunk fits: log text must not be lost for want of buffer.
  const size_t bound = chunk.size() + chunk.size() / 100 + 600;
  if (compressed_.size() < bound) compressed_.resize(bound);
  unsigned int compressed_size = static_cast<unsigned int>(compressed_.size());
  const int rc = BZ2_bzBuffToBuffCompress(
      compressed_.data(), &compressed_size, const_cast<char*>(chunk.data()),
      static_cast<unsigned int>(chunk.size()), kBlockSize, 0, kWorkFactor);
  if (rc == BZ_OK) std::fwrite(compressed_.data(), 1, compressed_size, file);
  std::fclose(file);
  // Do not keep a buffer for a rare huge chunk.
  if (compressed_.size() > (4u << 20)) std::vector<char>().swap(compressed_);
}
