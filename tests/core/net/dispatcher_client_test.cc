// The dispatcher client against the scripted dispatcher.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/infra/tally_logger.h"
#include "core/metrics/tally_logger_impl.h"
#include "core/net/dispatcher_client.h"
#include "core/net/url_processor_impl.h"
#include "tests/support/engine_setup.h"
#include "tests/support/log_watch.h"
#include "tests/support/maker_services.h"

namespace {

using testing_env::LogWatch;
using testing_env::MakerServices;

constexpr char kAnswer[] = R"({
  "settings": {
    "Download": {"ip": "127.0.0.1", "url": "https://download.example/d"},
    "Unknown": {"ip": "10.0.0.1"},
    "Upload": {"ip": "127.0.0.2", "url": "https://upload.example/u"}
  },
  "ttl": "60"
})";

class DispatcherClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testing_env::OpenEngineWithoutProxy());
  }

  void SetUp() override {
    ASSERT_TRUE(services_.ok());
    VTDispatcherClientImpl::ResetForTesting();
    VTDispatcherClientImpl::SetClockForTesting([this] { return now_.load(); });
    VTDispatcherClient::SetDispatcherUrl(services_.Url("/dispatcher"));
    VTDispatcherClient::SetURLProcessorFactory(factory_);
    client_ = VTDispatcherClient::Create();
    ASSERT_NE(nullptr, client_);
    services_.SetDispatcherAnswer(200, kAnswer);
  }
  void TearDown() override { VTDispatcherClientImpl::ResetForTesting(); }

  size_t Asked() { return services_.Requests("dispatcher").size(); }

  MakerServices services_;
  std::shared_ptr<URLProcessorFactoryImpl> factory_ =
      std::make_shared<URLProcessorFactoryImpl>("korvo-test", "client");
  std::shared_ptr<VTDispatcherClient> client_;
  std::atomic<int64_t> now_{1'800'000'000};
};

TEST_F(DispatcherClientTest, CachesForTheLifetimeAndTheUseCount) {
  DispatcherUrl url;
  ASSERT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Download, &url));
  EXPECT_EQ("https://download.example/d", url.Url());
  EXPECT_EQ("127.0.0.1", url.IP());
  ASSERT_EQ(1u, Asked());
  const auto request = services_.Requests("dispatcher")[0];
  EXPECT_EQ("application/json", request.content_type);
  EXPECT_EQ(R"({"platform":"Korvo","version":"1.23"})", request.body.substr(0, 37));
  EXPECT_EQ(60, VTDispatcherClientImpl::CacheTimeoutForTesting());

  // 250 uses from the cache, then the 251st asks again.
  for (int i = 0; i < 250; ++i) {
    ASSERT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Download, &url));
  }
  EXPECT_EQ(1u, Asked());
  EXPECT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Download, &url));
  EXPECT_EQ(2u, Asked());
  // Another service of the same answer counts its own uses.
  EXPECT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Upload, &url));
  EXPECT_EQ("https://upload.example/u", url.Url());
  EXPECT_EQ(2u, Asked());

  // The lifetime: 60 s still serves, 61 s asks again.
  now_ += 60;
  client_->GetUrl(VTDispatcherClient::Upload, &url);
  EXPECT_EQ(2u, Asked());
  now_ += 61;
  client_->GetUrl(VTDispatcherClient::Upload, &url);
  EXPECT_EQ(3u, Asked());
  // A clock moved back asks again.
  now_ -= 1000;
  client_->GetUrl(VTDispatcherClient::Upload, &url);
  EXPECT_EQ(4u, Asked());
  client_->GetUrl(VTDispatcherClient::Upload, &url);
  EXPECT_EQ(4u, Asked());

  // ResetCounter forgets one service.
  client_->ResetCounter(VTDispatcherClient::Upload);
  client_->GetUrl(VTDispatcherClient::Download, &url);
  EXPECT_EQ(4u, Asked());
  client_->GetUrl(VTDispatcherClient::Upload, &url);
  EXPECT_EQ(5u, Asked());
}

TEST_F(DispatcherClientTest, AMissingOrBadTtlKeepsTheLifetime) {
  DispatcherUrl url;
  ASSERT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Download, &url));
  EXPECT_EQ(60, VTDispatcherClientImpl::CacheTimeoutForTesting());
  struct Case {
    const char* ttl;  // the member as it stands in the answer
    int64_t timeout;
    const char* log;
  } const kCases[] = {
      {"", 60, "Missing ttl field in dispatcher response: "},
      {R"(, "ttl": "soon")", 60, "Invalid ttl field in dispatcher response: "},
      {R"(, "ttl": "-5")", 60, "Invalid ttl field in dispatcher response: "},
      {R"(, "ttl": 120)", 120, nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ttl);
    services_.SetDispatcherAnswer(
        200, std::string(R"({"settings": {"Metad": {"ip": "127.0.0.3", "url": "http://m/"}})") +
                 c.ttl + "}");
    LogWatch watch;
    client_->ResetCounter(VTDispatcherClient::Metad);
    ASSERT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Metad, &url));
    EXPECT_EQ("http://m/", url.Url());
    EXPECT_EQ(c.timeout, VTDispatcherClientImpl::CacheTimeoutForTesting());
    if (c.log != nullptr) {
      EXPECT_TRUE(watch.Contains(c.log));
    }
  }
}

