// Secrets sealed by the platform: the key-file provider always, the Secret
// Service provider inside a private D-Bus session with its own keyring.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/platform.h"
#include "tests/support/test_env.h"

namespace {

using Source = Platform::SecretKeySource;

constexpr size_t kOverhead = 1 + 12 + 16;  // Version, nonce, tag.

std::unique_ptr<Platform> NewPlatform(const std::string& data_home, Source source) {
  return Platform::NewForTesting(data_home, source);
}

std::string Binary() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return "KVSECRET-" + bytes + std::string(3, '\0');
}

mode_t ModeOf(const std::string& path) {
  struct stat info = {};
  EXPECT_EQ(0, stat(path.c_str(), &info)) << path;
  return info.st_mode & 07777;
}

// Names in |dir| other than the key file: leftovers of its creation.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name != "master.key") names.push_back(name);
  }
  return names;
}

TEST(SecretSealerTest, KeyFileRoundTrips) {
  const std::string home = testing_env::MakeTempDir("sealer");
  const std::string kSecrets[] = {"", "KVSECRET-s3-key", Binary(),
                                  "KVSECRET-" + std::string(3 << 20, 'z')};
  std::vector<std::string> sealed_all;
  {
    auto platform = NewPlatform(home, Source::kKeyFile);
    for (const std::string& secret : kSecrets) {
      SCOPED_TRACE(secret.size());
      std::string sealed, opened, error;
      ASSERT_TRUE(platform->ProtectSecret(secret, &sealed, &error)) << error;
      EXPECT_EQ(secret.size() + kOverhead, sealed.size());
      EXPECT_EQ(1, sealed[0]);  // The key file's version.
      EXPECT_EQ(std::string::npos, sealed.find("KVSECRET"));
      ASSERT_TRUE(platform->UnprotectSecret(sealed, &opened, &error)) << error;
      EXPECT_TRUE(opened == secret);
      // A fresh nonce every time.
      std::string again;
      ASSERT_TRUE(platform->ProtectSecret(secret, &again, &error));
      EXPECT_NE(sealed, again);
      sealed_all.push_back(sealed);
    }
  }
  // The key outlives the process's memory of it.
  auto fresh = NewPlatform(home, Source::kKeyFile);
  for (size_t i = 0; i < sealed_all.size(); ++i) {
    std::string opened, error;
    ASSERT_TRUE(fresh->UnprotectSecret(sealed_all[i], &opened, &error)) << error;
    EXPECT_TRUE(opened == kSecrets[i]);
  }
  // Another user's key (here: another home's) does not open it.
  auto other = NewPlatform(testing_env::MakeTempDir("sealer-other"), Source::kKeyFile);
  std::string ignored, opened, error;
  ASSERT_TRUE(other->ProtectSecret("KVSECRET-other", &ignored, &error));
  EXPECT_FALSE(other->UnprotectSecret(sealed_all[1], &opened, &error));
  EXPECT_EQ("", opened);
}

