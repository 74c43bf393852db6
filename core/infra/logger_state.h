#ifndef KORVO_CORE_INFRA_LOGGER_STATE_H_
#define KORVO_CORE_INFRA_LOGGER_STATE_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <deque>
#include <utility>

#include "core/infra/log_file_writer.h"
#include "core/infra/logger.h"

// The logger behind LoggerWrapper's static functions. One instance serves the
// process; tests make their own.
class LoggerState {
 public:
  static constexpr size_t kHeadLimit = 0x40000;
  static constexpr size_t kTailLimit = 0x200000;
  // Distinct failure texts kept until the application sends them; beyond
  // that the oldest goes. A loop failing on ever new names (a path in the
  // text) must not grow the process without end.
  static constexpr size_t kMaxBufferedMetrics = 1000;

  using MetricKey = std::pair<std::string, std::string>;

  explicit LoggerState(LogFileWriter::Options writer_options);
  ~LoggerState();
  LoggerState(const LoggerState&) = delete;
  LoggerState& operator=(const LoggerState&) = delete;

  // Stores one line whose text is |first| followed by |second|.
  void Write(LoggerWrapper::LogType type, std::string_view first,
             std::string_view second);

  // Returns 0, or the errno of the failed open.
  int OpenFile(const std::string& utf8_path);
  void FinishWriteLogs();
  void Get(std::string* out);
  void SendBufferedMetrics();
  void SetCallbackOnError(std::function<void()> callback);
  void SetEnableCout(bool enable) { cout_enabled_ = enable; }
  bool IsCoutEnabled() const { return cout_enabled_; }
  void SetLogProcessId(bool enable) { log_process_id_ = enable; }

  std::map<MetricKey, int32_t> BufferedMetricsForTesting();
  // Buffered metrics dropped to keep within kMaxBufferedMetrics, ever.
  uint64_t DroppedMetricsForTesting();
  LogFileWriter& writer() { return writer_; }

  // Lower-cases |text| as the text helpers' ToLower does (without logging),
  // turns blanks into '_' and strips trailing '.', '\r' and '\n'.
  static std::string NormaliseMetricText(std::string_view text);

 private:
  // Appends the level tag, time stamp and process id of a line to |out|.
  size_t FormatPrefix(LoggerWrapper::LogType type, char* out);
  void StoreInMemory(std::string_view prefix, std::string_view first,
                     std::string_view second);
  // Makes sure the oldest tail line has reached the writer before it is
  // dropped.
  void HandOffBeforeDrop(size_t oldest_size);
  std::string TailFrom(int64_t offset) const;

  std::atomic<std::shared_ptr<const std::function<void()>>> error_callback_;
  std::atomic<bool> cout_enabled_{false};
  std::atomic<bool> log_process_id_{false};

  std::mutex mutex_;
  FILE* file_ = nullptr;
  std::string head_;
  std::list<std::string> tail_;
  size_t tail_bytes_ = 0;
  time_t cached_second_ = -1;
  char cached_stamp_[32] = {};
  size_t cached_stamp_size_ = 0;
  int64_t process_id_ = 0;
  bool process_id_cached_ = false;
  std::map<MetricKey, int32_t> buffered_metrics_;
  // The entries of buffered_metrics_, oldest first.
  std::deque<std::map<MetricKey, int32_t>::iterator> metrics_order_;
  uint64_t dropped_metrics_ = 0;
  LogFileWriter writer_;
  int64_t written_offset_ = 0;
  bool head_written_ = false;
};

#endif  // KORVO_CORE_INFRA_LOGGER_STATE_H_
