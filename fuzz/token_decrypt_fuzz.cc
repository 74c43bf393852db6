// Feeds arbitrary stored texts to Token::Decrypt under a key file of fixed
// bytes in the scratch HOME, so that the seed corpus (sealed with that key)
// reaches the cipher. A text without the prefix comes back unchanged; one
// that opens must seal and open again to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/auth/token.h"
#include "core/platform/platform.h"
#include "fuzz/fuzz_support.h"

namespace {

void UseFixedKeyFile() {
  static const bool done = [] {
    namespace fs = std::filesystem;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') std::abort();
    const fs::path data_home = fs::path(home) / ".local/share";
    const fs::path dir = data_home / "korvo";
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    const fs::path key = dir / "master.key";
    if (!fs::exists(key)) {
      std::string bytes;
      for (int i = 0; i < 32; ++i) bytes += static_cast<char>(i);
      std::ofstream(key, std::ios::binary) << bytes;
      fs::permissions(key, fs::perms::owner_read | fs::perms::owner_write,
                      fs::perm_options::replace);
    }
    // Never destroyed: the log writer thread still asks the platform for
    // files while static destructors run at exit.
    Platform* platform =
        Platform::NewForTesting(data_home.string(), Platform::SecretKeySource::kKeyFile).release();
    Platform::SetDefaultForTesting(platform);
    return true;
  }();
  (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  UseFixedKeyFile();
  const std::string stored(reinterpret_cast<const char*>(data), size);
  const std::string plain = Token::Decrypt(stored, "");
  if (stored.rfind("tokuio-", 0) != 0) {
    if (plain != stored) std::abort();
    return 0;
  }
  if (plain.empty()) return 0;
  if (Token::Decrypt(Token::Encrypt(plain, ""), "") != plain) std::abort();
  return 0;
}
