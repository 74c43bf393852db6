#ifndef KORVO_TESTS_SUPPORT_SHARED_SERVERS_H_
#define KORVO_TESTS_SUPPORT_SHARED_SERVERS_H_

#include <string>
#include <vector>

namespace testing_env {

// In every password, token and credential the tests and their servers use;
// the last test of a run fails when it shows up in a log.
inline constexpr char kSecretMarker[] = "KVSECRET";

// The directory of the current test run (made by the ctest fixture "run",
// kept until its last test has looked through it), or empty when the test
// runs outside one.
std::string RunDir();

// A server the whole run shares, started once by a ctest fixture of the same
// name (tests/support/shared_servers.py): nginx, tinyproxy, socks5, socks4,
// scripted.
struct SharedServerInfo {
  std::string kind;
  std::vector<int> ports;
  std::string dir;    // its scratch folder (nginx: dir/www is what it serves)
  std::string ca;     // the test CA's certificate (PEM)
  std::string error;  // why it cannot be used, naming the fixture to start

  bool ok() const { return error.empty() && !ports.empty(); }
  int port(size_t index = 0) const { return index < ports.size() ? ports[index] : 0; }
  // http://127.0.0.1:<port>|path|
  std::string Url(const std::string& path, size_t index = 0) const;
};

// Reads what the fixture wrote; a test that runs without it gets an info
// whose error says which fixture (and command) starts the server.
const SharedServerInfo& SharedServer(const std::string& kind);

// The access log of the shared nginx: one line per request, with the port
// it came in on, the request line, the status and the values of the
// Authorization, X-Korvo-Auth and X-Amz-Date headers ("-" when absent):
//   <port> "GET /path HTTP/1.1" 200 authorization="..." x_korvo_auth="..." x_amz_date="..."
std::string NginxAccessLog();
// Its lines whose request line contains |text|.
std::vector<std::string> NginxAccessLogLines(const std::string& text);

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_SHARED_SERVERS_H_
