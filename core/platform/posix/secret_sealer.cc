#include "core/platform/posix/secret_sealer.h"

#include <errno.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "core/platform/posix/secret_service.h"

namespace {

constexpr const char* kAppFolder = "korvo";
constexpr const char* kKeyFileName = "master.key";
constexpr const char* kServiceLockName = "secret-service.lock";

using Key = unsigned char[SecretSealer::kKeySize];

std::string ErrnoText(int code) {
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof(buffer));
  return text != nullptr ? std::string(text) : "error " + std::to_string(code);
}

std::string ResolveDataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // The XDG rules say to ignore a relative value.
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr ? home : "";
  if (base.empty()) {
    struct passwd entry = {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
      base = found->pw_dir;
    }
  }
  return base.empty() ? std::string() : base + "/.local/share";
}

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

// Creates |path| and its missing parents, new ones with mode 0700.
bool MakeDirectories(const std::string& path, std::string* error) {
  for (size_t at = 1; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = "cannot create " + prefix + ": " + ErrnoText(errno);
      return false;
    }
  }
  return true;
}

bool ReadAll(int fd, unsigned char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, out + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string ToHex(const unsigned char* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 0xF];
  }
  return out;
}

bool FromHex(const std::string& text, unsigned char* out, size_t size) {
  if (text.size() != 2 * size) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < size; ++i) {
    const int high = digit(text[2 * i]);
    const int low = digit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

struct CipherContext {
  CipherContext() : ctx(EVP_CIPHER_CTX_new()) {}
  ~CipherContext() { EVP_CIPHER_CTX_free(ctx); }
  EVP_CIPHER_CTX* ctx;
};

// EVP takes lengths as int: feed large inputs in pieces.
template <class Update>
bool UpdateInPieces(Update update, const unsigned char* in, size_t size, unsigned char* out) {
  constexpr size_t kPiece = 1 << 30;
  size_t done = 0;
  while (done < size) {
    const int piece = static_cast<int>(std::min(kPiece, size - done));
    int written = 0;
    if (update(out + done, &written, in + done, piece) != 1 || written != piece) return false;
    done += static_cast<size_t>(piece);
  }
  return true;
}

bool GcmSeal(const Key key, uint8_t version, const std::string& plain, std::string* sealed,
             std::string* error) {
  constexpr size_t kHeader = 1 + SecretSealer::kNonceSize;
  std::string out(kHeader + plain.size() + SecretSealer::kTagSize, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  bytes[0] = version;
  if (RAND_bytes(bytes + 1, SecretSealer::kNonceSize) != 1) {
    *error = "no random bytes for a nonce";
    return false;
  }
  CipherContext c;
  int length = 0;
  bool ok = c.ctx != nullptr &&
            EVP_EncryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, SecretSealer::kNonceSize,
                                nullptr) == 1 &&
            EVP_EncryptInit_ex(c.ctx, nullptr, nullptr, key, bytes + 1) == 1 &&
            EVP_EncryptUpdate(c.ctx, nullptr, &length, bytes, 1) == 1;
  ok = ok && UpdateInPieces(
                 [&](unsigned char* o, int* n, const unsigned char* i, int size) {
                   return EVP_EncryptUpdate(c.ctx, o, n, i, size);
                 },
                 reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                 bytes + kHeader);
  ok = ok && EVP_EncryptFinal_ex(c.ctx, bytes + kHeader + plain.size(), &length) == 1 &&
       EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_GET_TAG, SecretSealer::kTagSize,
                           bytes + kHeader + plain.size()) == 1;
  if (!ok) {
    *error = "AES-256-GCM encryption failed";
    return false;
  }
  *sealed = std::move(out);
  return true;
}

bool GcmOpen(const Key key, const std::string& sealed, std::string* plain, std::string* error) {
  constexpr size_t kHeader = 1 + SecretSealer::kNonceSize;
  const auto* bytes = reinterpret_cast<const unsigned char*>(sealed.data());
  const size_t text_size = sealed.size() - kHeader - SecretSealer::kTagSize;
  std::string out(text_size, '\0');
  auto* out_bytes = reinterpret_cast<unsigned char*>(out.data());
  // The tag is copied because OpenSSL's signature takes a non-const pointer.
  unsigned char tag[SecretSealer::kTagSize];
  memcpy(tag, bytes + kHeader + text_size, sizeof(tag));
  CipherContext c;
  int length = 0;
  bool ok = c.ctx != nullptr &&
            EVP_DecryptInit_ex(c.ctx, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_IVLEN, SecretSealer::kNonceSize,
                                nullptr) == 1 &&
            EVP_DecryptInit_ex(c.ctx, nullptr, nullptr, key, bytes + 1) == 1 &&
            EVP_DecryptUpdate(c.ctx, nullptr, &length, bytes, 1) == 1;
  ok = ok && UpdateInPieces(
                 [&](unsigned char* o, int* n, const unsigned char* i, int size) {
                   return EVP_DecryptUpdate(c.ctx, o, n, i, size);
                 },
                 bytes + kHeader, text_size, out_bytes);
  ok = ok && EVP_CIPHER_CTX_ctrl(c.ctx, EVP_CTRL_GCM_SET_TAG, sizeof(tag), tag) == 1;
  // Only a matching tag lets any byte out.
  ok = ok && EVP_DecryptFinal_ex(c.ctx, out_bytes + text_size, &length) == 1;
  if (!ok) {
    OPENSSL_cleanse(out.data(), out.size());
    *error = "the sealed data was altered or sealed under another key";
    return false;
  }
  *plain = std::move(out);
  return true;
}

}  // namespace

