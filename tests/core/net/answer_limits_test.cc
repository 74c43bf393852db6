// Whole answers read into memory against a server that claims a body far
// larger than any answer (and than memory).

#include <gtest/gtest.h>

#include <string>

#include "core/net/dispatcher_url.h"
#include "core/net/json_xml.h"
#include "core/net/streams.h"
#include "core/net/url_processor_impl.h"
#include "tests/support/engine_setup.h"
#include "tests/support/log_watch.h"
#include "tests/support/server_process.h"

namespace {

using testing_env::LogWatch;
using testing_env::ServerProcess;

class AnswerLimitsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(testing_env::OpenEngineWithoutProxy()); }
  void SetUp() override { ASSERT_TRUE(server_.ok()); }

  std::shared_ptr<URLProcessor> NewProcessor() {
    auto processor = factory_.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->SetTimeout(30);
    return processor;
  }
  DispatcherUrl Url(const std::string& path) {
    return DispatcherUrl::FromString(server_.Url(path));
  }

  ServerProcess server_{testing_env::ScriptedHttpServerCommand()};
  URLProcessorFactoryImpl factory_{"korvo-test", "client"};
};

TEST_F(AnswerLimitsTest, AClaimedTerabyteFailsCleanly) {
  auto processor = NewProcessor();
  {
    LogWatch watch;
    processor->Get(Url("/claims-huge"), false, true, URLProcessor::Range(), false, {});
    std::string body;
    EXPECT_EQ(InputStream::kTooLarge, processor->ReadAllTo(&body, 4096));
    EXPECT_TRUE(body.empty());
    EXPECT_LT(body.capacity(), 1u << 20);
    processor->Finish();
    EXPECT_EQ(1u, watch.fails()) << watch.Text();
    EXPECT_TRUE(watch.Contains("(announced 1000000000000, read 5)")) << watch.Text();
  }
  {
    LogWatch watch;
    auto answer = processor->GetJSON(Url("/claims-huge"), {});
    ASSERT_FALSE(answer.HasValue());
    EXPECT_EQ(URLProcessor::OTHER_FAILED, answer.GetError());
    EXPECT_EQ(1u, watch.fails()) << watch.Text();
  }
  // The processor serves the next request as usual.
  auto found = processor->GetJSON(Url("/status/200"), {});
  ASSERT_TRUE(found.HasValue());
  EXPECT_EQ("200", found.GetValue()->get<std::string>("status"));
}

}  // namespace
