#include "core/settings/app_info.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AppInfoTest, Names) {
  struct Case {
    const char* what;
    const char* value;
    const char* expected;
  } const kCases[] = {
      {"AppName", AppInfo::AppName(), "Korvo"},
      {"AppShortName", AppInfo::AppShortName(), "korvo"},
      {"OrganizationName", AppInfo::OrganizationName(), "Veltra"},
      {"HiddenWindowTitle", AppInfo::HiddenWindowTitle(),
       "E2DCED31-32EB-406B-BCA8-38879C45600D-HDJK6678HBHCAVGL667"},
      {"NameConfig", AppInfo::NameConfig(), "Veltra_Korvo"},
      {"NameExeApp", AppInfo::NameExeApp(), "Korvo.exe"},
      {"NameExeRunnerRaw", AppInfo::NameExeRunnerRaw(), "KorvoRunner.exe"},
      {"NameExeAppLinux", AppInfo::NameExeAppLinux(), "korvo-desktop"},
      {"NameExeRunnerRawLinux", AppInfo::NameExeRunnerRawLinux(), "korvo-runner"},
      {"NameLockFile", AppInfo::NameLockFile(), "Korvo"},
      {"NameSingleInstanceMutex", AppInfo::NameSingleInstanceMutex(),
       "Local\\Korvo-B2B1BF1DA748443A90DD269689C3C5D2"},
      {"TrayIconNormalName", AppInfo::TrayIconNormalName(), "vt_korvo_tray_icon_normal"},
      {"UserAgentSuffix", AppInfo::UserAgentSuffix(), "Desktop"},
      {"Version", AppInfo::Version(), "20.10.0141"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_STREQ(c.expected, c.value);
  }
  // No translator is installed in the tests.
  EXPECT_EQ("Korvo:", AppInfo::AppDisplayName());
}

TEST(AppInfoTest, Endpoints) {
  struct Case {
    const char* what;
    std::string url;
    const char* scheme;
    const char* path_end;
  } const kCases[] = {
      {"FeaturesUrl", AppInfo::FeaturesUrl(), "https://", "/features/Korvo"},
      {"UpdateUrl", AppInfo::UpdateUrl(), "https://", "/check/linux-x64/"},
      {"UpdateDevUrl", AppInfo::UpdateDevUrl(), "http://", "/check/korvo/"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::string scheme = c.scheme;
    const std::string end = c.path_end;
    ASSERT_GT(c.url.size(), scheme.size() + end.size());
    EXPECT_EQ(scheme, c.url.substr(0, scheme.size()));
    EXPECT_EQ(end, c.url.substr(c.url.size() - end.size()));
    // A host between the scheme and the path.
    const std::string host = c.url.substr(scheme.size(), c.url.size() - scheme.size() - end.size());
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(std::string::npos, host.find('/'));
  }
}

}  // namespace