struct SecretSealer::Impl {
  std::string data_home;
  std::string directory;
  Platform::SecretKeySource source;

  std::mutex mutex;  // Guards the keys below.
  bool have_file_key = false;
  bool have_service_key = false;
  Key file_key = {};
  Key service_key = {};

  ~Impl() {
    OPENSSL_cleanse(file_key, sizeof(file_key));
    OPENSSL_cleanse(service_key, sizeof(service_key));
  }

  // Opens the key folder, creating it (mode 0700) when |create|. A folder
  // that others may enter is closed to them; one of another user is refused.
  bool OpenDirectory(bool create, Fd* dir, std::string* error) {
    if (data_home.empty()) {
      *error = "no home directory to keep the key in";
      return false;
    }
    if (create && !MakeDirectories(directory, error)) return false;
    dir->reset(open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir->get() < 0) {
      *error = "cannot open " + directory + ": " + ErrnoText(errno);
      return false;
    }
    struct stat info = {};
    if (fstat(dir->get(), &info) != 0) {
      *error = "cannot inspect " + directory + ": " + ErrnoText(errno);
      return false;
    }
    if (info.st_uid != geteuid()) {
      *error = directory + " belongs to another user";
      return false;
    }
    if ((info.st_mode & 077) != 0 && fchmod(dir->get(), 0700) != 0) {
      *error = "cannot close " + directory + " to other users: " + ErrnoText(errno);
      return false;
    }
    return true;
  }

  // Reads the key file. True with |*found| false when there is none.
  bool LoadKeyFile(int dir, Key key, bool* found, std::string* error) {
    *found = false;
    const std::string path = directory + "/" + kKeyFileName;
    Fd fd(openat(dir, kKeyFileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) {
      if (errno == ENOENT) return true;
      *error = "cannot open " + path + ": " + ErrnoText(errno);
      return false;
    }
    struct stat info = {};
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      *error = path + " is not a regular file";
      return false;
    }
    if (info.st_uid != geteuid()) {
      *error = path + " belongs to another user";
      return false;
    }
    // Like ssh with its keys: a key others could read is not trusted.
    if ((info.st_mode & 077) != 0) {
      *error = path + " is open to other users";
      return false;
    }
    if (info.st_size != static_cast<off_t>(kKeySize) || !ReadAll(fd.get(), key, kKeySize)) {
      *error = path + " does not hold a key";
      return false;
    }
    *found = true;
    return true;
  }

  // Writes a new key under a temporary name and links it into place; when
  // another process got there first its key stays and this one is dropped.
  bool CreateKeyFile(int dir, std::string* error) {
    unsigned char suffix[8];
    Key key;
    if (RAND_bytes(suffix, sizeof(suffix)) != 1 || RAND_bytes(key, kKeySize) != 1) {
      *error = "no random bytes for a key";
      return false;
    }
    const std::string temp = std::string(kKeyFileName) + "." + ToHex(suffix, sizeof(suffix)) + ".tmp";
    Fd fd(openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
      *error = "cannot create a key file in " + directory + ": " + ErrnoText(errno);
      OPENSSL_cleanse(key, kKeySize);
      return false;
    }
    const bool written = WriteAll(fd.get(), key, kKeySize) && fsync(fd.get()) == 0;
    const int write_errno = errno;
    OPENSSL_cleanse(key, kKeySize);
    fd.reset(-1);
    if (!written) {
      unlinkat(dir, temp.c_str(), 0);
      *error = "cannot write a key file in " + directory + ": " + ErrnoText(write_errno);
      return false;
    }
    // link() never replaces an existing name; where the file system has no
    // hard links, a rename that refuses to replace does the same.
    int result = linkat(dir, temp.c_str(), dir, kKeyFileName, 0);
    int link_errno = errno;
    if (result != 0 && link_errno != EEXIST) {
      result = renameat2(dir, temp.c_str(), dir, kKeyFileName, RENAME_NOREPLACE);
      link_errno = errno;
    }
    unlinkat(dir, temp.c_str(), 0);
    if (result != 0 && link_errno != EEXIST) {
      *error = "cannot put the key file in place in " + directory + ": " + ErrnoText(link_errno);
      return false;
    }
    fsync(dir);
    return true;
  }

