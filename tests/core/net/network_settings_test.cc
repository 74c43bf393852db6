#include "core/net/network_settings.h"

#include <gtest/gtest.h>

namespace {

TEST(NetworkSettingsTest, Validation) {
  NetworkSettings settings;
  EXPECT_EQ(NetworkSettings::kValid, settings.Validate());  // the system proxy
  settings.mode = NetworkSettings::kManualProxy;
  EXPECT_EQ(NetworkSettings::kHostEmpty, settings.Validate());
  settings.host = "proxy";
  EXPECT_EQ(NetworkSettings::kPortInvalid, settings.Validate());
  settings.port = 65536;
  EXPECT_EQ(NetworkSettings::kPortInvalid, settings.Validate());
  settings.port = 65535;
  EXPECT_EQ(NetworkSettings::kValid, settings.Validate());
  settings.auth = true;
  settings.user = "u";
  EXPECT_EQ(NetworkSettings::kCredentialsMissing, settings.Validate());
  settings.password = "p";
  EXPECT_EQ(NetworkSettings::kValid, settings.Validate());
}

TEST(NetworkSettingsTest, TextForm) {
  const std::string placeholder = NetworkSettings::kEmptyPlaceholder;
  EXPECT_EQ("1 0 " + placeholder + " 0 false " + placeholder + " " + placeholder,
            NetworkSettings().ToString());
  NetworkSettings parsed;
  parsed.host = "x";
  EXPECT_TRUE(parsed.FromString(NetworkSettings().ToString()));
  EXPECT_EQ(NetworkSettings(), parsed);

  NetworkSettings manual;
  manual.mode = NetworkSettings::kManualProxy;
  manual.type = NetworkSettings::kSocks5;
  manual.host = "10.0.0.1";
  manual.port = 1080;
  manual.auth = true;
  manual.user = "user";
  manual.password = "pass";
  EXPECT_EQ("2 2 10.0.0.1 1080 true user pass", manual.ToString());
  NetworkSettings back;
  EXPECT_TRUE(back.FromString(manual.ToString()));
  EXPECT_EQ(manual, back);
  EXPECT_EQ(QString::fromStdString(manual.ToString()), manual.ToVariant().toString());

  // Parsed but invalid, and not parsed at all.
  EXPECT_FALSE(back.FromString("2 0 " + placeholder + " 80 false " + placeholder + " " +
                               placeholder));
  NetworkSettings untouched = manual;
  EXPECT_FALSE(untouched.FromString("garbage"));
  EXPECT_EQ(manual, untouched);
  NetworkSettings other = manual;
  other.extra_mode = 2;
  EXPECT_NE(manual, other);
}

}  // namespace
