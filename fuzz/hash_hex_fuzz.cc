// Feeds arbitrary texts to every FromHexString. A text that is a valid digest
// must print back as its upper-case self; parsing never reads past the text.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/hash/hashes.h"
#include "core/tree/tree_id.h"
#include "fuzz/fuzz_support.h"

namespace {

bool IsHex(std::string_view text) {
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

template <class T>
void CheckDigest(std::string_view text, size_t size) {
  const T parsed = T::FromHexString(text);
  if (text.size() == 2 * size && IsHex(text) && parsed.ToHexString() != Upper(text)) std::abort();
  if (text.size() != 2 * size && !parsed.IsZero()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  // A heap copy of exactly the text, so that a read past it is caught.
  const std::string owned(reinterpret_cast<const char*>(data), size);
  const std::string_view text(owned);

  CheckDigest<HashBase<16>>(text, 16);
  CheckDigest<HashBase<20>>(text, 20);
  CheckDigest<HashBase<32>>(text, 32);

  const TreeId id = TreeId::FromHexString(owned);
  if (text.size() == 24 && IsHex(text) && id.ToHexString() != Upper(text)) std::abort();
  if ((text.size() != 24 || !IsHex(text)) && !id.IsEmpty()) std::abort();

  // Records: what one prints, it parses back.
  const HashYandex yandex = HashYandex::FromHexString(text);
  if (!HashYandex::FromHexString(yandex.ToHexString()).IsBytewiseEqualTo(yandex)) std::abort();
  const HashS3 s3 = HashS3::FromHexString(text);
  if (!HashS3::FromHexString(s3.ToHexString()).IsBytewiseEqualTo(s3)) std::abort();
  const HashDropbox dropbox = HashDropbox::FromHexString(text);
  if (!HashDropbox::FromHexString(dropbox.ToHexString()).IsBytewiseEqualTo(dropbox)) std::abort();
  const HashOneDrive one_drive = HashOneDrive::FromHexString(text);
  if (!HashOneDrive::FromHexString(one_drive.ToHexString()).IsBytewiseEqualTo(one_drive)) {
    std::abort();
  }
  return 0;
}
