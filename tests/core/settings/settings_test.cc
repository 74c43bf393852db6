#include "core/settings/settings.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/settings/settings_keys.h"
#include "tests/support/test_env.h"

namespace utils {

// Reaches the private reverse step, which only the application calls.
class SettingsTestPeer {
 public:
  static void ToIndependent(SettingsBase* settings, const QString& key,
                            const std::string& email) {
    settings->ChangeKeyFromEmailDependentToIndependent(key, email);
  }
};

}  // namespace utils

namespace {

using utils::Settings;
using utils::SettingsBase;

const char kOrganization[] = "Veltra";
const char kApplication[] = "Korvo";

QString B64(const std::string& email) {
  return QString::fromLatin1(QByteArray::fromStdString(email).toBase64());
}

// Accounts whose Base64 form has padding, a '+', a '/' (a group separator for
// QSettings) and non-ASCII letters.
const char* const kEmails[] = {
    "user@example.com",
    "ivan.petrov@veltra.ru",
    "a?>b@x.io",
    "\xd1\x82\xd0\xb5\xd1\x81\xd1\x82@\xd0\xbf\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0.\xd1\x80\xd1\x84",
};

// Each test gets a fresh configuration directory: the user scope's native
// settings live in <dir>/config/Veltra/Korvo.conf.
class SettingsTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing_env::MakeTempDir("settings");
    const std::string config = dir_ + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       QString::fromStdString(dir_ + "/system"));
  }

  std::shared_ptr<Settings> Open(const char* application = kApplication) {
    return std::make_shared<Settings>(QSettings::UserScope, kOrganization, application);
  }

  std::string FilePath(const char* application = kApplication) const {
    return dir_ + "/config/" + kOrganization + "/" + application + ".conf";
  }

  // The keys as stored, read by a plain QSettings on the file.
  QStringList StoredKeys(const char* application = kApplication) const {
    QSettings raw(QString::fromStdString(FilePath(application)), QSettings::IniFormat);
    QStringList keys = raw.allKeys();
    keys.sort();
    return keys;
  }

  QVariant Stored(const QString& key) const {
    QSettings raw(QString::fromStdString(FilePath()), QSettings::IniFormat);
    return raw.value(key);
  }

  std::string dir_;
};

TEST_F(SettingsTest, ValuesReachTheNativeFileUnderTheConfigurationDirectory) {
  auto settings = Open();
  settings->SetValueAndSync(utils::kSettingsLanguage, "ru");
  settings->SetValue(utils::kSettingsMinRateLimitSec, 30);
  settings->Sync();
  EXPECT_NE(std::string::npos, testing_env::ReadFile(FilePath()).find("language=ru"));
  EXPECT_NE(std::string::npos, testing_env::ReadFile(FilePath()).find("minRateLimitSec=30"));

  auto reopened = Open();
  EXPECT_TRUE(reopened->Contains(utils::kSettingsLanguage));
  EXPECT_EQ("ru", reopened->Value(utils::kSettingsLanguage).toString());
  EXPECT_EQ(30, reopened->Value(utils::kSettingsMinRateLimitSec).toInt());
  EXPECT_EQ("none", reopened->Value(utils::kSettingsProxy, "none").toString());
  EXPECT_FALSE(reopened->Contains(utils::kSettingsProxy));

  reopened->Remove(utils::kSettingsLanguage);
  reopened->Sync();
  EXPECT_EQ(QStringList{"minRateLimitSec"}, StoredKeys());
  reopened->Clear();
  reopened->Sync();
  EXPECT_TRUE(StoredKeys().isEmpty());
}

