#ifndef KORVO_TESTS_SUPPORT_LOG_WATCH_H_
#define KORVO_TESTS_SUPPORT_LOG_WATCH_H_

#include <atomic>
#include <string>

#include "core/infra/logger.h"

namespace testing_env {

// Watches what the process-wide logger receives from its construction on:
// the Fatal and Fail lines counted, and the text logged since (found after a
// marker line of its own, so it does not depend on how much the logger keeps
// in memory).
class LogWatch {
 public:
  LogWatch()
      : marker_("log watch " + std::to_string(next_id_++) + " starts"),
        fails_(LoggerWrapper::GetErrorCounterFails()),
        fatals_(LoggerWrapper::GetErrorCounterFatals()) {
    KLOG(Info) << marker_;
  }

  unsigned int fails() const { return LoggerWrapper::GetErrorCounterFails() - fails_; }
  unsigned int fatals() const { return LoggerWrapper::GetErrorCounterFatals() - fatals_; }

  std::string Text() const {
    std::string log;
    LoggerWrapper::Get(&log);
    const size_t at = log.rfind(marker_);
    return at == std::string::npos ? log : log.substr(at + marker_.size());
  }
  bool Contains(const std::string& text) const {
    return Text().find(text) != std::string::npos;
  }

 private:
  static inline std::atomic<int> next_id_{0};
  const std::string marker_;
  const unsigned int fails_;
  const unsigned int fatals_;
};

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_LOG_WATCH_H_
