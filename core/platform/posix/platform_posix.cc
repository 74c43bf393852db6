#include <pthread.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/platform/platform.h"

namespace {

// Linux keeps at most 15 bytes of a thread name plus the terminator.
constexpr size_t kMaxThreadName = 15;

std::string TruncateThreadName(const std::string& name) {
  if (name.size() <= kMaxThreadName) return name;
  size_t cut = kMaxThreadName;
  // Do not leave half of a UTF-8 sequence at the end.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

class PosixPlatform final : public Platform {
 public:
  uint64_t CurrentThreadId() override {
    return static_cast<uint64_t>(syscall(SYS_gettid));
  }

  int64_t ProcessId() override { return static_cast<int64_t>(getpid()); }

  bool SetCurrentThreadName(const std::string& name) override {
    return pthread_setname_np(pthread_self(), TruncateThreadName(name).c_str()) == 0;
  }

  bool SetThreadName(std::thread& thread, const std::string& name,
                     uint64_t* id) override {
    if (!thread.joinable()) return false;
    const pthread_t handle = thread.native_handle();
    if (pthread_setname_np(handle, TruncateThreadName(name).c_str()) != 0) {
      return false;
    }
    // Linux offers no way to ask another thread for its kernel id; the
    // pthread handle is what identifies it here.
    *id = static_cast<uint64_t>(handle);
    return true;
  }

  void WriteDebuggerOutput(std::string_view) override {}

  std::string ErrorText(int code) override {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be |buffer|.
    const char* text = strerror_r(code, buffer, sizeof(buffer));
    return text != nullptr ? std::string(text) : std::string();
  }
};

}  // namespace

Platform* NewPosixPlatform() { return new PosixPlatform(); }