TEST_F(SettingsTest, DeclaringEmailDependentKeysMovesPlainValuesOnce) {
  for (const char* email : kEmails) {
    SCOPED_TRACE(email);
    {
      auto writer = Open();
      writer->Clear();
      writer->SetValue(utils::kSettingsEmail, QString::fromUtf8(email));
      writer->SetValue(utils::kSettingsRefreshToken, "refresh-1");
      // Already stored per account: the plain value must not replace it.
      writer->SetValue(utils::kSettingsTsaToken, "tsa-plain");
      writer->SetValue(utils::kSettingsTsaToken + "_" + B64(email), "tsa-account");
      writer->SetValue(utils::kSettingsProxy, "proxy-1");
      writer->Sync();
    }
    const QString refresh_key = utils::kSettingsRefreshToken + "_" + B64(email);
    const QString tsa_key = utils::kSettingsTsaToken + "_" + B64(email);

    auto settings = Open();
    settings->SetEmailDependenceKeys(
        {utils::kSettingsRefreshToken, utils::kSettingsTsaToken, utils::kSettingsDisks});
    settings->Sync();
    QStringList expected{"email", "proxy", refresh_key, "tsaToken", tsa_key};
    expected.sort();
    EXPECT_EQ(expected, StoredKeys());
    EXPECT_EQ("refresh-1", Stored(refresh_key).toString());
    EXPECT_EQ("tsa-plain", Stored("tsaToken").toString());
    EXPECT_EQ("tsa-account", Stored(tsa_key).toString());

    const QMap<QString, QVariant> after_first = settings->GetAllValues();
    settings->SetEmailDependenceKeys(
        {utils::kSettingsRefreshToken, utils::kSettingsTsaToken, utils::kSettingsDisks});
    settings->Sync();
    EXPECT_EQ(after_first, settings->GetAllValues());
    EXPECT_EQ(expected, StoredKeys());

    // The account's own view.
    settings->SetEmailForKeys(email);
    EXPECT_EQ("refresh-1", settings->Value(utils::kSettingsRefreshToken).toString());
    EXPECT_EQ("tsa-account", settings->Value(utils::kSettingsTsaToken).toString());
    EXPECT_FALSE(settings->Contains(utils::kSettingsDisks));
  }
}

