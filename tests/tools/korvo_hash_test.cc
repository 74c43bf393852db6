// The korvo program's hash command, run as a separate process and checked
// against the Python reference.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_env.h"
#include "tests/tools/korvo_run.h"

namespace {

using testing_env::Korvo;
using testing_env::KorvoRun;
using testing_env::MakeTempDir;
using testing_env::RunCommand;
using testing_env::WriteFile;

const char* const kTypes[] = {"vt", "yandex", "dropbox", "google", "internal", "onedrive", "s3"};

using Reference = std::map<std::pair<std::string, std::string>, std::string>;

// The reference values of |files| by (type, file), in the library's hex form
// ("internal" hashes print as a generic string, whose hex form keeps letters
// and digits and writes "-" as 2D).
Reference ReferenceValues(const std::vector<std::string>& files) {
  std::string command = "python3 " KORVO_SOURCE_DIR "/tests/core/hash/reference_hashes.py";
  for (const std::string& file : files) command += " '" + file + "'";
  std::string output;
  EXPECT_EQ(0, RunCommand(command, &output));
  Reference values;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t first = line.find(' ');
    const size_t second = line.find(' ', first + 1);
    const std::string type = line.substr(0, first);
    std::string value = line.substr(first + 1, second - first - 1);
    if (type == "internal") {
      std::string hex;
      for (char c : value) hex += c == '-' ? std::string("2D") : std::string(1, c);
      value = hex;
    }
    values[{type, line.substr(second + 1)}] = value;
  }
  return values;
}

TEST(KorvoHashTest, PrintsOneLinePerFileAndReportsUnreadableOnes) {
  const std::string home = MakeTempDir("home");
  const std::string dir = MakeTempDir("files");
  std::vector<std::string> files;
  for (size_t size : {0u, 5u, 21u, 300000u, 4194305u}) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + i / 251);
    files.push_back(dir + "/file of " + std::to_string(size));
    WriteFile(files.back(), data);
  }
  const std::string missing = dir + "/missing";
  Reference reference = ReferenceValues(files);
  for (const char* type : kTypes) {
    SCOPED_TRACE(type);
    std::string args = std::string("hash --type ") + type;
    std::string expected;
    for (size_t i = 0; i < files.size(); ++i) {
      args += " '" + files[i] + "'";
      expected += reference[std::make_pair(std::string(type), files[i])] + "  " + files[i] + "\n";
      // The other files are still hashed after a missing one and a folder.
      if (i == 1) args += " '" + missing + "' '" + dir + "'";
    }
    const KorvoRun run = Korvo(home, args);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(expected, run.out);
    EXPECT_NE(std::string::npos, run.err.find("korvo: " + missing + ": No such file or directory"))
        << run.err;
    EXPECT_NE(std::string::npos, run.err.find("korvo: " + dir + ": Is a directory")) << run.err;
  }
}

TEST(KorvoHashTest, DashReadsStandardInput) {
  const std::string home = MakeTempDir("home");
  const std::string file = MakeTempDir("files") + "/input";
  WriteFile(file, std::string(200000, 'q'));
  const KorvoRun run = Korvo(home, "hash --type yandex - < '" + file + "'");
  EXPECT_EQ(0, run.status) << run.err;
  Reference reference = ReferenceValues({file});
  const std::string value = reference[{"yandex", file}];
  EXPECT_EQ(value + "  -\n", run.out);
  EXPECT_EQ("", run.err);
}

TEST(KorvoHashTest, UsageErrors) {
  const std::string home = MakeTempDir("home");
  for (const char* args : {"hash", "hash --type vt", "hash --type sha3 x", "hash vt x",
                           "hash --kind vt x"}) {
    SCOPED_TRACE(args);
    const KorvoRun run = Korvo(home, args);
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_NE(std::string::npos, run.err.find("usage: korvo hash --type TYPE FILE..."));
  }
}

}  // namespace
