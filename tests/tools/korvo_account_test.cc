// korvo account: accounts kept in the program's own settings, secrets from
// standard input and only protected at rest; the WebDAV probe against
// rclone's WebDAV server.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/server_process.h"
#include "tests/support/test_env.h"
#include "tests/tools/korvo_run.h"

namespace {

using testing_env::Korvo;
using testing_env::KorvoRun;
using testing_env::ServerProcess;

constexpr char kS3Secret[] = "KVSECRET-korvo-s3-key";
constexpr char kDavLogin[] = "korvo";
constexpr char kDavPassword[] = "KVSECRET-korvo-dav";

// Runs korvo in |home| with |secret| as the line on standard input.
KorvoRun WithSecret(const std::string& home, const std::string& secret, const std::string& args) {
  // Outside |home|, which is searched for the secret afterwards.
  const std::string input = testing_env::MakeTempDir("secret-input") + "/line";
  testing_env::WriteFile(input, secret + "\n");
  KorvoRun run = Korvo(home, args + " <'" + input + "'");
  testing_env::WriteFile(input, "");
  return run;
}

KorvoRun Plain(const std::string& home, const std::string& args) {
  return Korvo(home, args + " </dev/null");
}

// Files below |home| that hold |text| in clear, and log records that do.
std::string WhereIs(const std::string& home, const std::string& text) {
  std::string raw;
  testing_env::RunCommand("grep -rlF -- '" + text + "' '" + home + "' || true", &raw);
  std::string logs;
  testing_env::RunCommand("find '" + home + "' -name '*.log' -exec '" KORVO_BINARY_DIR
                          "/tools/korvo' logcat {} + 2>/dev/null | grep -F -- '" +
                              text + "' || true",
                          &logs);
  return raw + logs;
}

std::string SettingsFile(const std::string& home) {
  return home + "/.config/Veltra/Korvo.conf";
}

TEST(KorvoAccountTest, AddListReplaceRemoveWithTheSecretOnlyProtected) {
  const std::string home = testing_env::MakeTempDir("account");
  const std::string s3 = "account add s3 ";
  KorvoRun run = WithSecret(home, kS3Secret,
                            s3 + "zeta --endpoint s3.example.com:9000 --bucket media "
                                 "--region eu-1 --access-key AKIDZETA --service amazon");
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.out);
  run = WithSecret(home, kS3Secret,
                   s3 + "alpha --endpoint old.example.com --bucket b --region r --access-key A");
  ASSERT_EQ(0, run.status) << run.err;
  // The same name again replaces the account.
  run = WithSecret(home, kS3Secret,
                   s3 + "alpha --endpoint new.example.com --bucket photos --region us-east-1 "
                        "--access-key AKIDALPHA --root backups/2026");
  ASSERT_EQ(0, run.status) << run.err;

  // Another process reads them back, sorted by name.
  run = Plain(home, "account list");
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("alpha\ts3\tnew.example.com/photos\nzeta\ts3\ts3.example.com:9000/media\n", run.out);
  const std::string settings = testing_env::ReadFile(SettingsFile(home));
  EXPECT_NE(std::string::npos, settings.find("tokuio-"));
  EXPECT_NE(std::string::npos, settings.find("backups/2026"));
  EXPECT_EQ("", WhereIs(home, kS3Secret));

  run = Plain(home, "account remove nobody");
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("no account named 'nobody'"));
  run = Plain(home, "account remove zeta");
  EXPECT_EQ(0, run.status) << run.err;
  run = Plain(home, "account list");
  EXPECT_EQ("alpha\ts3\tnew.example.com/photos\n", run.out);
}

