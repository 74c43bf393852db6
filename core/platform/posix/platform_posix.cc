#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>

#include "core/platform/platform.h"
#include "core/platform/posix/secret_sealer.h"

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
  PosixPlatform(const std::string& data_home, SecretKeySource source)
      : data_home_(data_home), source_(source) {}

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

  FILE* OpenOwnerOnlyFile(const std::string& utf8_path, bool append) override {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(utf8_path.c_str(), flags, S_IRUSR | S_IWUSR);
    if (fd < 0) return nullptr;
    // The mode of open() is for new files only, and the umask narrows it
    // further at most; a file of an older version may still be wider. A
    // file of another user stays as it is.
    (void)::fchmod(fd, S_IRUSR | S_IWUSR);
    FILE* file = ::fdopen(fd, append ? "ab" : "wb");
    if (file == nullptr) {
      const int error = errno;
      ::close(fd);
      errno = error;
    }
    return file;
  }

  bool GetSystemCaBundle(std::string* pem) override {
    // Debian and its kin, then the Red Hat family.
    for (const char* path : {"/etc/ssl/certs/ca-certificates.crt",
                             "/etc/pki/tls/certs/ca-bundle.crt"}) {
      std::ifstream in(path, std::ios::binary);
      if (!in) continue;
      pem->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (!pem->empty()) return true;
    }
    return false;
  }

  // The desktop's proxy on Linux is the environment: https_proxy, http_proxy
  // and no_proxy (either case), given in the system form.
  bool GetSystemProxyConfig(std::string* proxy, std::string* bypass) override {
    auto env = [](const char* lower, const char* upper) {
      const char* value = std::getenv(lower);
      if (value == nullptr || *value == '\0') value = std::getenv(upper);
      return std::string(value != nullptr ? value : "");
    };
    proxy->clear();
    bypass->clear();
    const std::string https = env("https_proxy", "HTTPS_PROXY");
    const std::string http = env("http_proxy", "HTTP_PROXY");
    if (!https.empty()) *proxy += "https=" + https;
    if (!http.empty()) *proxy += (proxy->empty() ? "" : ";") + std::string("http=") + http;
    std::string no_proxy = env("no_proxy", "NO_PROXY");
    for (char& c : no_proxy) {
      if (c == ',') c = ';';
    }
    *bypass = no_proxy;
    return !proxy->empty();
  }

  std::FILE* OpenForReading(const std::string& path, uint64_t* size, int* error) override {
    *size = 0;
    *error = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      *error = errno;
      return nullptr;
    }
    struct stat info = {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
      *error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
      std::fclose(file);
      return nullptr;
    }
    *size = static_cast<uint64_t>(info.st_size);
    return file;
  }

  std::string ErrorText(int code) override {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be |buffer|.
    const char* text = strerror_r(code, buffer, sizeof(buffer));
    return text != nullptr ? std::string(text) : std::string();
  }

  bool ProtectSecret(const std::string& plain, std::string* sealed,
                     std::string* error) override {
    return Sealer()->Seal(plain, sealed, error);
  }

  bool UnprotectSecret(const std::string& sealed, std::string* plain,
                       std::string* error) override {
    return Sealer()->Open(sealed, plain, error);
  }

 private:
  // Made on first use, so that the key's location follows the environment
  // the program set up before its first secret rather than at load time.
  SecretSealer* Sealer() {
    std::call_once(sealer_once_, [this] {
      sealer_ = std::make_unique<SecretSealer>(data_home_, source_);
    });
    return sealer_.get();
  }

  const std::string data_home_;
  const SecretKeySource source_;
  std::once_flag sealer_once_;
  std::unique_ptr<SecretSealer> sealer_;
};

}  // namespace

Platform* NewPosixPlatform(const std::string& data_home, Platform::SecretKeySource source) {
  return new PosixPlatform(data_home, source);
}