// The layout is fixed: a blob sealed elsewhere with a known key opens.
TEST(SecretSealerTest, KnownBlobOpens) {
  const std::string home = testing_env::MakeTempDir("sealer");
  std::filesystem::create_directories(home + "/korvo");
  chmod((home + "/korvo").c_str(), 0700);
  std::string key;
  for (int i = 0; i < 32; ++i) key += static_cast<char>(i);
  testing_env::WriteFile(home + "/korvo/master.key", key);
  chmod((home + "/korvo/master.key").c_str(), 0600);
  // Version 1, nonce 64..6f, then AES-256-GCM's ciphertext and tag, with the
  // version byte as associated data.
  const std::string hex =
      "016465666768696a6b6c6d6e6f034d8d233abb13ca13093187ad0b479c2cb1716ff9f1c764065929d4454ad7"
      "07e991b4722c";
  std::string blob;
  for (size_t i = 0; i < hex.size(); i += 2) {
    blob += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  std::string opened, error;
  ASSERT_TRUE(NewPlatform(home, Source::kKeyFile)->UnprotectSecret(blob, &opened, &error))
      << error;
  EXPECT_TRUE(opened == "KVSECRET-known-answer");
}

TEST(SecretSealerTest, EveryChangeFails) {
  auto platform = NewPlatform(testing_env::MakeTempDir("sealer"), Source::kKeyFile);
  std::string sealed, error;
  ASSERT_TRUE(platform->ProtectSecret("KVSECRET-webdav-line", &sealed, &error));
  auto expect_fails = [&](const std::string& altered) {
    std::string opened = "not cleared";
    std::string why;
    EXPECT_FALSE(platform->UnprotectSecret(altered, &opened, &why));
    EXPECT_EQ("", opened);
    EXPECT_NE("", why);
    EXPECT_EQ(std::string::npos, why.find("KVSECRET"));
  };
  for (size_t at = 0; at < sealed.size(); ++at) {
    for (unsigned char flip : {0x01, 0x80, 0xff}) {
      SCOPED_TRACE(testing::Message() << "byte " << at << " ^ " << int{flip});
      std::string altered = sealed;
      altered[at] = static_cast<char>(altered[at] ^ flip);
      expect_fails(altered);
    }
  }
  for (size_t size = 0; size < sealed.size(); ++size) {
    SCOPED_TRACE(testing::Message() << "cut to " << size);
    expect_fails(sealed.substr(0, size));
  }
  for (const std::string& tail : {std::string(1, '\0'), std::string("x"), sealed}) {
    SCOPED_TRACE(testing::Message() << "extended by " << tail.size());
    expect_fails(sealed + tail);
  }
}

TEST(SecretSealerTest, VersionByteNamesTheKey) {
  const std::string home = testing_env::MakeTempDir("sealer");
  auto key_file = NewPlatform(home, Source::kKeyFile);
  std::string sealed, opened, error;
  ASSERT_TRUE(key_file->ProtectSecret("KVSECRET-token", &sealed, &error));

  struct Case {
    Source source;
    char version;
    const char* error_part;
  } const kCases[] = {
      // The Secret Service's version is not tried with the key file.
      {Source::kKeyFile, 2, "Secret Service"},
      // Nor the key file's with the Secret Service (which is not even asked).
      {Source::kSecretService, 1, "key file"},
      {Source::kKeyFile, 0, "unknown version 0"},
      {Source::kKeyFile, 3, "unknown version 3"},
      {Source::kKeyFile, '\xff', "unknown version 255"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "version " << int{static_cast<unsigned char>(c.version)});
    auto platform = NewPlatform(home, c.source);
    std::string blob = sealed;
    blob[0] = c.version;
    EXPECT_FALSE(platform->UnprotectSecret(blob, &opened, &error));
    EXPECT_NE(std::string::npos, error.find(c.error_part)) << error;
    EXPECT_EQ("", opened);
  }
}

TEST(SecretSealerTest, WithoutASessionBusTheKeyFileServes) {
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = bus != nullptr ? bus : "";
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string home = testing_env::MakeTempDir("sealer");
  auto automatic = NewPlatform(home, Source::kAuto);
  std::string sealed, opened, error;
  EXPECT_TRUE(automatic->ProtectSecret("KVSECRET-no-bus", &sealed, &error)) << error;
  EXPECT_EQ(1, sealed[0]);
  EXPECT_TRUE(automatic->UnprotectSecret(sealed, &opened, &error)) << error;
  std::string refused;
  EXPECT_FALSE(NewPlatform(home, Source::kSecretService)->ProtectSecret("KVSECRET-no-bus",
                                                                         &refused, &error));
  EXPECT_EQ("no session bus", error);
  if (bus != nullptr) setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
}

TEST(SecretSealerTest, KeyFileIsPrivate) {
  // Missing parents are created; a loose application folder is closed.
  const std::string home = testing_env::MakeTempDir("sealer") + "/nested/share";
  std::filesystem::create_directories(home + "/korvo");
  chmod((home + "/korvo").c_str(), 0755);
  const mode_t old_mask = umask(0);
  auto platform = NewPlatform(home, Source::kKeyFile);
  std::string sealed, opened, error;
  const bool sealed_ok = platform->ProtectSecret("KVSECRET-mode", &sealed, &error);
  umask(old_mask);
  ASSERT_TRUE(sealed_ok) << error;
  EXPECT_EQ(0700u, ModeOf(home + "/korvo"));
  EXPECT_EQ(0600u, ModeOf(home + "/korvo/master.key"));
  EXPECT_EQ(32u, std::filesystem::file_size(home + "/korvo/master.key"));
  EXPECT_TRUE(Leftovers(home + "/korvo").empty());

  // A key that others could read is not used, not even to open.
  chmod((home + "/korvo/master.key").c_str(), 0644);
  auto loose = NewPlatform(home, Source::kKeyFile);
  EXPECT_FALSE(loose->UnprotectSecret(sealed, &opened, &error));
  EXPECT_NE(std::string::npos, error.find("open to other users")) << error;
  std::string refused;
  EXPECT_FALSE(loose->ProtectSecret("KVSECRET-mode", &refused, &error));
  chmod((home + "/korvo/master.key").c_str(), 0600);
  EXPECT_TRUE(NewPlatform(home, Source::kKeyFile)->UnprotectSecret(sealed, &opened, &error));

  // Opening never creates a key: there is nothing it could open.
  const std::string empty_home = testing_env::MakeTempDir("sealer-empty");
  EXPECT_FALSE(NewPlatform(empty_home, Source::kKeyFile)->UnprotectSecret(sealed, &opened, &error));
  EXPECT_FALSE(std::filesystem::exists(empty_home + "/korvo/master.key"));
}

// Every sealed blob opens with a platform that starts afresh: all racers
// ended with the one key on disk.
void ExpectAllOpen(const std::string& home, const std::vector<std::string>& sealed) {
  auto platform = NewPlatform(home, Source::kKeyFile);
  for (size_t i = 0; i < sealed.size(); ++i) {
    std::string opened, error;
    EXPECT_TRUE(platform->UnprotectSecret(sealed[i], &opened, &error)) << i << ": " << error;
    EXPECT_TRUE(opened == "KVSECRET-race-" + std::to_string(i));
  }
  EXPECT_TRUE(Leftovers(home + "/korvo").empty());
}

TEST(SecretSealerTest, ThreadsRacingToCreateTheKeyShareOne) {
  constexpr int kThreads = 8;
  const std::string home = testing_env::MakeTempDir("sealer-race");
  std::vector<std::unique_ptr<Platform>> platforms;
  for (int i = 0; i < kThreads; ++i) platforms.push_back(NewPlatform(home, Source::kKeyFile));
  std::vector<std::string> sealed(kThreads);
  std::vector<std::string> errors(kThreads);
  std::atomic<int> waiting{kThreads};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      platforms[i]->ProtectSecret("KVSECRET-race-" + std::to_string(i), &sealed[i], &errors[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ("", errors[i]);
  ExpectAllOpen(home, sealed);
}

TEST(SecretSealerTest, ProcessesRacingToCreateTheKeyShareOne) {
  constexpr int kChildren = 4;
  const std::string home = testing_env::MakeTempDir("sealer-race");
  int gate[2];
  ASSERT_EQ(0, pipe(gate));
  std::vector<pid_t> children;
  for (int i = 0; i < kChildren; ++i) {
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
      // Wait until the parent closes the gate's write end, then race.
      close(gate[1]);
      char byte;
      (void)!read(gate[0], &byte, 1);
      std::string sealed, error;
      const bool ok = NewPlatform(home, Source::kKeyFile)
                          ->ProtectSecret("KVSECRET-race-" + std::to_string(i), &sealed, &error);
      if (ok) testing_env::WriteFile(home + "/sealed-" + std::to_string(i), sealed);
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  std::vector<std::string> sealed;
  for (int i = 0; i < kChildren; ++i) {
    int status = 0;
    ASSERT_EQ(children[i], waitpid(children[i], &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << i;
    sealed.push_back(testing_env::ReadFile(home + "/sealed-" + std::to_string(i)));
  }
  ExpectAllOpen(home, sealed);
}

constexpr const char* kUnavailableMarker = "KEYRING-UNAVAILABLE: ";

// Run by the test below inside a private session bus whose keyring is
// unlocked; disabled so that it does not run on the user's own bus.
TEST(SecretServiceInPrivateSession, DISABLED_KeyLivesInTheKeyring) {
  const std::string home = testing_env::MakeTempDir("keyring-child");
  std::string sealed, opened, error;
  auto service = NewPlatform(home, Source::kSecretService);
  if (!service->ProtectSecret("KVSECRET-keyring-1", &sealed, &error)) {
    std::printf("%s%s\n", kUnavailableMarker, error.c_str());
    FAIL();
  }
  EXPECT_EQ(2, sealed[0]);  // The Secret Service's version.
  // A platform that starts afresh finds the same key in the keyring.
  auto fresh = NewPlatform(home, Source::kSecretService);
  ASSERT_TRUE(fresh->UnprotectSecret(sealed, &opened, &error)) << error;
  EXPECT_TRUE(opened == "KVSECRET-keyring-1");
  EXPECT_FALSE(std::filesystem::exists(home + "/korvo/master.key"));

  // The automatic choice prefers the keyring, and opens both kinds.
  auto automatic = NewPlatform(home, Source::kAuto);
  std::string chosen;
  ASSERT_TRUE(automatic->ProtectSecret("KVSECRET-keyring-2", &chosen, &error)) << error;
  EXPECT_EQ(2, chosen[0]);
  ASSERT_TRUE(automatic->UnprotectSecret(sealed, &opened, &error)) << error;
  std::string by_file;
  ASSERT_TRUE(NewPlatform(home, Source::kKeyFile)->ProtectSecret("KVSECRET-file", &by_file, &error));
  ASSERT_TRUE(automatic->UnprotectSecret(by_file, &opened, &error)) << error;
  EXPECT_TRUE(opened == "KVSECRET-file");

  // Altered, it fails; and the key file is never tried on it.
  std::string altered = sealed;
  altered[5] ^= 1;
  EXPECT_FALSE(fresh->UnprotectSecret(altered, &opened, &error));
  EXPECT_FALSE(NewPlatform(home, Source::kKeyFile)->UnprotectSecret(sealed, &opened, &error));
  EXPECT_NE(std::string::npos, error.find("Secret Service")) << error;
}

TEST(SecretSealerTest, SecretServiceKeepsTheKeyInTheKeyring) {
  std::string output;
  if (testing_env::RunCommand("command -v dbus-run-session && command -v gnome-keyring-daemon",
                              &output) != 0) {
    GTEST_SKIP() << "dbus-run-session or gnome-keyring-daemon is not installed (Debian: dbus, "
                    "gnome-keyring), so the Secret Service provider is not tested here";
  }
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
  const std::string home = testing_env::MakeTempDir("keyring");
  // A fresh keyring, created and unlocked with the password on standard
  // input.
  const std::string command =
      "cd '" + home + "' && env -u DBUS_SESSION_BUS_ADDRESS -u XDG_RUNTIME_DIR HOME='" + home +
      "' XDG_DATA_HOME='" + home + "/data' timeout 120 dbus-run-session -- sh -c "
      "'printf %s test-keyring-password | gnome-keyring-daemon --unlock --components=secrets "
      ">/dev/null && exec \"$0\" --gtest_also_run_disabled_tests "
      "--gtest_filter=SecretServiceInPrivateSession.*' '" +
      std::string(self) + "' 2>&1";
  const int status = testing_env::RunCommand(command, &output);
  const size_t marker = output.find(kUnavailableMarker);
  if (marker != std::string::npos) {
    const size_t start = marker + std::string(kUnavailableMarker).size();
    GTEST_SKIP() << "the Secret Service did not answer in a private session ("
                 << output.substr(start, output.find('\n', start) - start)
                 << "), so its provider is not tested here";
  }
  EXPECT_EQ(0, status) << output;
  EXPECT_NE(std::string::npos, output.find("[  PASSED  ] 1 test")) << output;
  EXPECT_EQ(std::string::npos, output.find("KVSECRET")) << "a secret reached the output";
}

}  // namespace
