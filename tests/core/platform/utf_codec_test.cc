#include "core/platform/utf_codec.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(UtfCodecTest, WellFormedUtf8) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  } const kCases[] = {
      {"", u""},
      {"abc", u"abc"},
      {"\xc3\xa9", u"\u00e9"},
      {"\xe2\x82\xac", u"\u20ac"},
      {"\xef\xbf\xbf", u"\uffff"},
      {"a\xf0\x9f\x98\x80", u"a\U0001F600"},
      {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.utf8));
    WString wide;
    std::string narrow;
    size_t error_at = 99;
    EXPECT_TRUE(platform::Utf8ToUtf16(c.utf8, &wide, &error_at));
    EXPECT_EQ(c.utf16, wide);
    EXPECT_TRUE(platform::Utf16ToUtf8(c.utf16, &narrow, &error_at));
    EXPECT_EQ(c.utf8, narrow);
    size_t units = 99;
    EXPECT_TRUE(platform::Utf16LengthOfUtf8(c.utf8, &units));
    EXPECT_EQ(c.utf16.size(), units);
  }
}

TEST(UtfCodecTest, IllFormedUtf8IsRejectedAtItsOffset) {
  struct Case {
    const char* what;
    std::string bytes;
    size_t error_at;
  } const kCases[] = {
      {"lone continuation", "ab\x80", 2},
      {"overlong slash", "\xc0\xaf", 0},
      {"overlong three bytes", "x\xe0\x80\xaf", 1},
      {"overlong four bytes", "\xf0\x80\x80\xaf", 0},
      {"surrogate", "\xed\xa0\x80", 0},
      {"above U+10FFFF", "\xf4\x90\x80\x80", 0},
      {"F5 lead byte", "\xf5\x80\x80\x80", 0},
      {"truncated at end", "abc\xe2\x82", 3},
      {"bad continuation", "\xe2\x28\xa1", 0},
      {"FF byte", "\xff", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    WString wide = u"junk";
    size_t error_at = 99;
    EXPECT_FALSE(platform::Utf8ToUtf16(c.bytes, &wide, &error_at));
    EXPECT_TRUE(wide.empty());
    EXPECT_EQ(c.error_at, error_at);
    size_t units = 99;
    EXPECT_FALSE(platform::Utf16LengthOfUtf8(c.bytes, &units));
    EXPECT_EQ(0u, units);
  }
}

TEST(UtfCodecTest, UnpairedSurrogatesAreRejected) {
  struct Case {
    std::u16string units;
    size_t error_at;
  } const kCases[] = {
      {u"a\xd800", 1},
      {u"\xdc00x", 0},
      {std::u16string{u'a', 0xD800, u'b'}, 1},
      {std::u16string{0xDC00, 0xD800}, 0},
  };
  for (const Case& c : kCases) {
    std::string out = "junk";
    size_t error_at = 99;
    EXPECT_FALSE(platform::Utf16ToUtf8(c.units, &out, &error_at));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(c.error_at, error_at);
  }
}

TEST(UtfCodecTest, RandomScalarValuesRoundTrip) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<uint32_t> any(0, 0x10FFFF);
  std::u32string scalars;
  while (scalars.size() < 5000) {
    const char32_t c = any(random);
    if (c < 0xD800 || c > 0xDFFF) scalars.push_back(c);
  }
  // The standard library's own encoders are the reference.
  std::u16string utf16;
  std::string utf8;
  for (char32_t c : scalars) {
    if (c > 0xFFFF) {
      utf16.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      utf16.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      utf16.push_back(static_cast<char16_t>(c));
    }
    if (c < 0x80) {
      utf8.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      utf8 += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      utf8 += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
               static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      utf8 += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
               static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  WString wide;
  std::string narrow;
  size_t error_at = 0;
  ASSERT_TRUE(platform::Utf8ToUtf16(utf8, &wide, &error_at));
  EXPECT_EQ(utf16, wide);
  ASSERT_TRUE(platform::Utf16ToUtf8(utf16, &narrow, &error_at));
  EXPECT_EQ(utf8, narrow);
}

TEST(UtfCodecTest, IsAscii) {
  EXPECT_TRUE(platform::IsAscii(""));
  EXPECT_TRUE(platform::IsAscii("0123456789abcdefXYZ"));
  EXPECT_FALSE(platform::IsAscii("0123456789abcdef\x80"));
  EXPECT_FALSE(platform::IsAscii("\xc3\xa9" "0123456789"));
}

}  // namespace