TEST_F(SettingsTest, NothingMovesWithoutAStoredAccount) {
  struct Case {
    const char* name;
    bool store_email;
    const char* email;
  } const kCases[] = {
      {"no email key", false, ""},
      {"empty email", true, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto settings = Open();
    settings->Clear();
    if (c.store_email) settings->SetValue(utils::kSettingsEmail, c.email);
    settings->SetValue(utils::kSettingsRefreshToken, "refresh-1");
    settings->SetEmailDependenceKeys({utils::kSettingsRefreshToken});
    settings->Sync();
    QStringList expected{"refreshToken"};
    if (c.store_email) expected.prepend("email");
    EXPECT_EQ(expected, StoredKeys());
  }
}

TEST_F(SettingsTest, OnlyEmailDependentKeysFollowTheAccount) {
  const std::string first = kEmails[0];
  const std::string second = kEmails[3];
  auto settings = Open();
  settings->SetEmailDependenceKeys({utils::kSettingsRefreshToken});

  settings->SetValue(utils::kSettingsRefreshToken, "no-account");
  settings->SetEmailForKeys(first);
  settings->SetValue(utils::kSettingsProxy, "proxy-first");
  settings->SetValue(utils::kSettingsRefreshToken, "refresh-first");
  settings->SetEmailForKeys(second);
  settings->SetValue(utils::kSettingsRefreshToken, "refresh-second");
  EXPECT_EQ("proxy-first", settings->Value(utils::kSettingsProxy).toString());
  EXPECT_EQ("refresh-second", settings->Value(utils::kSettingsRefreshToken).toString());
  settings->Sync();

  QStringList expected{"proxy", "refreshToken", "refreshToken_" + B64(first),
                       "refreshToken_" + B64(second)};
  expected.sort();
  EXPECT_EQ(expected, StoredKeys());
  EXPECT_EQ("refresh-first", Stored("refreshToken_" + B64(first)).toString());
  EXPECT_EQ("refresh-second", Stored("refreshToken_" + B64(second)).toString());
  EXPECT_EQ("no-account", Stored("refreshToken").toString());

  // Every operation maps the key.
  settings->SetEmailForKeys(first);
  EXPECT_TRUE(settings->Contains(utils::kSettingsRefreshToken));
  settings->Remove(utils::kSettingsRefreshToken);
  EXPECT_FALSE(settings->Contains(utils::kSettingsRefreshToken));
  settings->SetEmailForKeys("");
  EXPECT_EQ("no-account", settings->Value(utils::kSettingsRefreshToken).toString());
  settings->SetEmailForKeys(second);
  EXPECT_EQ("refresh-second", settings->Value(utils::kSettingsRefreshToken).toString());
}

TEST_F(SettingsTest, ReverseStepMovesTheAccountsValueBackToThePlainKey) {
  const std::string email = kEmails[1];
  const QString dependent = "refreshToken_" + B64(email);
  auto settings = Open();
  settings->SetValue(dependent, "refresh-account");
  utils::SettingsTestPeer::ToIndependent(settings.get(), "refreshToken", email);
  settings->Sync();
  EXPECT_EQ(QStringList{"refreshToken"}, StoredKeys());
  EXPECT_EQ("refresh-account", Stored("refreshToken").toString());

  // A plain value already stored wins.
  settings->SetValue(dependent, "refresh-other");
  utils::SettingsTestPeer::ToIndependent(settings.get(), "refreshToken", email);
  EXPECT_EQ("refresh-account", settings->Value("refreshToken").toString());
  EXPECT_EQ("refresh-other", settings->Value(dependent).toString());
}

TEST_F(SettingsTest, CachedKeysKeepTheirValueWhileOtherWritersChangeTheStore) {
  {
    auto first = Open();
    first->SetValue(utils::kSettingsDisks, "disks-1");
    first->SetValue(utils::kSettingsLanguage, "en");
    first->Sync();
  }
  auto cached = Open();
  cached->AddCachedKey(utils::kSettingsDisks);
  cached->AddCachedKey(utils::kSettingsBackups);  // Not stored yet.
  auto other = Open();
  other->SetValue(utils::kSettingsDisks, "disks-2");
  other->SetValue(utils::kSettingsBackups, "backups-2");
  other->SetValue(utils::kSettingsLanguage, "ru");
  other->Sync();
  cached->Sync();
  // Registering again does not read the store again.
  cached->AddCachedKey(utils::kSettingsDisks);

  EXPECT_EQ("ru", cached->Value(utils::kSettingsLanguage).toString());
  EXPECT_EQ("disks-1", cached->Value(utils::kSettingsDisks).toString());
  EXPECT_FALSE(cached->Contains(utils::kSettingsBackups));
  EXPECT_EQ("none", cached->Value(utils::kSettingsBackups, "none").toString());
  const QMap<QString, QVariant> all = cached->GetAllValues();
  EXPECT_EQ("disks-1", all.value("disks").toString());
  EXPECT_FALSE(all.contains("backups"));

  // Writes go to the cache and through to the store.
  cached->SetValueAndSync(utils::kSettingsDisks, "disks-3");
  EXPECT_EQ("disks-3", cached->Value(utils::kSettingsDisks).toString());
  EXPECT_EQ("disks-3", Stored("disks").toString());

  // Removed: absent for this object whatever the store holds afterwards.
  cached->Remove(utils::kSettingsDisks);
  cached->Sync();
  EXPECT_FALSE(Stored("disks").isValid());
  other->SetValueAndSync(utils::kSettingsDisks, "disks-4");
  cached->Sync();
  EXPECT_FALSE(cached->Contains(utils::kSettingsDisks));
  EXPECT_EQ("default", cached->Value(utils::kSettingsDisks, "default").toString());

  cached->SetValue(utils::kSettingsBackups, "backups-5");
  EXPECT_TRUE(cached->Contains(utils::kSettingsBackups));
  cached->Clear();
  EXPECT_FALSE(cached->Contains(utils::kSettingsBackups));
  EXPECT_FALSE(cached->Contains(utils::kSettingsLanguage));
  cached->Sync();
  EXPECT_TRUE(StoredKeys().isEmpty());
}

TEST_F(SettingsTest, CachedEmailDependentKeyIsCachedInItsAccountsForm) {
  const std::string email = kEmails[2];
  auto settings = Open();
  settings->SetEmailDependenceKeys({utils::kSettingsRefreshToken});
  settings->SetEmailForKeys(email);
  settings->SetValue(utils::kSettingsRefreshToken, "refresh-1");
  settings->AddCachedKey(utils::kSettingsRefreshToken);
  auto other = Open();
  other->SetValueAndSync("refreshToken_" + B64(email), "refresh-2");
  other->SetValueAndSync(utils::kSettingsRefreshToken, "plain");
  settings->Sync();
  EXPECT_EQ("refresh-1", settings->Value(utils::kSettingsRefreshToken).toString());
  settings->SetEmailForKeys("");
  EXPECT_EQ("plain", settings->Value(utils::kSettingsRefreshToken).toString());
}

TEST_F(SettingsTest, CopyTakesTheNamedKeysAndTheirAccountForms) {
  auto source = Open();
  struct Case {
    const char* stored;
    bool copied;
  } const kCases[] = {
      {"refreshToken", true},
      {"refreshToken_dXNlckBleGFtcGxlLmNvbQ==", true},
      {"refreshToken_", true},
      {"refreshTokenOld", false},
      {"RefreshToken", false},
      {"proxy", true},
      {"proxy_x_y", true},
      {"prox", false},
      {"disks/first", false},
      {"tsaToken", false},
  };
  for (const Case& c : kCases) source->SetValue(c.stored, QString(c.stored) + "-value");
  source->Sync();

  auto target = Open("KorvoCopy");
  target->SetValue(utils::kSettingsLanguage, "ru");
  source->Copy(target, {utils::kSettingsRefreshToken, utils::kSettingsProxy});
  target->Sync();

  QStringList expected{"language"};
  for (const Case& c : kCases) {
    if (c.copied) expected.append(c.stored);
  }
  expected.sort();
  EXPECT_EQ(expected, StoredKeys("KorvoCopy"));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.stored);
    if (c.copied) {
      EXPECT_EQ(QString(c.stored) + "-value", target->Value(c.stored).toString());
    }
  }
  // The source is unchanged, and copying into itself rewrites what it holds.
  const QMap<QString, QVariant> before = source->GetAllValues();
  source->Copy(source, {utils::kSettingsProxy});
  EXPECT_EQ(before, source->GetAllValues());
  source->Copy(nullptr, {utils::kSettingsProxy});
}

