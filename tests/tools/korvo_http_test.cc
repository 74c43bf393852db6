// The korvo program's http command, run as a separate process against nginx,
// tinyproxy and the scripted server on loopback.

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/log_files.h"
#include "tests/support/shared_servers.h"
#include "tests/support/test_env.h"
#include "tests/tools/korvo_run.h"

namespace {

using testing_env::Korvo;
using testing_env::KorvoRun;
using testing_env::MakeTempDir;
using testing_env::ReadFile;
using testing_env::SharedServer;
using testing_env::SharedServerInfo;
using testing_env::WriteFile;

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* handle = opendir(dir.c_str())) {
    while (dirent* entry = readdir(handle)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(handle);
  }
  return names;
}

// The text of every log file below |dir|, decompressed.
std::string LogsBelow(const std::string& dir) {
  std::string text;
  for (const std::string& name : ListDir(dir)) {
    const std::string path = dir + "/" + name;
    struct stat info = {};
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      text += LogsBelow(path);
    } else if (name.size() > 4 && name.substr(name.size() - 4) == ".log") {
      text += testing_env::DecodeLogFileWithBzip2Tool(path);
    }
  }
  return text;
}

class KorvoHttpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    nginx_ = &SharedServer("nginx");
    dir_ = &nginx_->dir;
  }
  void SetUp() override {
    ASSERT_TRUE(nginx_->ok()) << nginx_->error;
    home_ = MakeTempDir("korvo-http-home");
    unsetenv("http_proxy");
    unsetenv("https_proxy");
    unsetenv("no_proxy");
  }

  static std::string Http(const std::string& path) {
    return "'http://127.0.0.1:" + std::to_string(nginx_->port(0)) + path + "'";
  }
  static std::string Https(size_t server, const std::string& path) {
    return "'https://localhost:" + std::to_string(nginx_->port(server)) + path + "'";
  }
  static std::string Www() { return *dir_ + "/www"; }
  KorvoRun Run(const std::string& args) { return Korvo(home_, "http " + args); }

  static const std::string* dir_;
  static const SharedServerInfo* nginx_;
  std::string home_;
};

const std::string* KorvoHttpTest::dir_ = nullptr;
const SharedServerInfo* KorvoHttpTest::nginx_ = nullptr;

TEST_F(KorvoHttpTest, GetsBodiesAndRangesIntoFilesOrStandardOutput) {
  const std::string small = ReadFile(Www() + "/files/small.bin");
  const std::string out = home_ + "/out/small.bin";
  ASSERT_EQ(0, system(("mkdir -p '" + home_ + "/out'").c_str()));
  KorvoRun run = Run("get " + Http("/files/small.bin") + " -o '" + out + "'");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("HTTP 200 SUCCEEDED\n", run.err);
  EXPECT_TRUE(run.out.empty());
  EXPECT_EQ(small, ReadFile(out));

  run = Run("get " + Http("/files/small.bin") + " --range 10-19");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("HTTP 206 SUCCEEDED\n", run.err);
  EXPECT_EQ(small.substr(10, 10), run.out);

  // A redirect is followed; options may come before the URL.
  run = Run("get --timeout 20 " + Http("/redirect"));
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(small, run.out);

  // A failure leaves the file that was there alone, and no partial file.
  WriteFile(out, "kept");
  run = Run("get " + Http("/files/missing.bin") + " -o '" + out + "'");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("HTTP 404 NOT_FOUND\n", run.err);
  EXPECT_EQ("kept", ReadFile(out));
  EXPECT_EQ(std::vector<std::string>{"small.bin"}, ListDir(home_ + "/out"));

  // The file keeps its permissions; a symbolic link is written through, not
  // replaced.
  ASSERT_EQ(0, chmod(out.c_str(), 0640));
  run = Run("get " + Http("/files/small.bin") + " -o '" + out + "'");
  EXPECT_EQ(0, run.status) << run.err;
  struct stat info = {};
  ASSERT_EQ(0, stat(out.c_str(), &info));
  EXPECT_EQ(0640u, info.st_mode & 07777);
  const std::string link = home_ + "/out/link.bin";
  ASSERT_EQ(0, symlink(out.c_str(), link.c_str()));
  WriteFile(out, "old");
  run = Run("get " + Http("/files/small.bin") + " --range 0-9 -o '" + link + "'");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(small.substr(0, 10), ReadFile(out));
  struct stat link_info = {};
  ASSERT_EQ(0, lstat(link.c_str(), &link_info));
  EXPECT_TRUE(S_ISLNK(link_info.st_mode));
  EXPECT_EQ(2u, ListDir(home_ + "/out").size());

  run = Run("get " + Http("/forbidden"));
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("HTTP 403 FORBIDDEN\n", run.err);
}

