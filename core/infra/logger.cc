#include "core/infra/logger.h"

#include <cerrno>
#include <exception>
#include <memory>
#include <vector>

#include "core/infra/logger_state.h"
#include "core/platform/platform.h"
#include "core/platform/utf_codec.h"

std::atomic<unsigned int> LoggerWrapper::count_fails_{0};
std::atomic<unsigned int> LoggerWrapper::count_fatals_{0};

namespace {

// Never destroyed, so that statements made by other static destructors at
// exit still have a logger; those lines stay in memory.
LoggerState& Logger() {
  static LoggerState* const state = new LoggerState(LogFileWriter::Options{});
  return *state;
}

// Starts the logger (and its writer thread) when the library is loaded, and
// stops the writer thread at unload. What was not handed to FinishWriteLogs
// by then is not written.
struct LoggerLifetime {
  LoggerLifetime() { Logger(); }
  ~LoggerLifetime() { Logger().writer().Abandon(); }
} g_logger_lifetime;

// The streams of one thread, reused by its statements; a statement made while
// another one is being built (an operator<< that logs) takes the next one.
struct StreamPool {
  ~StreamPool() { destroyed = true; }
  std::vector<std::unique_ptr<FastOStringStream<216>>> streams;
  size_t depth = 0;
  // Trivially destructible, so it can still be read after the pool is gone.
  static thread_local bool destroyed;
};
thread_local bool StreamPool::destroyed = false;
thread_local StreamPool t_pool;

}  // namespace

namespace logging_internal {

uint64_t CurrentThreadId() {
  thread_local const uint64_t id = Platform::Default()->CurrentThreadId();
  return id;
}

}  // namespace logging_internal

LoggerWrapper::LoggerWrapper(LogType type) : type_(type) {
  if (StreamPool::destroyed) {
    stream_ = new FastOStringStream<216>();
    owned_ = true;
    return;
  }
  StreamPool& pool = t_pool;
  if (pool.depth == pool.streams.size()) {
    pool.streams.push_back(std::make_unique<FastOStringStream<216>>());
  }
  stream_ = pool.streams[pool.depth++].get();
  stream_->Reset();
}

LoggerWrapper::~LoggerWrapper() {
  stream_->rdbuf()->sputc('\n');
  if (type_ == Fail) {
    ++count_fails_;
  } else if (type_ == Fatal) {
    ++count_fatals_;
  }
  WriteToLogFile(type_, stream_->buffer());
  if (owned_) {
    delete stream_;
  } else {
    --t_pool.depth;
  }
}

void LoggerWrapper::WriteToLogFile(LogType type, const StackCharBuf<216>& text) {
  try {
    Logger().Write(type, text.inline_text(), text.overflow());
  } catch (...) {
    // A log statement must never take its caller down.
  }
}

void LoggerWrapper::OpenFile(const WString& path) {
  std::string utf8;
  size_t error_at = 0;
  int error = EILSEQ;
  if (platform::Utf16ToUtf8(path, &utf8, &error_at)) error = Logger().OpenFile(utf8);
  if (error != 0) {
    KLOG(Fail) << "Failed to open log file at \"" << utf8 << "\". errno=" << error << ".";
  }
}

void LoggerWrapper::FinishWriteLogs() { Logger().FinishWriteLogs(); }

void LoggerWrapper::Get(std::string* out) { Logger().Get(out); }

IsSuccessful LoggerWrapper::SaveCurrentLogToFile(const std::string& utf8_path) {
  std::string text;
  Get(&text);
  FILE* file = Platform::Default()->OpenOwnerOnlyFile(utf8_path, /*append=*/false);
  if (file == nullptr) return IsSuccessful(false);
  std::setvbuf(file, nullptr, _IONBF, 0);
  const size_t written = std::fwrite(text.data(), 1, text.size(), file);
  const bool closed = std::fclose(file) == 0;
  return IsSuccessful(written == text.size() && closed);
}

void LoggerWrapper::SendBufferedMetrics() { Logger().SendBufferedMetrics(); }

void LoggerWrapper::SetCallbackOnError(std::function<void()> callback) {
  Logger().SetCallbackOnError(std::move(callback));
}

void LoggerWrapper::SetEnableCout(bool enable) { Logger().SetEnableCout(enable); }

bool LoggerWrapper::IsCoutEnabled() { return Logger().IsCoutEnabled(); }

void LoggerWrapper::SetLogProcessId(bool enable) { Logger().SetLogProcessId(enable); }

void LoggerWrapper::ResetErrorCounters() {
  count_fails_ = 0;
  count_fatals_ = 0;
}
