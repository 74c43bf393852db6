#include "core/infra/tally_logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using testing::Return;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class MockTally : public TallyLoggerImplInterface {
 public:
  MOCK_METHOD(bool, Open, (const std::shared_ptr<URLProcessorFactory>&, const std::string&),
              (override));
  MOCK_METHOD(void, Close, (), (override));
  MOCK_METHOD(void, SendToFerro, (const Pairs&), (override));
  MOCK_METHOD(void, SendSSLFailed, (), (override));
  MOCK_METHOD(void, SendMetric, (const std::string&, int, const std::string&), (override));
  MOCK_METHOD(void, SendMetricWithUtm, (const std::string&, int, const std::string&),
              (override));
  MOCK_METHOD(void, SetEmail, (const std::string&), (override));
  MOCK_METHOD(void, SetInstallationId, (const std::string&), (override));
  MOCK_METHOD(void, SetUtm, (const std::string&), (override));
  MOCK_METHOD(void, SetGCLID, (const std::string&), (override));
};

TEST(TallyLoggerTest, DoesNothingWithoutAnImplementation) {
  TallyLogger tally;
  tally.SendMetric("x", 1, "");
  tally.SendError(1, "x", "");
  tally.SendToFerro("k", "v");
  tally.Close();
  EXPECT_FALSE(tally.Open(nullptr, nullptr, "prefix"));
}

TEST(TallyLoggerTest, ForwardsEveryOperation) {
  auto mock = std::make_shared<MockTally>();
  TallyLogger tally;
  EXPECT_CALL(*mock, Open(testing::_, "disk")).WillOnce(Return(false));
  EXPECT_FALSE(tally.Open(nullptr, mock, "disk"));

  EXPECT_CALL(*mock, SendMetric("dispatcher_code_404", 1, ""));
  tally.SendError(404, "dispatcher", "");
  EXPECT_CALL(*mock, SendMetric("upload", 3, "big"));
  tally.SendMetric("upload", 3, "big");
  EXPECT_CALL(*mock, SendMetric("upload", 4, "add"));
  tally.SendMetric("upload", "add", 4);
  EXPECT_CALL(*mock, SendMetricWithUtm("install", 1, "src"));
  tally.SendMetricWithUtm("install", "src", 1);
  EXPECT_CALL(*mock, SendMetricWithUtm("start", 2, ""));
  tally.SendMetricWithUtm("start", 2);
  EXPECT_CALL(*mock, SendSSLFailed());
  tally.SendSSLFailed();
  EXPECT_CALL(*mock, SendToFerro(Pairs{{"a", "1"}}));
  tally.SendToFerro("a", "1");
  EXPECT_CALL(*mock, SendToFerro(Pairs{{"a", "1"}, {"b", "2"}}));
  tally.SendToFerro("a", "1", "b", "2");
  EXPECT_CALL(*mock, SetEmail("user@example.com"));
  tally.SetEmail("user@example.com");
  EXPECT_CALL(*mock, SetInstallationId("iid"));
  tally.SetInstallationId("iid");
  EXPECT_CALL(*mock, SetUtm("utm"));
  tally.SetUtm("utm");
  EXPECT_CALL(*mock, SetGCLID("g"));
  tally.SetGCLID("g");

  // A copy shares the implementation.
  TallyLogger copy(tally);
  EXPECT_CALL(*mock, Close());
  copy.Close();
}

TEST(TallyLoggerTest, SendIfNetworkErrorReportsWhatIsNotANetworkError) {
  auto mock = std::make_shared<MockTally>();
  TallyLogger tally;
  EXPECT_CALL(*mock, Open(testing::_, "p")).WillOnce(Return(true));
  ASSERT_TRUE(tally.Open(nullptr, mock, "p"));
  for (int value = 0; value <= 12; ++value) {
    const auto result = static_cast<url_processor::Result>(value);
    const bool quiet = value == 0 || value == 1 || value == 2 || value == 4 || value == 11;
    EXPECT_CALL(*mock, SendMetric("remote_code_500", 1, "x")).Times(quiet ? 0 : 1);
    tally.SendIfNetworkError(result, "remote", 500, "x");
    testing::Mock::VerifyAndClearExpectations(mock.get());
  }
}

}  // namespace
