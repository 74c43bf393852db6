// Requests signed by the S3 credential as the request engine sends them:
// recomputed by botocore from what a recording server received, and judged
// by moto's S3 server with signature checking on.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/auth/auth_cookie_s3.h"
#include "core/net/dispatcher_url.h"
#include "core/net/url_processor_impl.h"
#include "core/text/cloud_utils.h"
#include "tests/support/engine_setup.h"
#include "tests/support/read_all.h"
#include "tests/support/server_process.h"
#include "tests/support/test_env.h"

namespace {

using testing_env::ReadAll;
using testing_env::ServerProcess;

constexpr char kAccess[] = "AKIDKORVORECORDED";
constexpr char kSecret[] = "KVSECRET-recorded/+=Xy";
constexpr char kRegion[] = "eu-central-1";

struct Exchange {
  const char* method;
  std::string key;  // unencoded; "" for the bucket itself
  std::string query;
  std::vector<std::string> headers;
};

std::vector<Exchange> Exchanges() {
  const std::string token = "1/a+b==";
  return {
      {"GET", "dir/file with blanks.txt", "", {}},
      {"PUT", "a+b&c%d.txt", "", {"x-amz-acl: public-read", "content-type: text/plain"}},
      {"POST", "\xd0\x94\xd0\xbe\xd0\xba\xd1\x83\xd0\xbc\xd0\xb5\xd0\xbd\xd1\x82.txt", "uploads",
       {}},
      {"PUT", "Cafe\xcc\x81 menu.txt", "partNumber=2&uploadId=abc-123~x", {}},
      {"GET", "", "list-type=2&max-keys=1000&prefix=a%2Fb%2F", {}},
      {"GET", "",
       "list-type=2&continuation-token=" + utils::PercentEncoded(token, true) + "&prefix=a%2F",
       {}},
      // "/" and "=" left raw in the URL sign the same as when encoded.
      {"GET", "", "list-type=2&continuation-token=1/a%2Bb==&delimiter=/", {}},
      {"PUT", "copy target.txt", "",
       {"x-amz-copy-source: /bucket/" + utils::PercentEncoded("a+b&c%d.txt", false)}},
      {"DELETE", "a+b&c%d.txt", "uploadId=abc-123", {}},
      {"DELETE", "dir/file with blanks.txt", "", {}},
  };
}

std::string UrlOf(int port, const Exchange& exchange) {
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/korvo-bucket/" +
                    utils::PercentEncoded(exchange.key, false);
  if (!exchange.query.empty()) url += "?" + exchange.query;
  return url;
}

// Runs one exchange through |processor|; stores the answer's body.
URLProcessor::Result Send(URLProcessor* processor, const std::string& method,
                          const std::string& url, const std::vector<std::string>& headers,
                          const std::string& body, std::string* reply) {
  const DispatcherUrl target = DispatcherUrl::FromString(url);
  if (method == "GET") {
    processor->Get(target, true, true, URLProcessor::Range(), false, headers);
  } else if (method == "PUT") {
    processor->PutWithReply(target, body, true, std::string(), headers);
  } else if (method == "POST") {
    processor->Post(target, std::string_view(body), true, std::string(), headers);
  } else {
    processor->Delete(target, headers, true, true);
  }
  reply->clear();
  ReadAll(processor, reply);
  return processor->Finish();
}

class S3SigningRecordedTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(testing_env::OpenEngineWithoutProxy()); }

  URLProcessorFactoryImpl factory_{"korvo-test", "client"};
};

TEST_F(S3SigningRecordedTest, BotocoreRecomputesEverySignature) {
  ServerProcess server({"python3", KORVO_SOURCE_DIR "/tests/support/recording_http_server.py"});
  ASSERT_TRUE(server.ok());
  auto cookie = std::make_shared<AuthCookieS3>(CloudServiceId::kS3, "korvo-bucket", kAccess,
                                               kSecret, kRegion, "127.0.0.1");
  auto processor = factory_.CreateUrlProcessor(false);
  ASSERT_TRUE(processor->Open(nullptr));
  processor->SetAuthInfo(cookie);
  std::string records;
  const std::vector<Exchange> exchanges = Exchanges();
  for (const Exchange& exchange : exchanges) {
    SCOPED_TRACE(std::string(exchange.method) + " " + UrlOf(server.port(), exchange));
    std::string reply;
    ASSERT_EQ(URLProcessor::SUCCEEDED, Send(processor.get(), exchange.method,
                                            UrlOf(server.port(), exchange), exchange.headers,
                                            exchange.method[0] == 'P' ? "body" : "", &reply));
    // The host line replaces the engine's own (the port is not signed), and
    // the caller's lines go out once, as given.
    EXPECT_NE(std::string::npos, reply.find("[\"Host\", \"127.0.0.1\"]")) << reply;
    EXPECT_EQ(reply.find("[\"Host\", "), reply.rfind("[\"Host\", ")) << reply;
    for (const std::string& line : exchange.headers) {
      const std::string name = line.substr(0, line.find(':'));
      EXPECT_NE(std::string::npos, reply.find("[\"" + name + "\", ")) << reply;
    }
    records += (records.empty() ? "" : ",") + reply;
  }
  // botocore's verdict on each request; with another secret, on none.
  const std::string dir = testing_env::MakeTempDir("sigv4");
  for (const std::string secret : {std::string(kSecret), std::string("KVSECRET-other")}) {
    SCOPED_TRACE(secret == kSecret ? "the signing secret" : "another secret");
    testing_env::WriteFile(dir + "/requests.json",
                           std::string("{\"access\": \"") + kAccess + "\", \"secret\": \"" +
                               secret + "\", \"region\": \"" + kRegion + "\", \"requests\": [" +
                               records + "]}");
    std::string verdicts;
    ASSERT_EQ(0, testing_env::RunCommand("python3 " KORVO_SOURCE_DIR
                                         "/tests/core/auth/sigv4_recheck.py " +
                                             dir + "/requests.json",
                                         &verdicts));
    std::istringstream lines(verdicts);
    std::string line;
    size_t checked = 0;
    while (std::getline(lines, line)) {
      EXPECT_EQ(0u, line.find(secret == kSecret ? "OK " : "MISMATCH ")) << line;
      ++checked;
    }
    EXPECT_EQ(exchanges.size(), checked) << verdicts;
  }
}

