// The metrics sender: the URLs it builds, and its queue against the scripted
// metrics service.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "core/metrics/requestor.h"
#include "core/infra/tally_logger.h"
#include "core/metrics/tally_logger_impl.h"
#include "core/net/url_processor_impl.h"
#include "tests/support/engine_setup.h"
#include "tests/support/log_watch.h"
#include "tests/support/maker_services.h"

namespace {

using testing_env::LogWatch;
using testing_env::MakerServices;

constexpr char kBase[] = "https://metrics.test/update?p=cloud&t=cloud_o_windows_drive";

TEST(TallyUrlTest, NamesAreCutAndCleaned) {
  struct Case {
    const char* name;
    const char* sent;
  } const kCases[] = {
      {"dispatcher_code_404", "dispatcher_code_404"},
      {"ssl failed!", "ssl_failed_"},
      {"abcdefghijklmnopqrstuvwxyz01234", "abcdefghijklmnopqrstuvwxyz01234"},  // 31
      {"abcdefghij-lmnopqrstuvwxyz0123456789ABCD", "0abcdefghij_lmnopqrstuvwxyz0123"},
      {"имя", "______"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.sent, TallyLoggerImpl::CleanMetricName(c.name)) << c.name;
  }
}

TEST(TallyUrlTest, Layout) {
  TallyLoggerImpl impl("https://metrics.test/");
  // Not opened: the URL is still built the same way.
  impl.Open(nullptr, "drive");
  EXPECT_EQ(std::string(kBase) + "&i=files:3&v=0", impl.GenerateTallyUrl("files", 3, "", true));
  EXPECT_EQ(std::string(kBase) + "&i=files:-1&v=0&add=a%2Fb%20c",
            impl.GenerateTallyUrl("files", -1, "a/b c", false));

  impl.SetEmail("user+tag@mail.test");
  impl.SetInstallationId("iid-1");
  impl.SetUtm("spring");
  impl.SetGCLID("g\"1");
  EXPECT_EQ(std::string(kBase) + "&i=m:1&v=0&e=user%2Btag%40mail.test&iid=iid-1",
            impl.GenerateTallyUrl("m", 1, "", false));
  EXPECT_EQ(std::string(kBase) +
                "&i=m:1&v=0&e=user%2Btag%40mail.test&iid=iid-1&utm=spring"
                "&dwh=%7B%22gclid%22%3A%22g%5C%221%22%7D",
            impl.GenerateTallyUrl("m", 1, "", true));

  // "add": at most its first 260 bytes, and only on a URL below 256.
  TallyLoggerImpl plain("https://metrics.test");
  plain.Open(nullptr, "drive");
  const std::string add(300, 'x');
  EXPECT_EQ(std::string(kBase) + "&i=m:1&v=0&add=" + std::string(260, 'x'),
            plain.GenerateTallyUrl("m", 1, add, false));
  plain.SetEmail(std::string(256 - std::string(kBase).size() - 13, 'e'));
  std::string url = plain.GenerateTallyUrl("m", 1, "", false);
  ASSERT_EQ(256u, url.size());
  EXPECT_EQ(url, plain.GenerateTallyUrl("m", 1, add, false));
  plain.SetEmail(std::string(256 - std::string(kBase).size() - 14, 'e'));
  url = plain.GenerateTallyUrl("m", 1, "", false);
  ASSERT_EQ(255u, url.size());
  EXPECT_EQ(url + "&add=" + std::string(260, 'x'), plain.GenerateTallyUrl("m", 1, add, false));
}

class MetricsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testing_env::OpenEngineWithoutProxy());
  }
  void SetUp() override { ASSERT_TRUE(services_.ok()); }

  std::vector<std::string> SentPaths() {
    std::vector<std::string> paths;
    for (const auto& request : services_.Requests("metrics")) paths.push_back(request.path);
    return paths;
  }

  MakerServices services_;
  std::shared_ptr<URLProcessorFactoryImpl> factory_ =
      std::make_shared<URLProcessorFactoryImpl>("korvo-test", "client");
};

TEST_F(MetricsTest, TheFrontEndSendsThroughTheImplementation) {
  auto impl = std::make_shared<TallyLoggerImpl>(services_.Url(""));
  TallyLogger& tally = TallyLogger::instance();
  ASSERT_TRUE(tally.Open(factory_, impl, "drive"));
  tally.SendError(404, "dispatcher", "");
  tally.SendIfNetworkError(URLProcessor::NETWORK_FAILED, "quiet", 0, "");
  tally.SendIfNetworkError(URLProcessor::NO_CONTENT, "loud", 204, "");
  tally.SendSSLFailed();
  tally.SendToFerro("event", "a&b=c", "k2", "v2");
  ASSERT_TRUE(impl->WaitEmptyQueue(20000));
  tally.Close();
  const std::string base = "/update?p=cloud&t=cloud_o_windows_drive";
  EXPECT_EQ((std::vector<std::string>{
                base + "&i=dispatcher_code_404:1&v=0",
                base + "&i=loud_code_204:1&v=0",
                base + "&i=ssl_failed:1&v=0",
                base + "&v=0&bc=1&event=a%26b%3Dc&k2=v2",
            }),
            SentPaths());
  // Closed: nothing more goes out, and nothing blocks.
  tally.SendMetric("late", 1, "");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(4u, SentPaths().size());
}