TEST_F(KorvoHttpTest, RedirectsBetweenPlainAndTlsShowInTheAccessLog) {
  const std::string small = ReadFile(Www() + "/files/small.bin");
  const std::string tag = "?tool-redirect-" + std::to_string(getpid());
  KorvoRun run = Run("get " + Http("/redirect-to-tls" + tag) + " --ca-file '" + nginx_->ca + "'");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(small, run.out);
  const std::vector<std::string> lines = testing_env::NginxAccessLogLines("/redirect-to-tls" + tag);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find(std::to_string(nginx_->port(0)) + " \"GET /redirect-to-tls" + tag));
  EXPECT_NE(std::string::npos, lines[0].find(" 302 authorization=\"-\" x_korvo_auth=\"-\""));
}

TEST_F(KorvoHttpTest, PutsAFile) {
  std::string body(3 * 1000 * 1000 + 7, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 31 + i / 4093);
  const std::string file = home_ + "/body.bin";
  WriteFile(file, body);
  KorvoRun run = Run("put " + Http("/upload/put/body.bin") + " '" + file + "'");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("HTTP 201 CREATED\n", run.err);
  EXPECT_TRUE(ReadFile(Www() + "/upload/put/body.bin") == body);

  // An empty file, and a missing one.
  WriteFile(file, "");
  run = Run("put " + Http("/upload/put/empty.bin") + " '" + file + "'");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", ReadFile(Www() + "/upload/put/empty.bin"));
  run = Run("put " + Http("/upload/put/none.bin") + " '" + home_ + "/none.bin'");
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("none.bin"));
}

TEST_F(KorvoHttpTest, TrustsTheGivenRootOrNothingWhenInsecure) {
  const std::string small = ReadFile(Www() + "/files/small.bin");
  KorvoRun run = Run("get " + Https(1, "/files/small.bin"));
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("HTTP 0 SSL_FAILED\n", run.err);
  run = Run("get " + Https(1, "/files/small.bin") + " --ca-file '" + nginx_->ca + "'");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(small, run.out);
  // Another CA's certificate is refused even with the test CA trusted...
  run = Run("get " + Https(2, "/files/small.bin") + " --ca-file '" + nginx_->ca + "'");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("HTTP 0 SSL_FAILED\n", run.err);
  // ...and accepted without verification.
  run = Run("get " + Https(2, "/files/small.bin") + " --insecure");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(small, run.out);
  // A file without a certificate is a usage error.
  WriteFile(home_ + "/empty.pem", "nothing here\n");
  run = Run("get " + Https(1, "/files/small.bin") + " --ca-file '" + home_ + "/empty.pem'");
  EXPECT_EQ(2, run.status);
}

TEST_F(KorvoHttpTest, ProxyModes) {
  const SharedServerInfo& proxy = SharedServer("tinyproxy");
  ASSERT_TRUE(proxy.ok()) << proxy.error;
  const std::string log = proxy.dir + "/tinyproxy.log";
  const std::string address = "127.0.0.1:" + std::to_string(proxy.port());

  KorvoRun run = Run("get " + Http("/files/small.bin?tool-manual") +
                     " --proxy-mode manual --proxy-type http --proxy " + address +
                     " --proxy-user korvo --proxy-password KVSECRET-proxy");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(1024u, run.out.size());
  EXPECT_NE(std::string::npos, ReadFile(log).find("/files/small.bin?tool-manual"));
  // The password never shows in what the program prints.
  EXPECT_EQ(std::string::npos, run.err.find(testing_env::kSecretMarker));

  run = Run("get " + Http("/files/small.bin") + " --proxy-mode manual --proxy " + address +
            " --proxy-user korvo --proxy-password wrong");
  EXPECT_EQ(1, run.status);

  // The system proxy is the environment's; "none" ignores it.
  setenv("http_proxy", ("http://korvo:KVSECRET-proxy@" + address).c_str(), 1);
  run = Run("get " + Http("/files/small.bin?tool-none") + " --proxy-mode none");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(std::string::npos, ReadFile(log).find("?tool-none"));
  run = Run("get " + Http("/files/small.bin?tool-system") + " --proxy-mode system");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_NE(std::string::npos, ReadFile(log).find("/files/small.bin?tool-system"));
  EXPECT_EQ(std::string::npos, run.err.find(testing_env::kSecretMarker));
  unsetenv("http_proxy");

  // The program's own log names the system proxy, without its credentials
  // (given on the command line or in the environment).
  const std::string program_log = LogsBelow(home_);
  EXPECT_NE(std::string::npos, program_log.find("Using system proxy"));
  const size_t secret = program_log.find(testing_env::kSecretMarker);
  EXPECT_EQ(std::string::npos, secret)
      << "the proxy password is in the log of the program, below " << home_ << ": \""
      << program_log.substr(program_log.rfind('\n', secret) + 1,
                            secret - program_log.rfind('\n', secret) - 1)
      << "<secret>...\"";
}

