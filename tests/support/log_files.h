#ifndef KORVO_TESTS_SUPPORT_LOG_FILES_H_
#define KORVO_TESTS_SUPPORT_LOG_FILES_H_

#include <string>
#include <vector>

namespace testing_env {

// The marker that starts every record of a daily log file, written out here
// rather than taken from the library.
inline const std::string kLogMarker = "\n59AA0889CDD24978BE59BDD2C2B7CB50\n";

// Splits a log file at the markers and decompresses every record with the
// bzip2 tool. Adds a failure (and skips the record) when the tool fails.
std::string DecodeLogFileWithBzip2Tool(const std::string& path,
                                       std::vector<size_t>* record_sizes = nullptr);

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_LOG_FILES_H_
