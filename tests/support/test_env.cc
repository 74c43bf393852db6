#include "tests/support/test_env.h"

#include <errno.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tests/support/shared_servers.h"

namespace testing_env {

namespace {

std::string CreateHome() {
  // Inside a run, below its directory, where the last test looks through
  // every log file; a run by hand gets a folder of its own in /tmp.
  std::string pattern = RunDir().empty()
                            ? std::string("/tmp/korvo-test-XXXXXX")
                            : RunDir() + "/homes/" + program_invocation_short_name + "-XXXXXX";
  const char* dir = mkdtemp(pattern.data());
  if (dir == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  return dir;
}

}  // namespace

std::string RunDir() {
#ifdef KORVO_BINARY_DIR
  static const std::string dir = [] {
    const std::string run = KORVO_BINARY_DIR "/test-run";
    struct stat info = {};
    return stat((run + "/run.json").c_str(), &info) == 0 ? run : std::string();
  }();
  return dir;
#else
  return std::string();  // a program of its own (the benchmarks)
#endif
}

const std::string& TempHome() {
  static const std::string home = CreateHome();
  return home;
}

bool TempHomeOutlivesTheProcess() { return !RunDir().empty(); }

std::string MakeTempDir(const std::string& prefix) {
  static std::atomic<int> counter{0};
  const std::string dir =
      TempHome() + "/" + prefix + "-" + std::to_string(counter.fetch_add(1));
  QDir().mkpath(QString::fromStdString(dir));
  return dir;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_env
