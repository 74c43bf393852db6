#ifndef KORVO_CORE_INFRA_LOGGER_H_
#define KORVO_CORE_INFRA_LOGGER_H_

#include <atomic>
#include <charconv>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/export.h"
#include "core/infra/stack_stream.h"
#include "core/infra/tagged_bool.h"
#include "core/platform/wide_string.h"

using IsSuccessful = utils::TaggedBool<struct IsSuccessfulTag>;

// One log statement. It collects a line on the caller's stack and hands it to
// the process-wide logger when it goes out of scope:
//
//   KLOG(Fail) << "Failed to open " << path;
//
// A statement never throws into its caller. The static functions work on the
// process-wide logger, which keeps the first 256 KiB and the last 2 MiB of
// the log in memory and writes it, bzip2-compressed, to
// <AppDataLocation>/logs/yyyy-MM-dd.log from a low-priority writer thread.
class KORVO_EXPORT LoggerWrapper {
 public:
  enum LogType : int32_t {
    Info = 0,
    Verbose = 1,
    Special = 2,
    Fail = 3,   // Counted in count_fails_ and as the metric "fail_error".
    Fatal = 4,  // Counted in count_fatals_, "fatal_error"; calls the callback.
  };

  explicit LoggerWrapper(LogType type);
  ~LoggerWrapper();
  LoggerWrapper(const LoggerWrapper&) = delete;
  LoggerWrapper& operator=(const LoggerWrapper&) = delete;

  // Text and integers go straight into the buffer while the stream has its
  // default formatting; everything else (and anything after a manipulator
  // such as std::hex) through the standard stream.
  template <class T>
  LoggerWrapper& operator<<(const T& value) {
    using V = std::remove_cv_t<T>;
    if constexpr (std::is_integral_v<V> && !std::is_same_v<V, bool> &&
                  !std::is_same_v<V, char> && !std::is_same_v<V, signed char> &&
                  !std::is_same_v<V, unsigned char> && !std::is_same_v<V, wchar_t> &&
                  !std::is_same_v<V, char8_t> && !std::is_same_v<V, char16_t> &&
                  !std::is_same_v<V, char32_t>) {
      if (PlainFormatting()) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof(digits), value).ptr;
        stream_->rdbuf()->sputn(digits, end - digits);
        return *this;
      }
    } else if constexpr (std::is_same_v<V, char>) {
      if (stream_->width() == 0) {
        stream_->rdbuf()->sputc(value);
        return *this;
      }
    } else if constexpr (std::is_convertible_v<const T&, std::string_view> &&
                         !std::is_pointer_v<std::decay_t<T>>) {
      if (stream_->width() == 0) {
        const std::string_view text(value);
        stream_->rdbuf()->sputn(text.data(), static_cast<std::streamsize>(text.size()));
        return *this;
      }
    }
    *stream_ << value;
    return *this;
  }
  LoggerWrapper& operator<<(const char* text) {
    if (text != nullptr && stream_->width() == 0) {
      stream_->rdbuf()->sputn(text, static_cast<std::streamsize>(std::char_traits<char>::length(text)));
    } else {
      *stream_ << text;
    }
    return *this;
  }
  LoggerWrapper& operator<<(std::ostream& (*manipulator)(std::ostream&)) {
    *stream_ << manipulator;
    return *this;
  }
  LoggerWrapper& operator<<(std::ios_base& (*manipulator)(std::ios_base&)) {
    *stream_ << manipulator;
    return *this;
  }

  // Formats and stores one line. Swallows every exception.
  static void WriteToLogFile(LogType type, const StackCharBuf<216>& text);

  // Also writes every later line to |path| (truncated first, unbuffered).
  static void OpenFile(const WString& path);
  // Hands everything not yet written to the log file writer and waits until
  // it is on disk. Later lines stay in memory only. Call once before exit.
  static void FinishWriteLogs();
  // Appends the log held in memory: the head, then "\n---\n\n" and the tail
  // when there is one.
  static void Get(std::string* out);
  static IsSuccessful SaveCurrentLogToFile(const std::string& utf8_path);
  // Sends the error metrics counted so far through TallyLogger and forgets
  // them.
  static void SendBufferedMetrics();
  // Called on the logging thread for every Fatal line, before the line is
  // stored. Set it before other threads log.
  static void SetCallbackOnError(std::function<void()> callback);
  static void SetEnableCout(bool enable);
  static bool IsCoutEnabled();
  static void SetLogProcessId(bool enable);

  static unsigned int GetErrorCounterFails() { return count_fails_.load(); }
  static unsigned int GetErrorCounterFatals() { return count_fatals_.load(); }
  static void ResetErrorCounters();

  static std::atomic<unsigned int> count_fails_;
  static std::atomic<unsigned int> count_fatals_;

 private:
  bool PlainFormatting() const {
    return stream_->width() == 0 &&
           (stream_->flags() & (std::ios_base::basefield | std::ios_base::showpos)) ==
               std::ios_base::dec;
  }

  const LogType type_;
  // Constructing a standard stream costs more than the rest of a statement,
  // so each thread keeps its streams (one per nesting level) and reuses them;
  // the text still never leaves memory the thread owns, and short lines
  // allocate nothing.
  FastOStringStream<216>* stream_;
  bool owned_ = false;  // A stream of its own, once the thread is exiting.
};

namespace logging_internal {

// Offset of the base name in a source path; evaluated at compile time.
constexpr size_t BaseNameOffset(const char* path) {
  size_t offset = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '/' || path[i] == '\\') offset = i + 1;
  }
  return offset;
}

// The OS id of the calling thread, cached per thread.
KORVO_EXPORT uint64_t CurrentThreadId();

}  // namespace logging_internal

// A library log statement: "<file>:<line> T<thread id> <message>".
#define KLOG(type)                                                        \
  ::LoggerWrapper(::LoggerWrapper::type)                                  \
      << (__FILE__ + std::integral_constant<                              \
                         size_t, ::logging_internal::BaseNameOffset(      \
                                     __FILE__)>::value)                   \
      << ':' << __LINE__ << " T" << ::logging_internal::CurrentThreadId() \
      << ' '

#endif  // KORVO_CORE_INFRA_LOGGER_H_
