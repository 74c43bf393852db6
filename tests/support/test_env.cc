#include "tests/support/test_env.h"

#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_env {

namespace {

std::string CreateHome() {
  char pattern[] = "/tmp/korvo-test-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) throw std::runtime_error("mkdtemp failed");
  return dir;
}

}  // namespace

const std::string& TempHome() {
  static const std::string home = CreateHome();
  return home;
}

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
