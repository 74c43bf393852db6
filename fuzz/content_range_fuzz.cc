// Feeds arbitrary headers and numbers to the Content-Range check. A header
// it accepts must hold "bytes", the numbers asked for and a range inside the
// total; and the header built from the numbers passes exactly when they
// make a valid range.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/net/url_processor.h"
#include "fuzz/fuzz_support.h"

namespace {

uint64_t Take(const uint8_t** data, size_t* size) {
  uint64_t value = 0;
  const size_t n = *size < sizeof(value) ? *size : sizeof(value);
  std::memcpy(&value, *data, n);
  *data += n;
  *size -= n;
  // Mostly small numbers, so that they also turn up in the header text.
  return value % 4 == 0 ? value : value % 100000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  const uint64_t total = Take(&data, &size);
  const uint64_t begin = Take(&data, &size);
  const uint64_t end = Take(&data, &size);
  const std::string headers(reinterpret_cast<const char*>(data), size);

  if (URLProcessor::CheckRangeInResponseHeaders(headers, total, begin, end)) {
    if (headers.find(std::to_string(total)) == std::string::npos ||
        headers.find(std::to_string(begin)) == std::string::npos ||
        headers.find(std::to_string(end)) == std::string::npos || begin > end || end >= total) {
      std::abort();
    }
  }
  if (URLProcessor::CheckRangeInResponseHeaders(headers, total, boost::none, boost::none) &&
      headers.find(std::to_string(total)) == std::string::npos) {
    std::abort();
  }

  const std::string built = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                            std::to_string(begin) + "-" + std::to_string(end) + "/" +
                            std::to_string(total) + "\r\n";
  const bool valid = begin <= end && end < total;
  if (URLProcessor::CheckRangeInResponseHeaders(built, total, begin, end) != valid) std::abort();
  if (URLProcessor::CheckRangeInResponseHeaders(built, total + 1, begin, end)) std::abort();
  return 0;
}
