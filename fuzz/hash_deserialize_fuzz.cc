// Feeds arbitrary buffers to SomeHash::Deserialize. A buffer that reads back
// must serialize to a prefix of itself (a Dropbox text is never stored), and
// nothing may read outside the buffer.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/hash/hashes.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  // An exact-size copy, so that AddressSanitizer sees a read past its end.
  std::vector<uint8_t> buffer(data, data + size);
  SomeHash hash;
  if (!SomeHash::Deserialize(&hash, buffer.data(), buffer.size())) return 0;

  std::vector<uint8_t> written(size + 1);
  const size_t length = hash.Serialize(written.data(), written.size());
  if (length == 0 || length > size || std::memcmp(written.data(), buffer.data(), length) != 0) {
    std::abort();
  }
  SomeHash again;
  if (!SomeHash::Deserialize(&again, written.data(), length) || !again.IsBytewiseEqualTo(hash)) {
    std::abort();
  }
  // The text forms never fail.
  (void)hash.ToHexString();
  (void)hash.ToDisplayString();
  return 0;
}
