#ifndef KORVO_CORE_PLATFORM_POSIX_SECRET_SEALER_H_
#define KORVO_CORE_PLATFORM_POSIX_SECRET_SEALER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "core/platform/platform.h"

// Seals secrets for the current user: AES-256-GCM under a per-user master
// key. A sealed blob is
//
//   version (1 byte) | nonce (12 bytes) | ciphertext | tag (16 bytes)
//
// where the version names the key's source and is authenticated with the
// ciphertext. The key comes from the desktop's Secret Service when a session
// bus and an unlocked keyring answer, otherwise from the key file
// <data home>/korvo/master.key (mode 0600 in a 0700 folder), created once:
// processes racing to create it end up with the same key. Keys are kept in
// memory once read. Thread-safe.
class SecretSealer {
 public:
  static constexpr uint8_t kKeyFileVersion = 1;
  static constexpr uint8_t kSecretServiceVersion = 2;
  static constexpr size_t kNonceSize = 12;
  static constexpr size_t kTagSize = 16;
  static constexpr size_t kKeySize = 32;

  // An empty |data_home| means $XDG_DATA_HOME, or ~/.local/share without it,
  // read here.
  SecretSealer(const std::string& data_home, Platform::SecretKeySource source);
  ~SecretSealer();
  SecretSealer(const SecretSealer&) = delete;
  SecretSealer& operator=(const SecretSealer&) = delete;

  // On failure store the reason in |*error| and leave the output empty.
  bool Seal(const std::string& plain, std::string* sealed, std::string* error);
  bool Open(const std::string& sealed, std::string* plain, std::string* error);

  // The folder that holds the key file.
  const std::string& KeyDirectory() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

#endif  // KORVO_CORE_PLATFORM_POSIX_SECRET_SEALER_H_
