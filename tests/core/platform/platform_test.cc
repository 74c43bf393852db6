#include "core/platform/platform.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/test_env.h"

namespace {

std::string NameOf(pthread_t thread) {
  char name[64] = {};
  pthread_getname_np(thread, name, sizeof(name));
  return name;
}

TEST(PlatformTest, ThreadAndProcessIds) {
  Platform* platform = Platform::Default();
  EXPECT_EQ(getpid(), platform->ProcessId());
  const uint64_t main_id = platform->CurrentThreadId();
  uint64_t other_id = 0;
  std::thread([&] { other_id = platform->CurrentThreadId(); }).join();
  EXPECT_NE(0u, main_id);
  EXPECT_NE(0u, other_id);
  EXPECT_NE(main_id, other_id);
}

TEST(PlatformTest, ThreadNamesAreKeptToWhatLinuxAllows) {
  Platform* platform = Platform::Default();
  std::string seen;
  std::thread([&] {
    // 16 bytes, the 15th starts a two-byte character: nothing is cut in half.
    EXPECT_TRUE(platform->SetCurrentThreadName("abcdefghijklmn\xc3\xa9z"));
    seen = NameOf(pthread_self());
  }).join();
  EXPECT_EQ("abcdefghijklmn", seen);

  bool stop = false;
  std::mutex mutex;
  std::condition_variable cv;
  std::thread worker([&] {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [&] { return stop; });
  });
  uint64_t id = 0;
  EXPECT_TRUE(platform->SetThreadName(worker, "requests_sender", &id));
  EXPECT_NE(0u, id);
  EXPECT_EQ("requests_sender", NameOf(worker.native_handle()));
  {
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
  }
  cv.notify_one();
  worker.join();
  EXPECT_FALSE(platform->SetThreadName(worker, "joined", &id));
}

TEST(PlatformTest, SystemProxyComesFromTheEnvironment) {
  setenv("https_proxy", "http://secure:3128", 1);
  setenv("http_proxy", "plain:8080", 1);
  setenv("no_proxy", "localhost,.example.com", 1);
  std::string proxy, bypass;
  EXPECT_TRUE(Platform::Default()->GetSystemProxyConfig(&proxy, &bypass));
  EXPECT_EQ("https=http://secure:3128;http=plain:8080", proxy);
  EXPECT_EQ("localhost;.example.com", bypass);
  unsetenv("https_proxy");
  unsetenv("http_proxy");
  unsetenv("no_proxy");
  unsetenv("HTTPS_PROXY");
  unsetenv("HTTP_PROXY");
  EXPECT_FALSE(Platform::Default()->GetSystemProxyConfig(&proxy, &bypass));
}

TEST(PlatformTest, SystemCaBundleHoldsCertificates) {
  std::string pem;
  ASSERT_TRUE(Platform::Default()->GetSystemCaBundle(&pem));
  EXPECT_NE(std::string::npos, pem.find("-----BEGIN CERTIFICATE-----"));
}

TEST(PlatformTest, ErrorText) {
  EXPECT_EQ("No such file or directory", Platform::Default()->ErrorText(ENOENT));
}

class CountingPlatform : public Platform {
 public:
  uint64_t CurrentThreadId() override { return 7; }
  int64_t ProcessId() override { return 42; }
  bool SetCurrentThreadName(const std::string&) override { return false; }
  bool SetThreadName(std::thread&, const std::string&, uint64_t*) override { return false; }
  void WriteDebuggerOutput(std::string_view) override {}
  FILE* OpenOwnerOnlyFile(const std::string&, bool) override { return nullptr; }
  std::string ErrorText(int) override { return "fake"; }
  bool GetSystemCaBundle(std::string*) override { return false; }
  bool GetSystemProxyConfig(std::string*, std::string*) override { return false; }
  std::FILE* OpenForReading(const std::string&, uint64_t*, int* error) override {
    *error = ENOENT;
    return nullptr;
  }
  bool ProtectSecret(const std::string&, std::string*, std::string* error) override {
    *error = "fake";
    return false;
  }
  bool UnprotectSecret(const std::string&, std::string*, std::string* error) override {
    *error = "fake";
    return false;
  }
};

TEST(PlatformTest, OpenForReadingGivesTheSizeOfRegularFilesOnly) {
  const std::string dir = testing_env::MakeTempDir("open");
  const std::string path = dir + "/file";
  testing_env::WriteFile(path, std::string(70000, 'x'));
  uint64_t size = 0;
  int error = -1;
  std::FILE* file = Platform::Default()->OpenForReading(path, &size, &error);
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(70000u, size);
  EXPECT_EQ(0, error);
  std::fclose(file);
  EXPECT_EQ(nullptr, Platform::Default()->OpenForReading(dir, &size, &error));
  EXPECT_NE(0, error);
  EXPECT_EQ(nullptr, Platform::Default()->OpenForReading(dir + "/absent", &size, &error));
  EXPECT_EQ(ENOENT, error);
}

TEST(PlatformTest, DefaultCanBeReplacedForTests) {
  CountingPlatform fake;
  Platform* real = Platform::SetDefaultForTesting(&fake);
  EXPECT_EQ(42, Platform::Default()->ProcessId());
  Platform::SetDefaultForTesting(real);
  EXPECT_EQ(getpid(), Platform::Default()->ProcessId());
}

}  // namespace
