#ifndef KORVO_CORE_INFRA_LOG_FILE_WRITER_H_
#define KORVO_CORE_INFRA_LOG_FILE_WRITER_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QString;

namespace utils {
class Thread;
}

// Writes chunks of log text to the dated log files, one bzip2 record per
// chunk, on a thread of its own at the lowest priority. Enqueue never waits
// for the disk.
class LogFileWriter {
 public:
  // "\n" + 32 upper-case hex digits + "\n": the start of every record.
  static constexpr char kRecordMarker[] = "\n59AA0889CDD24978BE59BDD2C2B7CB50\n";
  static constexpr size_t kRecordMarkerSize = sizeof(kRecordMarker) - 1;
  static constexpr int kCleanupPeriod = 5;
  static constexpr int kMaxLogFiles = 7;
  static constexpr int64_t kMaxLogBytes = 0x6400000;

  struct Options {
    // The folder of the log files; by default the application data location
    // followed by "/logs", asked anew for every chunk.
    std::function<QString()> directory;
    // False leaves the thread unstarted: chunks then wait in the queue until
    // Stop() writes them. For tests.
    bool start_thread = true;
  };

  explicit LogFileWriter(Options options);
  // Abandon()s the writer.
  ~LogFileWriter();
  LogFileWriter(const LogFileWriter&) = delete;
  LogFileWriter& operator=(const LogFileWriter&) = delete;

  // Queues |chunk| for writing; dropped once the writer has stopped.
  void Enqueue(std::string chunk);
  // Stops the thread once it has taken what it is working on, then writes
  // every chunk still queued, in order, on the calling thread.
  void Stop();
  // Stops the thread without writing what is still queued.
  void Abandon();
  bool stopped() const { return stop_.load(); }
  // Chunks waiting for the thread.
  size_t QueuedForTesting();

  // Appends one record with |chunk| to today's file (created readable by
  // its owner only), removing old files first when |cleanup| is set. Runs on
  // the writer thread (or in Stop()). False when the record is not on disk
  // whole; the failure is reported on the debugger output and stderr.
  bool WriteChunk(const std::string& chunk, bool cleanup);

  static QString DefaultDirectory();

 private:
  void Loop();
  // Removes the oldest files while there are more than kMaxLogFiles or they
  // hold more than kMaxLogBytes. False when a file could not be removed.
  bool Cleanup(const QString& directory);
  static void ReportFailure(const char* what, const QString& path, int error);

  Options options_;
  std::mutex queue_mutex_;
  std::condition_variable queue_signal_;
  std::vector<std::string> queue_;
  int pending_signals_ = 0;  // The counting semaphore.
  bool loop_started_ = false;
  bool loop_exited_ = false;
  std::atomic<bool> stop_{false};
  std::vector<char> compressed_;  // Used by one thread at a time.
  std::unique_ptr<utils::Thread> thread_;
};

#endif  // KORVO_CORE_INFRA_LOG_FILE_WRITER_H_