TEST_F(KorvoHttpTest, StallsTimeOutAndSignalsStop) {
  const SharedServerInfo& scripted = SharedServer("scripted");
  ASSERT_TRUE(scripted.ok()) << scripted.error;
  KorvoRun run = Run("get '" + scripted.Url("/stall") + "' --timeout 2");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("HTTP 0 NETWORK_FAILED\n", run.err);
  EXPECT_EQ(10u, run.out.size());

  // SIGINT stops the exchange within one wait; the program then reports it.
  // The signal goes once the server has the request: the handler is in place
  // by then (a signal before it is lost: a background job of sh starts with
  // SIGINT ignored), and the exchange waits for an answer rather than being
  // set up. Again until the program ends; killed, and so failing, when it
  // never does.
  const std::string path = "/stall-headers?signal-" + std::to_string(getpid()) + "-" +
                           std::to_string(reinterpret_cast<uintptr_t>(this));
  const std::string err = home_ + "/signal.txt";
  std::string output;
  const int status = testing_env::RunCommand(
      "HOME='" + home_ + "' '" KORVO_BINARY_DIR "/tools/korvo' http get '" +
          scripted.Url(path) + "' --timeout 600 2>'" + err + "' & pid=$!; "
          "for i in $(seq 600); do curl -sf '" + scripted.Url("/seen" + path) +
          "' >/dev/null && break; kill -0 $pid 2>/dev/null || break; sleep 0.1; done; "
          "for i in $(seq 300); do kill -0 $pid 2>/dev/null || break; kill -INT $pid; "
          "sleep 0.2; done; "
          "kill -KILL $pid 2>/dev/null; "
          "wait $pid",
      &output);
  EXPECT_EQ(1, status);
  EXPECT_EQ("HTTP 0 STOPPED\n", ReadFile(err));
}

TEST_F(KorvoHttpTest, UsageErrors) {
  const char* const kCases[] = {
      "",
      "head http://127.0.0.1/",
      "get",
      "get ftp://127.0.0.1/x",
      "get http://127.0.0.1/a http://127.0.0.1/b",
      "get http://127.0.0.1/ --range 5-1",
      "get http://127.0.0.1/ --range 5",
      "get http://127.0.0.1/ --range -5",
      "get http://127.0.0.1/ --timeout 0",
      "get http://127.0.0.1/ --timeout",
      "get http://127.0.0.1/ --bogus",
      "get http://127.0.0.1/ --proxy-mode auto",
      "get http://127.0.0.1/ --proxy-mode manual",
      "get http://127.0.0.1/ --proxy-mode manual --proxy-type socks6 --proxy h:1",
      "get http://127.0.0.1/ --proxy-mode manual --proxy h:0",
      "get http://127.0.0.1/ --proxy-mode manual --proxy h:1 --proxy-user u",
      "get http://127.0.0.1/ --proxy h:1",
      "put http://127.0.0.1/",
      "put http://127.0.0.1/ file --range 1-2",
      "put http://127.0.0.1/ file -o out",
  };
  for (const char* args : kCases) {
    SCOPED_TRACE(args);
    const KorvoRun run = Run(args);
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("usage: korvo http"));
    EXPECT_TRUE(run.out.empty());
  }
}

}  // namespace
