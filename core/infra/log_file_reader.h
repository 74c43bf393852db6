#ifndef KORVO_CORE_INFRA_LOG_FILE_READER_H_
#define KORVO_CORE_INFRA_LOG_FILE_READER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/export.h"

// A record of a daily log file that could not be read back.
struct KORVO_EXPORT DamagedLogRecord {
  size_t offset = 0;  // Of the record's data in the file.
  std::string reason;
};

// Splits the bytes of a daily log file at the record markers, decompresses
// each record and appends the text to |*text| in file order. A marker with no
// data behind it is an empty record. Bytes before the first marker and
// records that are not exactly one bzip2 stream are reported in |*damaged|
// and skipped. Returns true when nothing was damaged.
KORVO_EXPORT bool ReadLogFile(std::string_view file, std::string* text,
                              std::vector<DamagedLogRecord>* damaged);

#endif  // KORVO_CORE_INFRA_LOG_FILE_READER_H_