TEST(KorvoAccountTest, UsageErrors) {
  const std::string home = testing_env::MakeTempDir("account-usage");
  const std::string s3 = "account add s3 a --endpoint h --bucket b --region r --access-key k";
  struct Case {
    const char* args;
    bool secret;
  } const kCases[] = {
      {"account", false},
      {"account frobnicate", false},
      {"account add", false},
      {"account add ftp a --server x", true},
      {"account add s3 a --bucket b --region r --access-key k", true},
      {"account add s3 'a/b' --endpoint h --bucket b --region r --access-key k", true},
      {"account add s3 a --endpoint h --bucket b --region r --access-key k --service gcs", true},
      {"account add s3 a --endpoint https://h/ --bucket b --region r --access-key k", true},
      {"account add s3 a --endpoint h --bucket b --region r --access-key k --access-key k2", true},
      {"account add s3 a --endpoint h --bucket b --region r --access-key k extra", true},
      {"account add webdav a --server http://h/", true},
      {"account list extra", false},
      {"account remove", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args);
    const KorvoRun run = c.secret ? WithSecret(home, kS3Secret, c.args) : Plain(home, c.args);
    EXPECT_EQ(2, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("usage: korvo account"));
  }
  // No secret on standard input is a usage error too, and stores nothing.
  const KorvoRun run = Plain(home, s3);
  EXPECT_EQ(2, run.status);
  EXPECT_NE(std::string::npos, run.err.find("no secret access key on standard input"));
  EXPECT_EQ("", Plain(home, "account list").out);
}

TEST(KorvoAccountTest, AnUnwritableSettingsFileIsAnError) {
  const std::string home = testing_env::MakeTempDir("account-unwritable");
  // The settings folder cannot be made: a file stands where it would be.
  std::string ignored;
  testing_env::RunCommand("mkdir -p '" + home + "/.config' && touch '" + home + "/.config/Veltra'",
                          &ignored);
  const KorvoRun run = WithSecret(
      home, kS3Secret, "account add s3 a --endpoint h --bucket b --region r --access-key k");
  EXPECT_EQ(1, run.status);
  EXPECT_NE(std::string::npos, run.err.find("cannot write the settings file"));
  EXPECT_EQ("", WhereIs(home, kS3Secret));
}

class KorvoAccountWebDavTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The probes go direct: the program's system proxy mode reads these.
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"}) {
      unsetenv(name);
    }
    const std::string dir = testing_env::MakeTempDir("account-dav");
    setenv("KORVO_DAV_USER", kDavLogin, 1);
    setenv("KORVO_DAV_PASS", kDavPassword, 1);
    dav_ = new ServerProcess(
        {"python3", KORVO_SOURCE_DIR "/tests/support/rclone_webdav.py", dir});
    unsetenv("KORVO_DAV_USER");
    unsetenv("KORVO_DAV_PASS");
  }
  static void TearDownTestSuite() {
    delete dav_;
    dav_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(dav_->ok()) << "rclone serve webdav did not start (scripts/setup.sh installs it)";
  }

  static std::string DeadUrl() {
    ServerProcess gone(testing_env::ScriptedHttpServerCommand());
    return gone.Url("/dav/");
  }

  KorvoRun AddDav(const std::string& home, const std::string& password,
                  const std::string& servers) {
    return WithSecret(home, password,
                      "account add webdav dav " + servers + " --login " + kDavLogin);
  }

  static ServerProcess* dav_;
};

ServerProcess* KorvoAccountWebDavTest::dav_ = nullptr;

TEST_F(KorvoAccountWebDavTest, ProbesTheServersAndPrintsTheOneChosen) {
  const std::string home = testing_env::MakeTempDir("account-dav-home");
  const std::string live = dav_->Url("/");
  const std::string dead = DeadUrl();

  KorvoRun run = AddDav(home, kDavPassword, "--server " + live);
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(live + "\n", run.out);

  // The main server does not answer: the fallback does.
  run = AddDav(home, kDavPassword, "--server " + dead + " --fallback " + live);
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ(live + "\n", run.out);
  EXPECT_EQ("dav\twebdav\t" + live + "\n", Plain(home, "account list").out);

  // Neither answers (a wrong password is no answer): kept with the main one.
  run = AddDav(home, "KVSECRET-wrong", "--server " + live + " --fallback " + dead);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(live + "\n", run.out);
  EXPECT_NE(std::string::npos, run.err.find("no server answered"));
  EXPECT_EQ("dav\twebdav\t" + live + "\n", Plain(home, "account list").out);

  EXPECT_EQ("", WhereIs(home, kDavPassword));
  EXPECT_EQ("", WhereIs(home, "KVSECRET-wrong"));
}

}  // namespace
