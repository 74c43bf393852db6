// The request engine against a scripted loopback server.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/net/auth_info_provider.h"
#include "core/net/dispatcher_url.h"
#include "core/net/json_xml.h"
#include "core/net/url_processor_impl.h"
#include "core/text/cloud_utils.h"
#include "core/text/encoding_utils.h"
#include "tests/support/test_env.h"
#include "tests/support/engine_setup.h"
#include "tests/support/log_watch.h"
#include "tests/support/read_all.h"
#include "tests/support/server_process.h"
#include "tests/support/shared_servers.h"

namespace {

using testing_env::LogWatch;
using testing_env::ReadAll;
using testing_env::ServerProcess;

std::string Pattern(size_t n) {
  std::string out(n, '\0');
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<char>(((i % (1 << 20)) * 7 + (i % (1 << 20)) / 251) % 256);
  return out;
}

class RequestEngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testing_env::OpenEngineWithoutProxy());
  }

  void SetUp() override { ASSERT_TRUE(server_.ok()) << server_.error; }

  std::shared_ptr<URLProcessor> NewProcessor(int timeout = 30) {
    auto processor = factory_.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->SetTimeout(timeout);
    return processor;
  }

  DispatcherUrl Url(const std::string& path) {
    return DispatcherUrl::FromString(server_.Url(path));
  }

  const testing_env::SharedServerInfo& server_ = testing_env::SharedServer("scripted");
  URLProcessorFactoryImpl factory_{"korvo-test", "client"};
};


TEST_F(RequestEngineTest, DownloadsABodyInPieces) {
  auto processor = NewProcessor();
  const size_t size = 5 * 1000 * 1000 + 3;
  processor->Get(Url("/bytes/" + std::to_string(size)), false, true, URLProcessor::Range(),
                 false, {});
  std::string body;
  EXPECT_EQ(InputStream::kEnd, ReadAll(processor.get(), &body, 100000));
  EXPECT_EQ(size, static_cast<size_t>(processor->InputLength()));
  EXPECT_TRUE(body == Pattern(size));
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
  EXPECT_EQ(200, processor->LastResponseCode());
  EXPECT_EQ("application/octet-stream", processor->LastResponseContentType());

  // The processor is reusable, and a tiny buffer gets everything too.
  processor->Get(Url("/bytes/1000"), false, true, URLProcessor::Range(), false, {});
  body.clear();
  EXPECT_EQ(InputStream::kEnd, ReadAll(processor.get(), &body, 7));
  EXPECT_TRUE(body == Pattern(1000));
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
}

TEST_F(RequestEngineTest, StatusCodesMapToResults) {
  struct Case {
    int status;
    URLProcessor::Result result;
  } const kCases[] = {
      {200, URLProcessor::SUCCEEDED},  {201, URLProcessor::CREATED},
      {202, URLProcessor::SUCCEEDED},  {204, URLProcessor::NO_CONTENT},
      {207, URLProcessor::MULTI_STATUS}, {403, URLProcessor::FORBIDDEN},
      {404, URLProcessor::NOT_FOUND},  {429, URLProcessor::LINK_LIMIT},
      {451, URLProcessor::BLOB_BLOCKED}, {500, URLProcessor::OTHER_FAILED},
      {302, URLProcessor::OTHER_FAILED},
  };
  auto processor = NewProcessor();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.status);
    processor->Get(Url("/status/" + std::to_string(c.status)), false, true,
                   URLProcessor::Range(), false, {});
    std::string body;
    ReadAll(processor.get(), &body);
    EXPECT_EQ(c.result, processor->Finish());
    EXPECT_EQ(c.status, processor->LastResponseCode());
  }
  // GetJSON keeps the tree only for a success.
  auto missing = processor->GetJSON(Url("/status/404"), {});
  ASSERT_FALSE(missing.HasValue());
  EXPECT_EQ(URLProcessor::NOT_FOUND, missing.GetError());
  auto found = processor->GetJSON(Url("/status/200"), {});
  ASSERT_TRUE(found.HasValue());
  EXPECT_EQ("200", found.GetValue()->get<std::string>("status"));
}

TEST_F(RequestEngineTest, RedirectsAreFollowedWhenAsked) {
  auto processor = NewProcessor();
  processor->Get(Url("/redirect/10"), false, true, URLProcessor::Range(), true, {});
  EXPECT_EQ(InputStream::kData, processor->ReadResponseCode());
  EXPECT_EQ(200, processor->LastResponseCode());
  std::string body;
  ReadAll(processor.get(), &body);
  EXPECT_TRUE(body == Pattern(10));
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());

  processor->Get(Url("/redirect/10"), false, true, URLProcessor::Range(), false, {});
  EXPECT_EQ(InputStream::kData, processor->ReadResponseCode());
  EXPECT_EQ(302, processor->LastResponseCode());
  processor->ReadSkipAll();
  EXPECT_EQ(URLProcessor::OTHER_FAILED, processor->Finish());
}

