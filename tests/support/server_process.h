#ifndef KORVO_TESTS_SUPPORT_SERVER_PROCESS_H_
#define KORVO_TESTS_SUPPORT_SERVER_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_env {

// A server started by a test: a child process that prints "PORT <n>..." on its
// standard output once it listens on 127.0.0.1. It is killed (and waited
// for) when this object goes.
class ServerProcess {
 public:
  explicit ServerProcess(const std::vector<std::string>& argv);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // The first port the server printed, or the |index|th.
  int port(size_t index = 0) const { return index < ports_.size() ? ports_[index] : 0; }
  bool ok() const { return !ports_.empty() && ports_[0] > 0; }
  std::string Url(const std::string& path) const;

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  std::vector<int> ports_;
};

// The scripted HTTP server of tests/support, for a test that needs one of its
// own (the run shares one: SharedServer("scripted")).
inline std::vector<std::string> ScriptedHttpServerCommand() {
  return {"python3", KORVO_SOURCE_DIR "/tests/support/scripted_http_server.py"};
}

// A real server (nginx, tinyproxy, socks5, socks4) configured in |dir|, for a
// program of its own; tests share the run's (SharedServer).
inline std::vector<std::string> RealServerCommand(const std::string& kind,
                                                  const std::string& dir) {
  return {"python3", KORVO_SOURCE_DIR "/tests/support/real_servers.py", kind, dir};
}

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_SERVER_PROCESS_H_
