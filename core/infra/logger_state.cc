#include "core/infra/logger_state.h"

#include <QString>
#include <algorithm>
#include <cstring>

#include "core/infra/tally_logger.h"
#include "core/platform/platform.h"
#include "core/platform/utf_codec.h"

namespace {

const char* TagOf(LoggerWrapper::LogType type) {
  switch (type) {
    case LoggerWrapper::Info: return "[I] ";
    case LoggerWrapper::Verbose: return "[V] ";
    case LoggerWrapper::Special: return "[S] ";
    case LoggerWrapper::Fail: return "[W] ";
    case LoggerWrapper::Fatal: return "[E] ";
  }
  return "[INVALID] ";
}

char* AppendTwoDigits(char* out, int value) {
  if (value >= 100) {
    return out + std::snprintf(out, 12, "%d", value);
  }
  out[0] = static_cast<char>('0' + value / 10);
  out[1] = static_cast<char>('0' + value % 10);
  return out + 2;
}

// A recycled tail element keeps its capacity; one that held a huge line is
// replaced rather than kept at that size.
void AssignLine(std::string* element, std::string_view prefix,
                std::string_view first, std::string_view second) {
  const size_t size = prefix.size() + first.size() + second.size();
  if (element->capacity() > 4096 && element->capacity() > 4 * size) {
    std::string().swap(*element);
  }
  element->clear();
  element->reserve(size);
  element->append(prefix).append(first).append(second);
}

}  // namespace

LoggerState::LoggerState(LogFileWriter::Options writer_options)
    : writer_(std::move(writer_options)) {
  head_.reserve(kHeadLimit);
}

LoggerState::~LoggerState() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

void LoggerState::SetCallbackOnError(std::function<void()> callback) {
  error_callback_.store(
      std::make_shared<const std::function<void()>>(std::move(callback)));
}

std::string LoggerState::NormaliseMetricText(std::string_view text) {
  std::string key;
  if (platform::IsAscii(text)) {
    key.assign(text);
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  } else {
    // The text helpers' ToLower logs when the text is not UTF-8, and logging
    // from here would recurse; a text that does not convert stays as it is,
    // which is what ToLower answers after its log line.
    WString wide;
    size_t error_at = 0;
    if (!platform::Utf8ToUtf16(text, &wide, &error_at)) {
      key.assign(text);
    } else {
      const QString nfc = QString::fromUtf16(wide.data(), static_cast<int>(wide.size()))
                              .normalized(QString::NormalizationForm_C);
      const QString lower = nfc.toLower();
      if (lower == nfc) {
        key.assign(text);
      } else {
        const QByteArray utf8 = lower.toUtf8();
        key.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
      }
    }
  }
  std::replace(key.begin(), key.end(), ' ', '_');
  while (!key.empty() &&
         (key.back() == '.' || key.back() == '\n' || key.back() == '\r')) {
    key.pop_back();
  }
  return key;
}

size_t LoggerState::FormatPrefix(LoggerWrapper::LogType type, char* out) {
  char* p = out;
  const char* tag = TagOf(type);
  const size_t tag_size = std::strlen(tag);
  std::memcpy(p, tag, tag_size);
  p += tag_size;

  const time_t now = std::time(nullptr);
  if (now != cached_second_) {
    struct tm local;
    if (localtime_r(&now, &local) != nullptr) {
      char* s = cached_stamp_;
      *s++ = '[';
      s = AppendTwoDigits(s, local.tm_hour);
      *s++ = ':';
      s = AppendTwoDigits(s, local.tm_min);
      *s++ = ':';
      s = AppendTwoDigits(s, local.tm_sec);
      *s++ = ' ';
      s = AppendTwoDigits(s, local.tm_mday);
      *s++ = '.';
      s = AppendTwoDigits(s, local.tm_mon + 1);
      *s++ = ']';
      *s++ = ' ';
      cached_stamp_size_ = static_cast<size_t>(s - cached_stamp_);
      cached_second_ = now;
    }
  }
  std::memcpy(p, cached_stamp_, cached_stamp_size_);
  p += cached_stamp_size_;

  if (log_process_id_.load(std::memory_order_relaxed)) {
    if (!process_id_cached_) {
      process_id_ = Platform::Default()->ProcessId();
      process_id_cached_ = true;
    }
    p += std::snprintf(p, 32, " P%lld ", static_cast<long long>(process_id_));
  }
  return static_cast<size_t>(p - out);
}

