#include <gtest/gtest.h>
#include <pthread.h>

#include <boost/exception/all.hpp>
#include <stdexcept>
#include <thread>

#include "core/infra/exception_catch_wrapper.h"
#include "core/infra/logger.h"
#include "core/infra/measure_block_time.h"
#include "core/infra/thread.h"

namespace {

std::string LastLines(size_t count) {
  std::string log;
  LoggerWrapper::Get(&log);
  size_t pos = log.size();
  for (size_t i = 0; i <= count && pos != std::string::npos && pos > 0; ++i) {
    pos = log.rfind('\n', pos - 1);
  }
  return log.substr(pos == std::string::npos ? 0 : pos + 1);
}

TEST(ThreadingTest, ThreadRunsItsBody) {
  std::atomic<int> runs{0};
  utils::Thread thread([&] { ++runs; });
  thread.start();
  EXPECT_TRUE(thread.wait(30000));
  EXPECT_EQ(1, runs.load());
  EXPECT_STREQ("utils::Thread", thread.metaObject()->className());
}

TEST(ThreadingTest, ExceptionCatchWrapperLogsAndRethrows) {
  const unsigned int fatals = LoggerWrapper::GetErrorCounterFatals();
  utils::ExceptionCatchWrapper throws_std([] { throw std::runtime_error("disk on fire"); },
                                          "Worker");
  EXPECT_THROW(throws_std(), std::runtime_error);
  EXPECT_NE(std::string::npos, LastLines(1).find("Caught exception in Worker of type "));
  EXPECT_NE(std::string::npos, LastLines(1).find(": disk on fire\n"));

  struct tag_detail;
  struct BoostFailure : virtual boost::exception, virtual std::exception {};
  utils::ExceptionCatchWrapper throws_boost(
      [] { throw BoostFailure() << boost::error_info<tag_detail, int>(42); }, "Parser");
  EXPECT_THROW(throws_boost(), BoostFailure);
  std::string log;
  LoggerWrapper::Get(&log);
  EXPECT_NE(std::string::npos, log.find("Caught boost exception in Parser: "));
  EXPECT_EQ(fatals + 2, LoggerWrapper::GetErrorCounterFatals());

  utils::ExceptionCatchWrapper returns([](int x) { return x * 2; }, "Math");
  EXPECT_EQ(84, returns(42));
}

TEST(ThreadingTest, SetThreadNameNamesAndLogs) {
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    while (!stop) std::this_thread::yield();
  });
  utils::SetThreadName(worker, "requests_sender");
  char name[32] = {};
  pthread_getname_np(worker.native_handle(), name, sizeof(name));
  stop = true;
  worker.join();
  EXPECT_STREQ("requests_sender", name);
  EXPECT_NE(std::string::npos, LastLines(1).find(", name: requests_sender\n"));
  EXPECT_NE(std::string::npos, LastLines(1).find("Thread name id: "));
}

TEST(ThreadingTest, MeasureBlockTimeStoresOnExit) {
  uint64_t ms = UINT64_MAX;
  double seconds = -1;
  {
    utils::MeasureBlockTime by_ms(&ms);
    utils::MeasureBlockTime by_seconds(&seconds);
    EXPECT_LE(by_ms.GetElapsedMSec(), by_ms.GetElapsedMSec());
  }
  EXPECT_NE(UINT64_MAX, ms);
  EXPECT_GE(seconds, 0.0);
  // A restarted timer counts from the restart: never more than one started
  // before it.
  utils::MeasureBlockTime outer;
  utils::MeasureBlockTime inner;
  inner.RestartMSec();
  const uint64_t inner_ms = inner.GetElapsedMSec();
  EXPECT_LE(inner_ms, outer.GetElapsedMSec());
  EXPECT_LE(inner.RestartSec(), outer.GetElapsedSec());
}

}  // namespace