TEST_F(DispatcherClientTest, BadAnswersAreMappedAndNeverCached) {
  struct Case {
    int status;
    const char* body;
    VTDispatcherClient::Result result;
    const char* log;
  } const kCases[] = {
      {200, "not json", VTDispatcherClient::FAILED,
       "Failed parse json, e: \""},
      {200, "", VTDispatcherClient::FAILED, "Missing settings field in dispatcher response: "},
      {200, R"({"ttl": 5})", VTDispatcherClient::FAILED,
       "Missing settings field in dispatcher response: "},
      {200, R"({"settings": {"Upload": {"ip": "1.2.3.4", "url": "http://u/"}}})",
       VTDispatcherClient::FAILED, "Can't find service in cache after repeated request."},
      {200, R"({"settings": {"Download": {"url": "http://d/"}, "Upload": {"ip": "1.2.3.4", "url": "http://u/"}}})",
       VTDispatcherClient::FAILED, "Missing ip field in dispatcher response for service: Download"},
      {200, R"({"settings": {"Download": {"ip": "1.2.3.4"}}})", VTDispatcherClient::FAILED,
       "Missing url field in dispatcher response for service: Download"},
      {200, R"({"settings": {"Download": {"ip": "1.2.3.4", "url": "file:///etc/passwd"}}})",
       VTDispatcherClient::FAILED, "Invalid url field in dispatcher response for service: Download"},
      {500, "{}", VTDispatcherClient::FAILED, "Other failed."},
      // Unexpected results; with no entry to fall back on, FAILED.
      {404, "{}", VTDispatcherClient::FAILED, "Invalid response code."},
      {403, "{}", VTDispatcherClient::FAILED, "Invalid response code."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.body);
    VTDispatcherClientImpl::ResetForTesting();
    VTDispatcherClientImpl::SetClockForTesting([this] { return now_.load(); });
    VTDispatcherClient::SetDispatcherUrl(services_.Url("/dispatcher"));
    VTDispatcherClient::SetURLProcessorFactory(factory_);
    services_.SetDispatcherAnswer(c.status, c.body);
    LogWatch watch;
    DispatcherUrl url = DispatcherUrl::FromString("http://untouched/");
    EXPECT_EQ(c.result, client_->GetUrl(VTDispatcherClient::Download, &url));
    EXPECT_EQ("http://untouched/", url.Url());
    EXPECT_TRUE(watch.Contains(c.log)) << watch.Text();
  }
  // After a service without "ip", the ones behind it in that answer are not
  // cached either.
  VTDispatcherClientImpl::ResetForTesting();
  VTDispatcherClient::SetDispatcherUrl(services_.Url("/dispatcher"));
  VTDispatcherClient::SetURLProcessorFactory(factory_);
  services_.SetDispatcherAnswer(
      200, R"({"settings": {"Download": {"url": "http://d/"}, "Upload": {"ip": "1.2.3.4", "url": "http://u/"}}, "ttl": 60})");
  DispatcherUrl url;
  EXPECT_EQ(VTDispatcherClient::FAILED, client_->GetUrl(VTDispatcherClient::Upload, &url));
  EXPECT_TRUE(url.IsEmpty());
}

TEST_F(DispatcherClientTest, FailedRefreshesDeliverTheOldEntryOnlyForNonNetworkFailures) {
  DispatcherUrl url;
  ASSERT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Download, &url));
  now_ += 3600;  // past the lifetime

  // TLS fails (HTTPS to a plain HTTP port): the old entry with SSL_FAILED.
  VTDispatcherClient::SetDispatcherUrl("https://127.0.0.1:" + std::to_string(services_.port()) +
                                       "/dispatcher");
  url.Clear();
  EXPECT_EQ(VTDispatcherClient::SSL_FAILED, client_->GetUrl(VTDispatcherClient::Download, &url));
  EXPECT_EQ("https://download.example/d", url.Url());

  // Nobody listens: nothing at all.
  int closed_port = 0;
  {
    testing_env::ServerProcess gone(testing_env::ScriptedHttpServerCommand());
    closed_port = gone.port();
  }
  VTDispatcherClient::SetDispatcherUrl("http://127.0.0.1:" + std::to_string(closed_port) + "/d");
  url.Clear();
  EXPECT_EQ(VTDispatcherClient::NETWORK_FAILED,
            client_->GetUrl(VTDispatcherClient::Download, &url));
  EXPECT_TRUE(url.IsEmpty());
}