TEST_F(S3SigningRecordedTest, AnUnparsableUrlGoesOutUnsigned) {
  AuthCookieS3 cookie(CloudServiceId::kS3, "b", kAccess, kSecret, kRegion, "h");
  EXPECT_TRUE(cookie.HttpHeaders("not a url", "GET", {}).empty());
  EXPECT_EQ(5u, cookie.HttpHeaders("https://h.example/b/k?uploads", "GET", {}).size());
}

// moto's S3 server checks every signature after its set-up requests. It
// recomputes them over a re-encoded URL, so only plain keys and queries
// without "/" can be judged there; the recorded requests above cover the
// rest.
class S3SigningMotoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testing_env::OpenEngineWithoutProxy());
    dir_ = new std::string(testing_env::MakeTempDir("moto"));
    setenv("KORVO_MOTO_SECRET", kMotoSecret, 1);
    server_ = new ServerProcess({"python3", KORVO_SOURCE_DIR "/tests/support/moto_s3_server.py",
                                 *dir_});
    unsetenv("KORVO_MOTO_SECRET");
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(server_->ok()) << "moto_s3_server.py did not start (moto and boto3 come with "
                                  "the machine image's Python)";
    access_ = testing_env::ReadFile(*dir_ + "/access_key");
    ASSERT_FALSE(access_.empty());
  }

  std::shared_ptr<URLProcessor> ProcessorWith(const std::string& secret) {
    auto processor = factory_.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->SetAuthInfo(std::make_shared<AuthCookieS3>(
        CloudServiceId::kS3Amazon, "korvo-signing", access_, secret, "us-east-1", "127.0.0.1"));
    return processor;
  }

  std::string Url(const std::string& path) { return server_->Url(path); }

  static constexpr char kMotoSecret[] = "KVSECRET-moto-secret-key";
  static inline ServerProcess* server_ = nullptr;
  static inline std::string* dir_ = nullptr;
  std::string access_;
  URLProcessorFactoryImpl factory_{"korvo-test", "client"};
};

TEST_F(S3SigningMotoTest, SignedRequestsAreAcceptedAndAWrongSecretIsNot) {
  auto processor = ProcessorWith(kMotoSecret);
  std::string reply;
  ASSERT_EQ(URLProcessor::SUCCEEDED,
            Send(processor.get(), "PUT", Url("/korvo-signing"), {}, "", &reply))
      << reply;
  ASSERT_EQ(URLProcessor::SUCCEEDED,
            Send(processor.get(), "PUT", Url("/korvo-signing/plain-key.txt"),
                 {"x-amz-acl: public-read", "content-type: text/plain"}, "signed body", &reply))
      << reply;
  ASSERT_EQ(URLProcessor::SUCCEEDED,
            Send(processor.get(), "GET", Url("/korvo-signing/plain-key.txt"), {}, "", &reply));
  EXPECT_EQ("signed body", reply);
  ASSERT_EQ(URLProcessor::SUCCEEDED,
            Send(processor.get(), "GET", Url("/korvo-signing?list-type=2&max-keys=1000&prefix=plain"),
                 {}, "", &reply));
  EXPECT_NE(std::string::npos, reply.find("<Key>plain-key.txt</Key>")) << reply;
  ASSERT_EQ(URLProcessor::SUCCEEDED,
            Send(processor.get(), "POST", Url("/korvo-signing/big.bin?uploads"), {}, "", &reply))
      << reply;
  EXPECT_NE(std::string::npos, reply.find("<UploadId>")) << reply;

  auto wrong = ProcessorWith("KVSECRET-moto-wrong-key");
  EXPECT_EQ(URLProcessor::FORBIDDEN,
            Send(wrong.get(), "GET", Url("/korvo-signing/plain-key.txt"), {}, "", &reply));
  EXPECT_NE(std::string::npos, reply.find("SignatureDoesNotMatch")) << reply;

  EXPECT_EQ(URLProcessor::NO_CONTENT,
            Send(processor.get(), "DELETE", Url("/korvo-signing/plain-key.txt"), {}, "", &reply));
}

}  // namespace
