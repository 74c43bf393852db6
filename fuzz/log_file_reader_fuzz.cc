// Feeds arbitrary bytes to the log file reader, as a damaged or forged log
// file would. No record may give more text than the limit, and a file read
// without damage has every record accounted for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/infra/log_file_reader.h"
#include "core/infra/log_file_writer.h"
#include "fuzz/fuzz_support.h"

namespace {

// Small, so that a bzip2 bomb is cut quickly; the path is the same as with
// the real limit.
constexpr size_t kRecordLimit = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  const std::string owned(reinterpret_cast<const char*>(data), size);
  const std::string_view marker(LogFileWriter::kRecordMarker, LogFileWriter::kRecordMarkerSize);
  size_t markers = 0;
  for (size_t at = owned.find(marker); at != std::string::npos; at = owned.find(marker, at + 1)) {
    ++markers;
  }
  std::string text;
  std::vector<DamagedLogRecord> damaged;
  const bool ok = ReadLogFile(owned, &text, &damaged, kRecordLimit);
  if (ok != damaged.empty()) std::abort();
  if (text.size() > markers * kRecordLimit) std::abort();
  for (const DamagedLogRecord& record : damaged) {
    if (record.offset > owned.size() || record.reason.empty()) std::abort();
  }
  return 0;
}
