// The WebDAV credential's choice of server, against rclone's WebDAV server
// with Basic authentication.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "core/auth/auth_cookie_webdav.h"
#include "core/net/dispatcher_url.h"
#include "core/net/url_processor_impl.h"
#include "tests/support/engine_setup.h"
#include "tests/support/read_all.h"
#include "tests/support/server_process.h"
#include "tests/support/test_env.h"

namespace {

using testing_env::ServerProcess;

// "Вася": the login goes into the header as UTF-8.
constexpr char kLogin[] = "\xd0\x92\xd0\xb0\xd1\x81\xd1\x8f";
constexpr char kPassword[] = "KVSECRET-webdav-pw";

// rclone serving a fresh folder with one login; null when it cannot start.
std::unique_ptr<ServerProcess> StartWebDavServer(const std::string& login,
                                                 const std::string& password) {
  const std::string dir = testing_env::MakeTempDir("webdav");
  setenv("KORVO_DAV_USER", login.c_str(), 1);
  setenv("KORVO_DAV_PASS", password.c_str(), 1);
  auto server = std::make_unique<ServerProcess>(std::vector<std::string>{
      "python3", KORVO_SOURCE_DIR "/tests/support/rclone_webdav.py", dir});
  unsetenv("KORVO_DAV_USER");
  unsetenv("KORVO_DAV_PASS");
  return server;
}

std::string RecordingServerCommand() {
  return KORVO_SOURCE_DIR "/tests/support/recording_http_server.py";
}

class WebDavProbeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testing_env::OpenEngineWithoutProxy());
    dav_ = StartWebDavServer(kLogin, kPassword).release();
  }
  static void TearDownTestSuite() {
    delete dav_;
    dav_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(dav_->ok()) << "rclone serve webdav did not start (scripts/setup.sh installs it)";
    ASSERT_TRUE(recorder_.ok());
  }

  // Where nothing listens.
  static std::string DeadUrl() {
    ServerProcess gone({"python3", RecordingServerCommand()});
    return gone.Url("/dav/");
  }

  std::string Choose(const std::string& main, const std::string& additional,
                     const std::string& password) {
    auto cookie = std::make_shared<AuthCookieWebDAVBase>(CloudServiceId::kWebDAV, main, kLogin,
                                                         password, additional);
    auto processor = factory_.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->SetTimeout(30);
    processor->SetAuthInfo(cookie);
    cookie->UpdateServerURL(processor);
    return cookie->GetServer();
  }

  // What the recording server received so far.
  std::string Recorded() {
    auto processor = factory_.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->Get(DispatcherUrl::FromString(recorder_.Url("/_recorded")), false, true,
                   URLProcessor::Range(), false, {});
    std::string body;
    testing_env::ReadAll(processor.get(), &body);
    EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
    return body;
  }

  static inline ServerProcess* dav_ = nullptr;
  ServerProcess recorder_{{"python3", RecordingServerCommand()}};
  URLProcessorFactoryImpl factory_{"korvo-test", "client"};
};

TEST_F(WebDavProbeTest, TheMainServerWhenItAnswers) {
  const std::string dav = dav_->Url("/");
  EXPECT_EQ(dav, Choose(dav, recorder_.Url("/dav/"), kPassword));
  // The fallback was not asked.
  EXPECT_EQ("[]", Recorded());
}

TEST_F(WebDavProbeTest, TheFallbackWhenTheMainServerIsDown) {
  const std::string dav = dav_->Url("/");
  EXPECT_EQ(dav, Choose(DeadUrl(), dav, kPassword));
  EXPECT_EQ(dav, Choose("", dav, kPassword));
}

TEST_F(WebDavProbeTest, TheMainServerWhenNeitherAnswers) {
  const std::string main = DeadUrl();
  EXPECT_EQ(main, Choose(main, DeadUrl(), kPassword));
  EXPECT_EQ(main, Choose(main, "", kPassword));
}

TEST_F(WebDavProbeTest, AWrongPasswordIsNoAnswer) {
  // 401 from the main server: the fallback is probed, and it answers.
  const std::string fallback = recorder_.Url("/dav/");
  EXPECT_EQ(fallback, Choose(dav_->Url("/"), fallback, "KVSECRET-wrong-pw"));
  const std::string recorded = Recorded();
  EXPECT_NE(std::string::npos, recorded.find("\"method\": \"PROPFIND\", \"target\": \"/dav/\""))
      << recorded;
  EXPECT_NE(std::string::npos, recorded.find("[\"Depth\", \"0\"]")) << recorded;
  EXPECT_NE(std::string::npos, recorded.find("[\"Authorization\", \"Basic ")) << recorded;
  EXPECT_NE(std::string::npos, recorded.find("\"body_size\": 0")) << recorded;
}

TEST_F(WebDavProbeTest, ALoadedCredentialKeepsItsServer) {
  AuthCookieWebDAVBase made(CloudServiceId::kWebDAV, dav_->Url("/"), kLogin, kPassword, "");
  auto loaded = std::make_shared<AuthCookieWebDAVBase>(CloudServiceId::kWebDAV,
                                                       made.Serialize("key"), "key");
  ASSERT_TRUE(loaded->HasAccess());
  auto processor = factory_.CreateUrlProcessor(false);
  processor->Open(nullptr);
  processor->SetAuthInfo(loaded);
  loaded->UpdateServerURL(processor);
  EXPECT_EQ(dav_->Url("/"), loaded->GetServer());
}

}  // namespace
