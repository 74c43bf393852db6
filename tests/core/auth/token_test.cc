#include "core/auth/token.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/platform/platform.h"
#include "tests/support/log_watch.h"
#include "tests/support/test_env.h"

namespace {

constexpr char kPrefix[] = "tokuio-";

// The real platform with its key file in a fresh folder, whose sealing can
// be made to fail.
class SealingPlatform : public Platform {
 public:
  SealingPlatform()
      : real_(Platform::NewForTesting(testing_env::MakeTempDir("token"),
                                      SecretKeySource::kKeyFile)) {}

  bool fail_protect = false;
  bool fail_unprotect = false;

  uint64_t CurrentThreadId() override { return real_->CurrentThreadId(); }
  int64_t ProcessId() override { return real_->ProcessId(); }
  bool SetCurrentThreadName(const std::string& name) override {
    return real_->SetCurrentThreadName(name);
  }
  bool SetThreadName(std::thread& thread, const std::string& name, uint64_t* id) override {
    return real_->SetThreadName(thread, name, id);
  }
  void WriteDebuggerOutput(std::string_view line) override { real_->WriteDebuggerOutput(line); }
  std::string ErrorText(int code) override { return real_->ErrorText(code); }
  bool GetSystemCaBundle(std::string* pem) override { return real_->GetSystemCaBundle(pem); }
  bool GetSystemProxyConfig(std::string* proxy, std::string* bypass) override {
    return real_->GetSystemProxyConfig(proxy, bypass);
  }
  std::FILE* OpenForReading(const std::string& path, uint64_t* size, int* error) override {
    return real_->OpenForReading(path, size, error);
  }
  std::FILE* OpenOwnerOnlyFile(const std::string& path, bool append) override {
    return real_->OpenOwnerOnlyFile(path, append);
  }
  bool ProtectSecret(const std::string& plain, std::string* sealed, std::string* error) override {
    if (fail_protect) {
      *error = "the key store is out of order";
      return false;
    }
    return real_->ProtectSecret(plain, sealed, error);
  }
  bool UnprotectSecret(const std::string& sealed, std::string* plain,
                       std::string* error) override {
    if (fail_unprotect) {
      *error = "the key store is out of order";
      return false;
    }
    return real_->UnprotectSecret(sealed, plain, error);
  }

 private:
  std::unique_ptr<Platform> real_;
};

class TokenTest : public testing::Test {
 protected:
  void SetUp() override { previous_ = Platform::SetDefaultForTesting(&platform_); }
  void TearDown() override {
    Platform::SetDefaultForTesting(previous_);
    EXPECT_FALSE(watch_.Contains("KVSECRET")) << "a secret reached the log";
  }

  SealingPlatform platform_;
  Platform* previous_ = nullptr;
  testing_env::LogWatch watch_;
};

bool IsLowerHex(const std::string& text) {
  return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST_F(TokenTest, RoundTripsWhateverKeyIsPassed) {
  std::string binary = "KVSECRET-";
  for (int i = 0; i < 256; ++i) binary += static_cast<char>(i);
  const std::string kSecrets[] = {"", "KVSECRET-s3-key", binary,
                                  "KVSECRET-" + std::string(1 << 20, 'q')};
  for (const std::string& secret : kSecrets) {
    SCOPED_TRACE(secret.size());
    const std::string stored = Token::Encrypt(secret, "one key");
    ASSERT_EQ(0u, stored.rfind(kPrefix, 0));
    EXPECT_TRUE(IsLowerHex(stored.substr(7)));
    EXPECT_EQ(std::string::npos, stored.find("KVSECRET"));
    EXPECT_TRUE(Token::Decrypt(stored, "another key") == secret);
    EXPECT_TRUE(Token::Decrypt(stored, "") == secret);
  }
  EXPECT_EQ(0u, watch_.fatals());
}

TEST_F(TokenTest, ValuesWithoutThePrefixPassThrough) {
  const char* const kValues[] = {"",       "t",           "tokuio",    "Tokuio-00",
                                 "tokuio_00", " tokuio-00", "KVSECRET-written-before-protection"};
  for (const char* value : kValues) {
    SCOPED_TRACE(value);
    EXPECT_EQ(value, Token::Decrypt(value, "key"));
  }
  EXPECT_EQ(0u, watch_.fatals());
}

TEST_F(TokenTest, AlteredValuesGiveNothing) {
  const std::string stored = Token::Encrypt("KVSECRET-refresh-token", "key");
  std::vector<std::string> altered = {
      kPrefix, std::string(kPrefix) + "0", stored.substr(0, stored.size() - 1),
      stored.substr(0, stored.size() - 2), stored + "0", stored + "00", stored + "zz"};
  for (size_t at = 7; at < stored.size(); ++at) {
    std::string changed = stored;
    changed[at] = changed[at] == '0' ? '1' : '0';
    altered.push_back(changed);
    changed[at] = static_cast<char>(std::toupper(static_cast<unsigned char>(stored[at])));
    if (changed != stored) altered.push_back(changed);
  }
  for (const std::string& value : altered) {
    SCOPED_TRACE(value);
    EXPECT_EQ("", Token::Decrypt(value, "key"));
  }
  EXPECT_EQ(altered.size(), watch_.fatals());
  EXPECT_TRUE(watch_.Contains("Failed crypt unprotect data, error: "));
  EXPECT_TRUE(Token::Decrypt(stored, "key") == "KVSECRET-refresh-token");
}

TEST_F(TokenTest, FailedProtectionStoresNothing) {
  platform_.fail_protect = true;
  EXPECT_EQ("", Token::Encrypt("KVSECRET-s3-key", "key"));
  EXPECT_EQ(1u, watch_.fatals());
  EXPECT_TRUE(watch_.Contains("Failed crypt token, error: the key store is out of order."));
}

TEST_F(TokenTest, FailedUnprotectionGivesNothing) {
  const std::string stored = Token::Encrypt("KVSECRET-s3-key", "key");
  platform_.fail_unprotect = true;
  EXPECT_EQ("", Token::Decrypt(stored, "key"));
  EXPECT_EQ(1u, watch_.fatals());
  EXPECT_TRUE(watch_.Contains("Failed crypt unprotect data, error: the key store is out of order"));
}

TEST_F(TokenTest, XorKeyComesFromTheIdentifier) {
  struct Case {
    const char* uid;
    const char* key;
  } const kCases[] = {
      {"abcd", "cdk7ab"},
      {"abcde", "cdek7ab"},
      {"4c4c4544-0047-3510-8051-b4c04f4d4d32", "-8051-b4c04f4d4d32k74c4c4544-0047-3510"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.uid);
    EXPECT_EQ(c.key, Token::GenerateXorKey([&] { return std::string(c.uid); }));
  }
  EXPECT_EQ(0u, watch_.fatals());
}

TEST_F(TokenTest, ShortIdentifierGivesNoXorKey) {
  for (const char* uid : {"", "a", "abc"}) {
    SCOPED_TRACE(uid);
    EXPECT_EQ("", Token::GenerateXorKey([&] { return std::string(uid); }));
  }
  EXPECT_EQ(3u, watch_.fatals());
  EXPECT_TRUE(watch_.Contains("Got invalid uid while trying to generate XOR key."));
}

TEST_F(TokenTest, EmptyIdentifierProviderThrows) {
  EXPECT_THROW(Token::GenerateXorKey(std::function<std::string()>()), std::bad_function_call);
}

}  // namespace