void LoggerState::Write(LoggerWrapper::LogType type, std::string_view first,
                        std::string_view second) {
  if (type == LoggerWrapper::Fatal) {
    const auto callback = error_callback_.load();
    if (callback && *callback) (*callback)();
  }
  // Computed before the lock: it needs no shared state.
  const char* metric_name = nullptr;
  std::string metric_text;
  if (type == LoggerWrapper::Fail || type == LoggerWrapper::Fatal) {
    metric_name = type == LoggerWrapper::Fail ? "fail_error" : "fatal_error";
    std::string text;
    text.reserve(first.size() + second.size());
    text.append(first).append(second);
    metric_text = NormaliseMetricText(text);
  }

  char prefix_buffer[96];
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string_view prefix(prefix_buffer, FormatPrefix(type, prefix_buffer));

  if (metric_name != nullptr) {
    const auto [entry, added] =
        buffered_metrics_.try_emplace(MetricKey(metric_name, std::move(metric_text)), 0);
    ++entry->second;
    if (added) {
      metrics_order_.push_back(entry);
      if (metrics_order_.size() > kMaxBufferedMetrics) {
        buffered_metrics_.erase(metrics_order_.front());
        metrics_order_.pop_front();
        ++dropped_metrics_;
      }
    }
  }
  const bool cout = cout_enabled_.load(std::memory_order_relaxed);
  if (cout) {
    std::fwrite(prefix.data(), 1, prefix.size(), stdout);
    std::fwrite(first.data(), 1, first.size(), stdout);
    std::fwrite(second.data(), 1, second.size(), stdout);
    std::fflush(stdout);
  }
  if (file_ != nullptr) {
    std::fwrite(prefix.data(), 1, prefix.size(), file_);
    std::fwrite(first.data(), 1, first.size(), file_);
    std::fwrite(second.data(), 1, second.size(), file_);
  }
  if (cout) {
    std::string line;
    line.append(prefix).append(first).append(second);
    Platform::Default()->WriteDebuggerOutput(line);
  }
  StoreInMemory(prefix, first, second);
}

void LoggerState::StoreInMemory(std::string_view prefix, std::string_view first,
                                std::string_view second) {
  const size_t size = prefix.size() + first.size() + second.size();
  if (head_.size() < kHeadLimit) {
    head_.append(prefix).append(first).append(second);
    return;
  }
  if (tail_bytes_ + size <= kTailLimit) {
    tail_.emplace_back();
    AssignLine(&tail_.back(), prefix, first, second);
    tail_bytes_ += size;
    return;
  }
  // Drop the oldest lines until the new one fits, reusing the node of the
  // last one dropped. More than one goes only when the new line is longer
  // than the oldest: the tail stays within its limit.
  std::list<std::string> spare;
  while (!tail_.empty() && tail_bytes_ + size > kTailLimit) {
    const size_t oldest = tail_.front().size();
    HandOffBeforeDrop(oldest);
    tail_bytes_ -= oldest;
    spare.splice(spare.begin(), tail_, tail_.begin());
  }
  if (spare.empty()) spare.emplace_back();
  tail_.splice(tail_.end(), spare, spare.begin());
  AssignLine(&tail_.back(), prefix, first, second);
  tail_bytes_ += size;
}

std::string LoggerState::TailFrom(int64_t offset) const {
  size_t skip = static_cast<size_t>(std::max<int64_t>(offset, 0));
  std::string chunk;
  chunk.reserve(tail_bytes_ > skip ? tail_bytes_ - skip : 0);
  for (const std::string& line : tail_) {
    if (skip >= line.size()) {
      skip -= line.size();
      continue;
    }
    chunk.append(line, skip, std::string::npos);
    skip = 0;
  }
  return chunk;
}

void LoggerState::HandOffBeforeDrop(size_t oldest_size) {
  if (!head_written_) {
    std::string chunk;
    chunk.reserve(head_.size() + tail_bytes_);
    chunk.append(head_);
    for (const std::string& line : tail_) chunk.append(line);
    writer_.Enqueue(std::move(chunk));
    written_offset_ = static_cast<int64_t>(tail_bytes_);
    head_written_ = true;
  }
  const int64_t d = written_offset_ - static_cast<int64_t>(oldest_size);
  if (d >= 0) {
    written_offset_ = d;
    return;
  }
  writer_.Enqueue(TailFrom(written_offset_));
  written_offset_ = static_cast<int64_t>(tail_bytes_ - oldest_size);
  head_written_ = true;
}

void LoggerState::FinishWriteLogs() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string chunk;
  if (head_written_) {
    chunk = TailFrom(written_offset_);
  } else {
    chunk.reserve(head_.size() + tail_bytes_);
    chunk.append(head_);
    for (const std::string& line : tail_) chunk.append(line);
  }
  // Everything held now has been handed over.
  head_written_ = true;
  written_offset_ = static_cast<int64_t>(tail_bytes_);
  if (!chunk.empty()) writer_.Enqueue(std::move(chunk));
  writer_.Stop();
}

void LoggerState::Get(std::string* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  out->reserve(out->size() + head_.size() + tail_bytes_ + 10);
  out->append(head_);
  if (tail_.empty()) return;
  out->append("\n---\n\n");
  for (const std::string& line : tail_) out->append(line);
}

int LoggerState::OpenFile(const std::string& utf8_path) {
  FILE* file = Platform::Default()->OpenOwnerOnlyFile(utf8_path, /*append=*/false);
  const int error = file == nullptr ? errno : 0;
  if (file != nullptr) std::setvbuf(file, nullptr, _IONBF, 0);
  FILE* previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    previous = file_;
    file_ = file;
  }
  if (previous != nullptr) std::fclose(previous);
  return error;
}

void LoggerState::SendBufferedMetrics() {
  std::map<MetricKey, int32_t> metrics;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    metrics.swap(buffered_metrics_);
    metrics_order_.clear();
  }
  // Sent outside the lock: the sender may log.
  for (const auto& [key, count] : metrics) {
    TallyLogger::instance().SendMetric(key.first, count, key.second);
  }
}

uint64_t LoggerState::DroppedMetricsForTesting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_metrics_;
}

std::map<LoggerState::MetricKey, int32_t> LoggerState::BufferedMetricsForTesting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return buffered_metrics_;
}
