#include "core/auth/token.h"

#include <string_view>

#include "core/infra/logger.h"
#include "core/platform/platform.h"

namespace {

constexpr std::string_view kTokenPrefix = "tokuio-";

// Joined with halves of the identifier into the XOR key.
constexpr std::string_view kXorKeyInfix = "k7";

std::string ToLowerHex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

// Only the lowercase digits Encrypt writes: any other text is not ours, and
// accepting it would let an edited value open.
bool FromLowerHex(std::string_view text, std::string* bytes) {
  if (text.size() % 2 != 0) return false;
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  bytes->clear();
  bytes->reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

}  // namespace

std::string Token::Encrypt(const std::string& plain, const std::string& /*key*/) {
  std::string sealed;
  std::string error;
  if (!Platform::Default()->ProtectSecret(plain, &sealed, &error)) {
    KLOG(Fatal) << "Failed crypt token, error: " << error << ".";
    return std::string();
  }
  std::string stored(kTokenPrefix);
  stored += ToLowerHex(sealed);
  return stored;
}

std::string Token::Decrypt(const std::string& stored, const std::string& /*key*/) {
  if (stored.size() < kTokenPrefix.size() ||
      std::string_view(stored).substr(0, kTokenPrefix.size()) != kTokenPrefix) {
    return stored;
  }
  std::string sealed;
  if (!FromLowerHex(std::string_view(stored).substr(kTokenPrefix.size()), &sealed)) {
    KLOG(Fatal) << "Failed crypt unprotect data, error: the text is not lowercase hexadecimal";
    return std::string();
  }
  std::string plain;
  std::string error;
  if (!Platform::Default()->UnprotectSecret(sealed, &plain, &error)) {
    KLOG(Fatal) << "Failed crypt unprotect data, error: " << error;
    return std::string();
  }
  return plain;
}

std::string Token::GenerateXorKey(std::function<std::string()> uid_provider) {
  const std::string uid = uid_provider();
  if (uid.size() < 4) {
    KLOG(Fatal) << "Got invalid uid while trying to generate XOR key.";
    return std::string();
  }
  // The second half of the identifier, the infix, then the first half.
  const size_t half = uid.size() / 2;
  std::string key = uid.substr(half);
  key.append(kXorKeyInfix);
  key.append(uid, 0, half);
  if (key.empty()) KLOG(Fatal) << "Xor key is empty.";
  return key;
}
