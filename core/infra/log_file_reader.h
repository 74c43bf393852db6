#ifndef KORVO_CORE_INFRA_LOG_FILE_READER_H_
#define KORVO_CORE_INFRA_LOG_FILE_READER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/export.h"

// The most text one record of a log file gives back. The writer puts one
// chunk in a record: at most the head and the tail the logger keeps (2.25
// MiB) and the line that overflowed them, itself capped wherever a body is
// logged. Far more than that is a damaged or forged file (a few KB of bzip2
// can unpack to gigabytes).
constexpr size_t kMaxLogRecordText = size_t{32} << 20;

// A record of a daily log file that could not be read back.
struct KORVO_EXPORT DamagedLogRecord {
  size_t offset = 0;  // Of the record's data in the file.
  std::string reason;
};

// Splits the bytes of a daily log file at the record markers, decompresses
// each record and appends the text to |*text| in file order. A marker with no
// data behind it is an empty record. Bytes before the first marker and
// records that are not exactly one bzip2 stream are reported in |*damaged|
// and skipped, and so is a record whose text would pass |record_limit| bytes
// (decompression stops there). Returns true when nothing was damaged.
KORVO_EXPORT bool ReadLogFile(std::string_view file, std::string* text,
                              std::vector<DamagedLogRecord>* damaged,
                              size_t record_limit = kMaxLogRecordText);

#endif  // KORVO_CORE_INFRA_LOG_FILE_READER_H_