  bool FileKey(bool create, std::string* error) {
    if (have_file_key) return true;
    Fd dir;
    if (!OpenDirectory(create, &dir, error)) return false;
    bool found = false;
    if (!LoadKeyFile(dir.get(), file_key, &found, error)) return false;
    if (!found) {
      if (!create) {
        *error = "there is no key file in " + directory;
        return false;
      }
      if (!CreateKeyFile(dir.get(), error) || !LoadKeyFile(dir.get(), file_key, &found, error)) {
        return false;
      }
      if (!found) {
        *error = "the new key file in " + directory + " disappeared";
        return false;
      }
    }
    have_file_key = true;
    return true;
  }

  bool LookupServiceKey(bool* found, std::string* error) {
    std::string text;
    if (!secret_service::LookupKey(&text, found, error)) return false;
    const bool parsed = !*found || FromHex(text, service_key, kKeySize);
    OPENSSL_cleanse(text.data(), text.size());
    if (!parsed) {
      *error = "the keyring's item of ours does not hold a key";
      return false;
    }
    return true;
  }

  bool ServiceKey(bool create, std::string* error) {
    if (have_service_key) return true;
    bool found = false;
    if (!LookupServiceKey(&found, error)) return false;
    if (!found && !create) {
      *error = "the keyring holds no key of ours";
      return false;
    }
    if (!found) {
      // The Secret Service cannot create an item only if it is missing:
      // processes of this user take turns through a lock file.
      Fd dir;
      if (!OpenDirectory(true, &dir, error)) return false;
      Fd lock(openat(dir.get(), kServiceLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (lock.get() < 0 || flock(lock.get(), LOCK_EX) != 0) {
        *error = "cannot lock " + directory + "/" + kServiceLockName + ": " + ErrnoText(errno);
        return false;
      }
      if (!LookupServiceKey(&found, error)) return false;
      if (!found) {
        Key key;
        if (RAND_bytes(key, kKeySize) != 1) {
          *error = "no random bytes for a key";
          return false;
        }
        std::string text = ToHex(key, kKeySize);
        OPENSSL_cleanse(key, kKeySize);
        const bool stored = secret_service::StoreKey(text, error);
        OPENSSL_cleanse(text.data(), text.size());
        // Read back what the keyring holds rather than trust the copy here.
        if (!stored || !LookupServiceKey(&found, error)) return false;
        if (!found) {
          *error = "the keyring lost the key it was given";
          return false;
        }
      }
    }
    have_service_key = true;
    return true;
  }
};

SecretSealer::SecretSealer(const std::string& data_home, Platform::SecretKeySource source)
    : impl_(std::make_unique<Impl>()) {
  impl_->data_home = data_home.empty() ? ResolveDataHome() : data_home;
  impl_->directory = impl_->data_home + "/" + kAppFolder;
  impl_->source = source;
}

SecretSealer::~SecretSealer() = default;

const std::string& SecretSealer::KeyDirectory() const { return impl_->directory; }

bool SecretSealer::Seal(const std::string& plain, std::string* sealed, std::string* error) {
  sealed->clear();
  error->clear();
  Key key;
  uint8_t version = 0;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    using Source = Platform::SecretKeySource;
    std::string service_error;
    if (impl_->source != Source::kKeyFile &&
        (impl_->have_service_key || impl_->source == Source::kSecretService ||
         secret_service::Available(&service_error)) &&
        impl_->ServiceKey(true, &service_error)) {
      memcpy(key, impl_->service_key, kKeySize);
      version = kSecretServiceVersion;
    } else if (impl_->source == Source::kSecretService) {
      *error = service_error;
      return false;
    } else if (impl_->FileKey(true, error)) {
      memcpy(key, impl_->file_key, kKeySize);
      version = kKeyFileVersion;
    } else {
      return false;
    }
  }
  const bool ok = GcmSeal(key, version, plain, sealed, error);
  OPENSSL_cleanse(key, kKeySize);
  return ok;
}

bool SecretSealer::Open(const std::string& sealed, std::string* plain, std::string* error) {
  plain->clear();
  error->clear();
  if (sealed.empty()) {
    *error = "the sealed data is empty";
    return false;
  }
  const uint8_t version = static_cast<uint8_t>(sealed[0]);
  if (version != kKeyFileVersion && version != kSecretServiceVersion) {
    *error = "the sealed data has unknown version " + std::to_string(version);
    return false;
  }
  if (sealed.size() < 1 + kNonceSize + kTagSize) {
    *error = "the sealed data is too short";
    return false;
  }
  using Source = Platform::SecretKeySource;
  Key key;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (version == kKeyFileVersion) {
      if (impl_->source == Source::kSecretService) {
        *error = "the data was sealed with the key file, which is not in use here";
        return false;
      }
      if (!impl_->FileKey(false, error)) return false;
      memcpy(key, impl_->file_key, kKeySize);
    } else {
      if (impl_->source == Source::kKeyFile) {
        *error = "the data was sealed with the Secret Service's key, which is not in use here";
        return false;
      }
      if (!impl_->ServiceKey(false, error)) return false;
      memcpy(key, impl_->service_key, kKeySize);
    }
  }
  const bool ok = GcmOpen(key, sealed, plain, error);
  OPENSSL_cleanse(key, kKeySize);
  return ok;
}