TEST_F(SettingsTest, WriteProbeFlipsItsKeyOnAWritableStore) {
  auto settings = Open();
  const QString probe = SettingsBase::kWriteProbeKey;
  EXPECT_EQ("CloudVal-F77A761A3BC3483DA6E657B35535BCE0", probe);
  ASSERT_TRUE(settings->IsWritable());
  EXPECT_TRUE(Stored(probe).toBool());
  ASSERT_TRUE(settings->IsWritable());
  EXPECT_FALSE(Stored(probe).toBool());
}

// Takes away, for the calling thread, the capabilities that let root write a
// file its mode forbids; gives them back when destroyed.
class WithoutDacOverride {
 public:
  WithoutDacOverride() {
    if (geteuid() != 0) return;
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    lowered_ = syscall(SYS_capset, &header_, lowered) == 0;
  }
  ~WithoutDacOverride() {
    if (lowered_) syscall(SYS_capset, &header_, saved_);
  }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool lowered_ = false;
};

TEST_F(SettingsTest, ReadOnlyFileIsNotWritableAndKeepsItsProbe) {
  const QString probe = SettingsBase::kWriteProbeKey;
  {
    auto writer = Open();
    writer->SetValue(utils::kSettingsLanguage, "ru");
    writer->SetValueAndSync(probe, true);
  }
  const std::string path = FilePath();
  const std::string bytes = testing_env::ReadFile(path);
  ASSERT_EQ(0, chmod(path.c_str(), 0444));
  {
    WithoutDacOverride lowered;
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd >= 0) {
      close(fd);
      chmod(path.c_str(), 0644);
      GTEST_SKIP() << "this process may write a read-only file";
    }
    auto settings = Open();
    EXPECT_EQ("ru", settings->Value(utils::kSettingsLanguage).toString());
    EXPECT_FALSE(settings->IsWritable());
    EXPECT_FALSE(settings->IsWritable());
    EXPECT_TRUE(settings->Value(probe).toBool());
  }
  EXPECT_EQ(bytes, testing_env::ReadFile(path));
  EXPECT_TRUE(Stored(probe).toBool());
  chmod(path.c_str(), 0644);
}

TEST_F(SettingsTest, StoreDestroyedWithItsParentReadsAsEmpty) {
  auto parent = std::make_unique<QObject>();
  Settings settings(QSettings::UserScope, kOrganization, kApplication, parent.get());
  settings.SetValueAndSync(utils::kSettingsLanguage, "ru");
  EXPECT_TRUE(settings.Contains(utils::kSettingsLanguage));
  parent.reset();
  EXPECT_FALSE(settings.Contains(utils::kSettingsLanguage));
  EXPECT_EQ("none", settings.Value(utils::kSettingsLanguage, "none").toString());
  EXPECT_FALSE(settings.IsWritable());
  settings.SetValue(utils::kSettingsLanguage, "en");
  settings.Sync();
  EXPECT_EQ("ru", Stored("language").toString());
}