TEST_F(DispatcherClientTest, EachFailedRefreshSendsItsErrorMetric) {
  auto metrics = std::make_shared<TallyLoggerImpl>(services_.Url(""));
  ASSERT_TRUE(TallyLogger::instance().Open(factory_, metrics, "test"));
  services_.SetDispatcherAnswer(500, "{}");
  DispatcherUrl url;
  EXPECT_EQ(VTDispatcherClient::FAILED, client_->GetUrl(VTDispatcherClient::Download, &url));
  services_.SetDispatcherAnswer(200, kAnswer);
  EXPECT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Download, &url));
  EXPECT_TRUE(metrics->WaitEmptyQueue(20000));
  TallyLogger::instance().Close();
  const auto sent = services_.Requests("metrics");
  ASSERT_EQ(1u, sent.size());
  EXPECT_NE(std::string::npos, sent[0].path.find("&i=dispatcher_code_500:1&v=0")) << sent[0].path;
}

TEST_F(DispatcherClientTest, ManyThreadsAtOnceCauseOneRefresh) {
  services_.SetDispatcherAnswer(200, kAnswer, /*delay=*/0.3);
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  std::atomic<int> succeeded{0};
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      auto client = VTDispatcherClient::Create();
      DispatcherUrl url;
      const auto type = i % 2 ? VTDispatcherClient::Download : VTDispatcherClient::Upload;
      if (client->GetUrl(type, &url) == VTDispatcherClient::SUCCEEDED && !url.IsEmpty()) {
        ++succeeded;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(kThreads, succeeded.load());
  EXPECT_EQ(1u, Asked());
}

// Processors with a short time-out, so that a stalled dispatcher ends soon.
class ShortTimeoutFactory : public URLProcessorFactoryImpl {
 public:
  ShortTimeoutFactory() : URLProcessorFactoryImpl("korvo-test", "client") {}
  std::shared_ptr<URLProcessor> CreateUrlProcessor(bool flag) override {
    auto processor = URLProcessorFactoryImpl::CreateUrlProcessor(flag);
    processor->SetTimeout(3);
    return processor;
  }
};

TEST_F(DispatcherClientTest, AStalledDispatcherEndsWithTheEngineTimeout) {
  DispatcherUrl url;
  ASSERT_EQ(VTDispatcherClient::SUCCEEDED, client_->GetUrl(VTDispatcherClient::Download, &url));
  VTDispatcherClient::SetURLProcessorFactory(std::make_shared<ShortTimeoutFactory>());
  services_.SetDispatcherStall();
  now_ += 3600;
  LogWatch watch;
  url.Clear();
  EXPECT_EQ(VTDispatcherClient::NETWORK_FAILED,
            client_->GetUrl(VTDispatcherClient::Download, &url));
  EXPECT_TRUE(url.IsEmpty());
  EXPECT_TRUE(watch.Contains("Network failed."));
}

TEST_F(DispatcherClientTest, StopsReleaseWaitersAndTheFinalCloseIsFinal) {
  services_.SetDispatcherStall();
  std::atomic<int> results[3] = {{-1}, {-1}, {-1}};
  // One client inside (stalled on the dispatcher), two waiting behind it.
  std::vector<std::shared_ptr<VTDispatcherClient>> clients;
  for (int i = 0; i < 3; ++i) clients.push_back(VTDispatcherClient::Create());
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, i] {
      DispatcherUrl url;
      results[i] = clients[i]->GetUrl(VTDispatcherClient::Download, &url);
    });
    if (i == 0) {
      while (Asked() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(-1, results[2].load());  // waiting
  // Stopping a waiting client releases it alone.
  clients[2]->Stop();
  threads[2].join();
  EXPECT_EQ(VTDispatcherClient::STOPPED, results[2].load());
  EXPECT_EQ(-1, results[1].load());

  VTDispatcherClient::FinalCloseDispatcher();
  threads[0].join();
  threads[1].join();
  EXPECT_EQ(VTDispatcherClient::STOPPED, results[0].load());
  EXPECT_EQ(VTDispatcherClient::STOPPED, results[1].load());
  DispatcherUrl url;
  EXPECT_EQ(VTDispatcherClient::STOPPED, clients[1]->GetUrl(VTDispatcherClient::Upload, &url));
  EXPECT_EQ(1u, Asked());
  VTDispatcherClient::FinalCloseDispatcher();  // again: returns at once
}

}  // namespace
