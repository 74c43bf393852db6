#include "tests/support/server_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testing_env {

ServerProcess::ServerProcess(const std::vector<std::string>& argv) {
  int to_child[2], from_child[2];
  if (pipe(to_child) != 0 || pipe(from_child) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[1]);
    close(from_child[0]);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  stdin_fd_ = to_child[1];
  FILE* out = fdopen(from_child[0], "r");
  char line[256] = {};
  if (out != nullptr && std::fgets(line, sizeof(line), out) != nullptr &&
      std::strncmp(line, "PORT ", 5) == 0) {
    char* cursor = line + 5;
    while (*cursor != '\0' && *cursor != '\n') {
      char* end = nullptr;
      const long port = std::strtol(cursor, &end, 10);
      if (end == cursor) break;
      ports_.push_back(static_cast<int>(port));
      cursor = end;
    }
  }
  if (out != nullptr) std::fclose(out);
}

ServerProcess::~ServerProcess() {
  if (stdin_fd_ >= 0) close(stdin_fd_);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

std::string ServerProcess::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

}  // namespace testing_env
