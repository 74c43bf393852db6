#ifndef KORVO_TESTS_SUPPORT_SERVER_PROCESS_H_
#define KORVO_TESTS_SUPPORT_SERVER_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_env {

// A server started by a test: a child process that prints "PORT <n>" on its
// standard output once it listens on 127.0.0.1. It is killed (and waited
// for) when this object goes.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& argv);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  bool ok() const { return port_ > 0; }
  std::string Url(const std::string& path) const;

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int port_ = 0;
};

// The scripted HTTP server of tests/support.
inline std::vector<std::string> ScriptedHttpServerCommand() {
  return {"python3", KORVO_SOURCE_DIR "/tests/support/scripted_http_server.py"};
}

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_SERVER_PROCESS_H_