TEST_F(SettingsTest, SharedBetweenThreads) {
  auto settings = Open();
  settings->SetEmailDependenceKeys({utils::kSettingsRefreshToken});
  settings->AddCachedKey(utils::kSettingsDisks);
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&settings, t] {
      const QString own = QString("thread%1").arg(t);
      for (int i = 0; i < kRounds; ++i) {
        settings->SetValue(own, i);
        settings->SetValue(utils::kSettingsDisks, i);
        settings->SetEmailForKeys(i % 2 ? kEmails[0] : kEmails[1]);
        settings->SetValue(utils::kSettingsRefreshToken, i);
        settings->Value(utils::kSettingsDisks);
        settings->Contains(utils::kSettingsRefreshToken);
        if (i % 50 == 0) settings->Sync();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  settings->Sync();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(kRounds - 1, Stored(QString("thread%1").arg(t)).toInt());
  }
  EXPECT_EQ(kRounds - 1, settings->Value(utils::kSettingsDisks).toInt());
  EXPECT_EQ(kRounds - 1, Stored("disks").toInt());
}

TEST(SettingsKeysTest, Names) {
  struct Case {
    const QString& key;
    const char* name;
  } const kCases[] = {
      {utils::kSettingsAllowBackupRemoteDeletion, "allowBackupRemoteDeletion"},
      {utils::kSettingsAllowMountForAllUsers, "allowMountForAllUsers"},
      {utils::kSettingsFirstRunDate, "firstRunDate"},
      {utils::kSettingsBackups, "backups"},
      {utils::kSettingsBinaryRunPath, "binaryRunPath"},
      {utils::kSettingsClientId, "clientId"},
      {utils::kSettingsCrashDumpMetricSent, "crashDumpMetricSent"},
      {utils::kSettingsDisableAutoMountDrivesOnStart, "disableAutoMountDrivesOnStart"},
      {utils::kSettingsDisks, "disks"},
      {utils::kSettingsEmail, "email"},
      {utils::kSettingsEnableNotifications, "enableNotifications"},
      {utils::kSettingsFolder, "folder"},
      {utils::kSettingsForceMountAsNetworkDrive, "forceMountAsNetworkDrive"},
      {utils::kSettingsIncreaseInterval, "-increaseInterval"},
      {utils::kSettingsInodeIsSupportedPreviousRun, "inodeIsSupportedPreviousRun"},
      {utils::kSettingsInstallationId, "installationId"},
      {utils::kSettingsInstallerIntro, "installer_intro"},
      {utils::kSettingsLanguage, "language"},
      {utils::kSettingsMinRateLimitSec, "minRateLimitSec"},
      {utils::kSettingsMobileBalloon, "mobileBalloon"},
      {utils::kSettingsMobileCheck, "mobileCheck"},
      {utils::kSettingsNoBalloon, "-noballoon"},
      {utils::kSettingsKeyNotFirstRun, "keyNotFirstRun"},
      {utils::kSettingsPauseBalloonEnabled, "pauseBalloonEnabled"},
      {utils::kSettingsPauseBalloonInterval, "pauseBalloonInterval"},
      {utils::kSettingsProxy, "proxy"},
      {utils::kSettingsRefreshToken, "refreshToken"},
      {utils::kSettingsRunBackupsWithBackgroundPriority, "runBackupsWithBackgroundPriority"},
      {utils::kSettingsSandBoxToken, "SandBoxToken"},
      {utils::kSettingsSendingCrashDumpAttempt, "sendingCrashDumpAttempt"},
      {utils::kSettingsSync, "sync"},
      {utils::kSettingsTsaToken, "tsaToken"},
      {utils::kSettingsUpdated, "-updated"},
      {utils::kSettingsValidFinish, "validfinish"},
      {utils::kSettingsLastTimeContent, "lastTimeContent"},
      {utils::kSettingsLastTime, "lastTime"},
      {utils::kSettingsLogin, "login"},
      {utils::kSettingsPwd, "pwd"},
      {utils::kSettingsSrv, "srv"},
      {utils::kSettingsTRefresh, "t_refresh"},
  };
  for (const Case& c : kCases) EXPECT_EQ(QString::fromLatin1(c.name), c.key);
}

}  // namespace