TEST_F(RequestEngineTest, AStalledBodyTimesOut) {
  auto processor = NewProcessor(/*timeout=*/3);
  LogWatch watch;
  processor->Get(Url("/stall"), false, true, URLProcessor::Range(), false, {});
  std::string body;
  EXPECT_EQ(InputStream::kEnd, ReadAll(processor.get(), &body));
  EXPECT_EQ(10u, body.size());
  EXPECT_TRUE(watch.Contains("Read timed out (3sec)."));
  EXPECT_EQ(URLProcessor::NETWORK_FAILED, processor->Finish());
}

TEST_F(RequestEngineTest, AStopFromAnotherThreadEndsAStalledRead) {
  auto processor = NewProcessor(/*timeout=*/600);
  processor->Get(Url("/stall-headers"), false, true, URLProcessor::Range(), false, {});
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    factory_.StopAllProcessors();
  });
  std::string body;
  EXPECT_EQ(InputStream::kStopped, ReadAll(processor.get(), &body));
  stopper.join();
  EXPECT_EQ(URLProcessor::STOPPED, processor->Finish());

  // A stopped processor starts nothing until Start().
  processor->Get(Url("/bytes/10"), false, true, URLProcessor::Range(), false, {});
  unsigned char byte;
  unsigned int read = 0;
  EXPECT_EQ(InputStream::kStopped, processor->Read(&byte, 1, &read));
  EXPECT_EQ(URLProcessor::STOPPED, processor->Finish());
  processor->Start();
  processor->Get(Url("/bytes/10"), false, true, URLProcessor::Range(), false, {});
  body.clear();
  ReadAll(processor.get(), &body);
  EXPECT_EQ(10u, body.size());
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
}

TEST_F(RequestEngineTest, ResetsAndClosedPortsAreNetworkFailures) {
  auto processor = NewProcessor();
  processor->Get(Url("/reset"), false, true, URLProcessor::Range(), false, {});
  std::string body;
  ReadAll(processor.get(), &body);
  EXPECT_LT(body.size(), 1000u);
  EXPECT_EQ(URLProcessor::NETWORK_FAILED, processor->Finish());

  // A port nobody listens on: the server's port after it is gone.
  int port = 0;
  {
    ServerProcess gone(testing_env::ScriptedHttpServerCommand());
    port = gone.port();
  }
  processor->Get(DispatcherUrl::FromString("http://127.0.0.1:" + std::to_string(port) + "/x"),
                 false, true, URLProcessor::Range(), false, {});
  body.clear();
  EXPECT_EQ(InputStream::kEnd, ReadAll(processor.get(), &body));
  EXPECT_EQ(URLProcessor::NETWORK_FAILED, processor->Finish());
}

TEST_F(RequestEngineTest, UploadsStreamThroughManyWrites) {
  auto processor = NewProcessor();
  const std::string body = Pattern(3 * 1000 * 1000 + 11);
  std::string reply;
  processor->Put(Url("/echo"), body.size(), false, {}, &reply);
  for (size_t offset = 0; offset < body.size(); offset += 65536) {
    ASSERT_EQ(OutputStream::kAccepted,
              processor->Write(std::string_view(body).substr(offset, 65536)))
        << offset;
  }
  EXPECT_EQ(URLProcessor::CREATED, processor->Finish());
  EXPECT_EQ(0u, reply.find("size=" + std::to_string(body.size()) + " md5="));

  // An in-memory body, with a reply to read.
  processor->PutWithReply(Url("/echo"), "hello", false, "text/plain", {});
  std::string answer;
  ReadAll(processor.get(), &answer);
  EXPECT_EQ("size=5 md5=5d41402abc4b2a76b9719d911017c592", answer);
  EXPECT_EQ(URLProcessor::CREATED, processor->Finish());
}

