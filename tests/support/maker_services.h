#ifndef KORVO_TESTS_SUPPORT_MAKER_SERVICES_H_
#define KORVO_TESTS_SUPPORT_MAKER_SERVICES_H_

#include <string>
#include <vector>

#include "tests/support/server_process.h"

namespace testing_env {

// The scripted dispatcher and metrics service (maker_services.py), and what
// a test tells it and asks of it. The engine must be set up (GlobalOpen, no
// proxy) before use.
class MakerServices {
 public:
  struct Request {
    std::string path;
    std::string body;
    std::string content_type;
    double time = 0;
  };

  MakerServices();
  bool ok() const { return server_.ok(); }
  int port() const { return server_.port(); }
  std::string Url(const std::string& path) const { return server_.Url(path); }

  // The next dispatcher answers; |delay| seconds before each.
  void SetDispatcherAnswer(int status, const std::string& body, double delay = 0);
  void SetDispatcherStall();
  // "up", "reset", "error" or "stall".
  void SetMetricsMode(const std::string& mode);
  std::vector<Request> Requests(const std::string& kind);
  void Clear();

 private:
  std::string Post(const std::string& path, const std::string& body);

  ServerProcess server_;
};

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_MAKER_SERVICES_H_