TEST_F(MetricsTest, FailuresAreRetriedInOrderUntilTheServiceIsBack) {
  for (const char* mode : {"reset", "error"}) {
    SCOPED_TRACE(mode);
    services_.Clear();
    services_.SetMetricsMode(mode);
    TallyLoggerImpl impl(services_.Url(""));
    ASSERT_TRUE(impl.Open(factory_, "drive"));
    impl.SendMetric("first", 1, "");
    impl.SendMetric("second", 2, "");
    impl.SendMetric("third", 3, "");
    // Until the second try has come (however slow the machine).
    std::vector<MakerServices::Request> attempts;
    for (int i = 0; i < 400; ++i) {
      attempts = services_.Requests("metrics");
      if (attempts.size() >= 2 && attempts.back().time - attempts.front().time >= 1.0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(impl.WaitEmptyQueue(0));
    for (const auto& attempt : attempts) {
      EXPECT_NE(std::string::npos, attempt.path.find("&i=first:1")) << attempt.path;
    }
    // One try every 2.5 s (the engine itself may try a reset connection
    // twice): a lower bound on the pause, and no flood however long the
    // wait above took on a loaded machine.
    const double span = attempts.back().time - attempts.front().time;
    EXPECT_GE(span, 2.4);
    EXPECT_LE(attempts.size(), 2u * (static_cast<size_t>(span / 2.4) + 1));

    services_.SetMetricsMode("up");
    EXPECT_TRUE(impl.WaitEmptyQueue(20000));
    // Each in turn, the first repeated until it went through.
    std::vector<std::string> delivered;
    for (const std::string& path : SentPaths()) {
      const std::string metric = path.substr(path.find("&i="));
      if (delivered.empty() || delivered.back() != metric) delivered.push_back(metric);
    }
    EXPECT_EQ((std::vector<std::string>{"&i=first:1&v=0", "&i=second:2&v=0", "&i=third:3&v=0"}),
              delivered);
    impl.Close();
  }
}

TEST_F(MetricsTest, TheQueueKeepsTheNewestAndCloseEndsAStalledSend) {
  services_.SetMetricsMode("stall");
  Requestor requestor;
  ASSERT_TRUE(requestor.Open(factory_, Requestor::kGetUrl));
  const std::string base = services_.Url("/update?n=");
  for (int i = 0; i < 3000; ++i) requestor.Send(base + std::to_string(i), "", true);
  EXPECT_EQ(Requestor::kMaxQueued, requestor.QueuedForTesting());
  // The first one is in flight and stays; the oldest waiting ones went.
  while (services_.Requests("metrics").empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  services_.SetMetricsMode("up");
  requestor.Close();  // ends the stalled request at once
  EXPECT_FALSE(requestor.Send(base + "late", "", true));
  EXPECT_EQ(0u, requestor.QueuedForTesting());

  // Delivered in order, newest kept: a fresh sender against a live service.
  services_.Clear();
  Requestor live;
  ASSERT_TRUE(live.Open(factory_, Requestor::kGetUrl));
  services_.SetMetricsMode("reset");
  live.Send(base + "0", "", true);
  while (services_.Requests("metrics").empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // 0 failed and waits for its retry; the queue fills behind it, and a full
  // queue gives up the failing front at its next turn.
  for (int i = 1; i < 1500; ++i) live.Send(base + std::to_string(i), "", true);
  EXPECT_EQ(Requestor::kMaxQueued, live.QueuedForTesting());
  services_.SetMetricsMode("up");
  ASSERT_TRUE(live.WaitEmptyQueue(60000));
  live.Close();
  std::vector<int> numbers;
  for (const std::string& path : SentPaths()) {
    const int n = std::stoi(path.substr(path.find("n=") + 2));
    if (numbers.empty() || numbers.back() != n) numbers.push_back(n);
  }
  ASSERT_EQ(Requestor::kMaxQueued, numbers.size());
  EXPECT_EQ(0, numbers[0]);  // its failed attempts
  for (size_t i = 1; i < numbers.size(); ++i) {
    EXPECT_EQ(static_cast<int>(1500 - Requestor::kMaxQueued + i), numbers[i]) << i;
  }
}

TEST_F(MetricsTest, AFactoryWideStopDoesNotEndTheSender) {
  Requestor requestor;
  ASSERT_TRUE(requestor.Open(factory_, Requestor::kGetUrl));
  factory_->StopAllProcessors();
  requestor.Send(services_.Url("/update?after=stop"), "", true);
  EXPECT_TRUE(requestor.WaitEmptyQueue(20000));
  requestor.Close();
  EXPECT_EQ(1u, services_.Requests("metrics").size());
}

TEST_F(MetricsTest, ASenderThreadThatCannotStartFailsTheOpen) {
  LogWatch watch;
  Requestor requestor;
  Requestor::FailNextThreadStartForTesting();
  EXPECT_FALSE(requestor.Open(factory_, Requestor::kGetUrl));
  EXPECT_EQ(1u, watch.fails()) << watch.Text();
  EXPECT_TRUE(watch.Contains("Requestor cannot start its sender thread: "));
  requestor.Close();  // Nothing to join.
  // The next sender starts as usual.
  TallyLoggerImpl impl(services_.Url(""));
  EXPECT_TRUE(impl.Open(factory_, "drive"));
}

TEST_F(MetricsTest, PostBodies) {
  Requestor requestor;
  ASSERT_TRUE(requestor.Open(factory_, Requestor::kPostBody));
  requestor.Send(services_.Url("/dispatcher"), "{\"event\":1}", true);
  ASSERT_TRUE(requestor.WaitEmptyQueue(20000));
  requestor.Close();
  const auto posted = services_.Requests("dispatcher");
  ASSERT_EQ(1u, posted.size());
  EXPECT_EQ("{\"event\":1}", posted[0].body);
  EXPECT_EQ("", posted[0].content_type);
}

}  // namespace
