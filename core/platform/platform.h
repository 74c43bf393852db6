#ifndef KORVO_CORE_PLATFORM_PLATFORM_H_
#define KORVO_CORE_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "core/export.h"

// OS services the core library needs. The rest of core/ reaches the OS only
// through here, so tests can pass a fake and a port touches one folder.
// Implementations report failures through their results and never log: the
// logger itself stands on this layer.
class KORVO_EXPORT Platform {
 public:
  virtual ~Platform();

  // This OS's implementation. Owned by the library; never delete it.
  static Platform* Default();
  // Replaces what Default() returns until called again; returns the previous
  // one. For tests only: set it before other threads use the platform.
  static Platform* SetDefaultForTesting(Platform* platform);

  // Where the per-user master key that seals secrets comes from. kAuto asks
  // the desktop's Secret Service and falls back to a key file; the other two
  // use only the one named. A sealed secret records which one sealed it and
  // is opened only with that one.
  enum class SecretKeySource { kAuto = 0, kKeyFile = 1, kSecretService = 2 };
  // A platform of this OS that keeps its key file in |data_home|/korvo
  // (instead of $XDG_DATA_HOME or ~/.local/share) and takes the key only from
  // |source|. For tests; the caller owns it.
  static std::unique_ptr<Platform> NewForTesting(const std::string& data_home,
                                                 SecretKeySource source);

  // The OS's numeric id of the calling thread (the id debuggers show).
  virtual uint64_t CurrentThreadId() = 0;
  virtual int64_t ProcessId() = 0;

  // Names the calling thread for debuggers and process viewers. The OS may
  // keep only a prefix of the name (15 bytes on Linux).
  virtual bool SetCurrentThreadName(const std::string& name) = 0;
  // Names |thread|, which must be joinable. On success stores the id of the
  // thread as the platform reports it in |*id|.
  virtual bool SetThreadName(std::thread& thread, const std::string& name,
                             uint64_t* id) = 0;

  // One line of the debugger output channel. Linux has none: the call does
  // nothing there.
  virtual void WriteDebuggerOutput(std::string_view line) = 0;

  // Opens |utf8_path| for writing as std::fopen does with "ab" (|append|) or
  // "wb", creating the file readable and writable by its owner only; an
  // existing file is narrowed to that where the OS allows. Null with errno
  // set on failure.
  virtual FILE* OpenOwnerOnlyFile(const std::string& utf8_path, bool append) = 0;

  // The system's text for an error code of the C library (errno).
  virtual std::string ErrorText(int code) = 0;

  // The root certificates the system trusts, as PEM text. False when the
  // system has none to offer.
  virtual bool GetSystemCaBundle(std::string* pem) = 0;

  // The current user's proxy configuration in the system's form: |proxy| is
  // a list of entries separated by ';' or ' ', each "host:port" or
  // "scheme=host:port"; |bypass| lists hosts separated by ';' ("<local>"
  // stands for names without a dot). False when none is configured.
  virtual bool GetSystemProxyConfig(std::string* proxy, std::string* bypass) = 0;

  // Opens a regular file for binary reading and stores its size (64-bit).
  // On failure stores nullptr and the C library's error code in |*error|.
  virtual std::FILE* OpenForReading(const std::string& path, uint64_t* size, int* error) = 0;

  // Seals |plain| so that only this user can open it again, and only
  // unaltered: any change to |*sealed| makes UnprotectSecret fail. Both are
  // safe to call from any thread. On failure they store a description of
  // what failed in |*error| (never the secret) and leave the output empty.
  virtual bool ProtectSecret(const std::string& plain, std::string* sealed,
                             std::string* error) = 0;
  virtual bool UnprotectSecret(const std::string& sealed, std::string* plain,
                               std::string* error) = 0;
};

#endif  // KORVO_CORE_PLATFORM_PLATFORM_H_