TEST_F(RequestEngineTest, InterimHeaderBlocksAreNotTheAnswer) {
  // 100 and 102 blocks before the answer: the status is the final one, and
  // the collected headers hold every block with the final ones last.
  auto processor = NewProcessor();
  std::string headers;
  processor->SetResponseHeadersBuffer(&headers);
  processor->Get(Url("/interim"), false, true, URLProcessor::Range(), false, {});
  EXPECT_EQ(InputStream::kData, processor->ReadResponseCode());
  EXPECT_EQ(200, processor->LastResponseCode());
  std::string body;
  EXPECT_EQ(InputStream::kEnd, ReadAll(processor.get(), &body));
  EXPECT_EQ("final", body);
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
  EXPECT_EQ(0u, headers.find("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n"));
  EXPECT_NE(std::string::npos, headers.find("HTTP/1.1 200 OK\r\n"));
  EXPECT_EQ("\"final-etag\"", GetValueFromHTTPHeaders(headers, "ETag", false));

  // An upload that asks for "100 Continue" first (the server grants it).
  const std::string upload = Pattern(2 * 1000 * 1000);
  headers.clear();
  std::string reply;
  processor->Put(Url("/echo"), upload.size(), false, {"Expect: 100-continue"}, &reply);
  for (size_t offset = 0; offset < upload.size(); offset += 100000) {
    ASSERT_EQ(OutputStream::kAccepted,
              processor->Write(std::string_view(upload).substr(offset, 100000)));
  }
  EXPECT_EQ(URLProcessor::CREATED, processor->Finish());
  EXPECT_EQ(201, processor->LastResponseCode());
  EXPECT_EQ(0u, headers.find("HTTP/1.1 100 Continue\r\n"));
  EXPECT_NE(std::string::npos, headers.find("201 Created"));
  EXPECT_EQ(0u, reply.find("size=2000000 "));
}

class BearerAuth : public AuthInfoProvider {
 public:
  std::string HttpHeader() const override { return "Authorization: Bearer KVSECRET-t0ken"; }
  std::string UrlParams(const std::string& client_id) const override {
    return "client=" + client_id;
  }
};

TEST_F(RequestEngineTest, TracesMaskSecretsAndUrlsHideTokens) {
  auto processor = NewProcessor();
  auto* impl = static_cast<URLProcessorImpl*>(processor.get());
  impl->SetVerboseLogs(true);
  processor->SetAuthInfo(std::make_shared<BearerAuth>());
  processor->EnableHideTokenFromLogs();
  LogWatch watch;
  processor->Get(Url("/headers?access_token=KVSECRET-abc"), true, true, URLProcessor::Range(), false,
                 {"Cookie: session=KVSECRET-c00kie"});
  std::string body;
  ReadAll(processor.get(), &body);
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
  // The server saw the secrets...
  EXPECT_NE(std::string::npos, body.find("Bearer KVSECRET-t0ken"));
  EXPECT_NE(std::string::npos, body.find("session=KVSECRET-c00kie"));
  // ...the log did not.
  const std::string log = watch.Text();
  EXPECT_EQ(std::string::npos, log.find("KVSECRET-t0ken"));
  EXPECT_EQ(std::string::npos, log.find("KVSECRET-c00kie"));
  EXPECT_EQ(std::string::npos, log.find("access_token=KVSECRET-abc"));
  EXPECT_NE(std::string::npos, log.find("Authorization: <masked>"));
  EXPECT_NE(std::string::npos, log.find("/headers?<hidden get parameters>"));
  EXPECT_EQ(impl->FilterOutTokensFromURL("https://h/token/x"), "https://h/token/x");
}

TEST_F(RequestEngineTest, ProcessorsOnManyThreadsShareTheEngine) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      auto processor = NewProcessor();
      for (int round = 0; round < 5; ++round) {
        const size_t size = 100000 + t * 1000 + round;
        processor->Get(Url("/bytes/" + std::to_string(size)), false, true,
                       URLProcessor::Range(), false, {});
        std::string body;
        ReadAll(processor.get(), &body, 8192);
        if (processor->Finish() == URLProcessor::SUCCEEDED && body == Pattern(size)) ++good;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(20, good.load());
}

