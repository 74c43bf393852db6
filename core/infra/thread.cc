#include "core/infra/thread.h"

#include "core/infra/logger.h"
#include "core/platform/platform.h"

namespace utils {

Thread::Thread(std::function<void()> body, QObject* parent)
    : QThread(parent), body_(std::move(body)) {}

Thread::~Thread() { body_ = nullptr; }

void Thread::run() {
  if (body_) {
    body_();
  } else {
    QThread::run();
  }
}

void SetThreadName(std::thread& thread, const std::string& name) {
  uint64_t id = 0;
  if (!Platform::Default()->SetThreadName(thread, name, &id) || id == 0) return;
  KLOG(Info) << "Thread name id: " << id << ", name: " << name;
}

}  // namespace utils
