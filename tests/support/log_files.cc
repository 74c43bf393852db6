#include "tests/support/log_files.h"

#include <gtest/gtest.h>

#include "tests/support/test_env.h"

namespace testing_env {

std::string DecodeLogFileWithBzip2Tool(const std::string& path,
                                       std::vector<size_t>* record_sizes) {
  const std::string bytes = ReadFile(path);
  EXPECT_EQ(0u, bytes.find(kLogMarker)) << path << " does not start with a marker";
  std::string text;
  const std::string scratch = MakeTempDir("record");
  size_t pos = bytes.find(kLogMarker);
  while (pos != std::string::npos) {
    const size_t start = pos + kLogMarker.size();
    const size_t next = bytes.find(kLogMarker, start);
    const std::string record =
        bytes.substr(start, next == std::string::npos ? std::string::npos : next - start);
    if (record_sizes != nullptr) record_sizes->push_back(record.size());
    if (!record.empty()) {
      const std::string file = scratch + "/record.bz2";
      WriteFile(file, record);
      std::string out;
      const int status = RunCommand("bzip2 -dc '" + file + "'", &out);
      EXPECT_EQ(0, status) << "bzip2 could not read the record at " << start;
      if (status == 0) text += out;
    }
    pos = next;
  }
  return text;
}

}  // namespace testing_env