// Waits (without a deadline of its own: ctest's time-out ends a hang) until
// |processor| is inside an operation on another thread.
void WaitUntilInUse(URLProcessorImpl* processor) {
  while (!processor->IsInUseForTesting()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

TEST_F(RequestEngineTest, CloseFromAnotherThreadStopsAStalledReadAndWaitsForIt) {
  auto processor = NewProcessor();
  auto* impl = static_cast<URLProcessorImpl*>(processor.get());
  LogWatch watch;
  processor->Get(Url("/stall"), false, true, URLProcessor::Range(), false, {});
  unsigned char buffer[100];
  unsigned int read = 0;
  ASSERT_EQ(InputStream::kData, processor->Read(buffer, sizeof(buffer), &read));  // 10 bytes
  std::atomic<InputStream::Result> second{InputStream::kData};
  std::thread reader([&] {
    unsigned char more[100];
    unsigned int got = 0;
    second = processor->Read(more, sizeof(more), &got);
  });
  WaitUntilInUse(impl);
  processor->ResetCallbacks();
  factory_.ResetCallbacks();
  processor->Close();
  // Close returned only after the Read did.
  EXPECT_FALSE(impl->IsInUseForTesting());
  reader.join();
  EXPECT_EQ(InputStream::kStopped, second.load());
  EXPECT_TRUE(watch.Contains("URLProcessor is used from some other thread while being closed."));
  // Closed and usable again; the stop that Close made is not left behind.
  EXPECT_FALSE(processor->IsStopped());
  ASSERT_TRUE(processor->Open(nullptr));
  processor->Get(Url("/bytes/1000"), false, true, URLProcessor::Range(), false, {});
  std::string body;
  ReadAll(processor.get(), &body);
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
  EXPECT_TRUE(body == Pattern(1000));
}

TEST_F(RequestEngineTest, CallbacksResetFromAnotherThreadDuringAStalledUpload) {
  const std::string dir = testing_env::MakeTempDir("upload");
  const std::string path = dir + "/big.bin";
  testing_env::WriteFile(path, Pattern(8 << 20));
  auto processor = NewProcessor();
  auto* impl = static_cast<URLProcessorImpl*>(processor.get());
  std::atomic<int> calls{0};
  std::atomic<InputStream::Result> answer{InputStream::kData};
  std::thread uploader([&] {
    processor->Post(Url("/stall-upload"), unicode::Utf8ToUtf16(path), false,
                    [&](int) { ++calls; });
    answer = processor->ReadResponseCode();
  });
  WaitUntilInUse(impl);
  // The engine's thread calls the callback while these replace it.
  for (int i = 0; i < 50; ++i) {
    processor->ResetCallbacks();
    factory_.ResetCallbacks();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  processor->Close();
  uploader.join();
  EXPECT_EQ(InputStream::kStopped, answer.load());
}

TEST_F(RequestEngineTest, DestructorWaitsForARunningRead) {
  auto processor = NewProcessor();
  auto* impl = static_cast<URLProcessorImpl*>(processor.get());
  URLProcessor* raw = processor.get();
  raw->Get(Url("/stall"), false, true, URLProcessor::Range(), false, {});
  unsigned char buffer[100];
  unsigned int read = 0;
  ASSERT_EQ(InputStream::kData, raw->Read(buffer, sizeof(buffer), &read));  // 10 bytes
  std::atomic<InputStream::Result> result{InputStream::kData};
  std::thread reader([&] {
    unsigned char more[100];
    unsigned int got = 0;
    // The body stalls: this Read ends only when it is stopped. Nothing of
    // the processor is touched after it returned.
    result = raw->Read(more, sizeof(more), &got);
  });
  WaitUntilInUse(impl);
  processor.reset();  // the destructor runs while the Read does
  reader.join();
  EXPECT_EQ(InputStream::kStopped, result.load());
}

// A port where nothing listens: a proxy there refuses every connection.
int DeadPort() {
  ServerProcess gone(testing_env::ScriptedHttpServerCommand());
  return gone.port();
}

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST_F(RequestEngineTest, OnlyTheSystemModeLetsTheEnvironmentChooseTheRoute) {
  const std::string dead = "127.0.0.1:" + std::to_string(DeadPort());
  ScopedEnv no_proxy_upper("NO_PROXY", "127.0.0.1,localhost");
  ScopedEnv no_proxy_lower("no_proxy", "127.0.0.1,localhost");
  ScopedEnv http_proxy("http_proxy", "http://alice:KVSECRET-proxy@" + dead);
  auto fetch = [&](const NetworkSettings& settings) {
    URLProcessorImpl::SetSettings(settings);
    URLProcessorImpl::ResetSystemProxyCacheForTesting();
    auto processor = NewProcessor(10);
    processor->Get(Url("/bytes/100"), false, true, URLProcessor::Range(), false, {});
    std::string body;
    ReadAll(processor.get(), &body);
    return processor->Finish();
  };
  LogWatch watch;
  // A proxy chosen by hand is used for every host, NO_PROXY or not: the dead
  // proxy fails the request instead of a silent direct connection.
  NetworkSettings manual;
  manual.mode = NetworkSettings::kManualProxy;
  manual.host = "127.0.0.1";
  manual.port = std::stoi(dead.substr(dead.find(':') + 1));
  EXPECT_EQ(URLProcessor::NETWORK_FAILED, fetch(manual));
  // No proxy: direct, whatever http_proxy says.
  NetworkSettings none;
  none.mode = NetworkSettings::kNoProxy;
  EXPECT_EQ(URLProcessor::SUCCEEDED, fetch(none));
  // The system mode takes the environment whole: its proxy and its
  // exceptions (127.0.0.1 goes direct).
  NetworkSettings system;
  system.mode = NetworkSettings::kSystemProxy;
  EXPECT_EQ(URLProcessor::SUCCEEDED, fetch(system));
  {
    ScopedEnv no_exceptions_upper("NO_PROXY", "");
    ScopedEnv no_exceptions_lower("no_proxy", "");
    EXPECT_EQ(URLProcessor::NETWORK_FAILED, fetch(system));
  }
  EXPECT_TRUE(watch.Contains("Using system proxy: http://" + dead));
  EXPECT_FALSE(watch.Contains("KVSECRET"));
  URLProcessorImpl::SetSettings(none);
}

}  // namespace
