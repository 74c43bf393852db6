#include "core/text/encoding_utils.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringRef>

#include "core/infra/logger.h"

namespace {

// Counts the Fatal lines logged while it lives.
class FatalCounter {
 public:
  FatalCounter() : start_(LoggerWrapper::GetErrorCounterFatals()) {}
  unsigned int count() const { return LoggerWrapper::GetErrorCounterFatals() - start_; }

 private:
  const unsigned int start_;
};

const char kDecomposedE[] = "e\xcc\x81";   // e + COMBINING ACUTE ACCENT
const char kComposedE[] = "\xc3\xa9";      // U+00E9
const char kDecomposedCapE[] = "E\xcc\x81";

TEST(EncodingUtilsTest, Utf8Utf16Conversions) {
  EXPECT_EQ(u"\u00e9t\u00e9", unicode::Utf8ToUtf16("\xc3\xa9t\xc3\xa9"));
  EXPECT_EQ("\xc3\xa9t\xc3\xa9", unicode::Utf16ToUtf8(u"\u00e9t\u00e9"));

  FatalCounter fatals;
  EXPECT_EQ(u"", unicode::Utf8ToUtf16("ab\xff"));
  EXPECT_EQ("", unicode::Utf16ToUtf8(std::u16string{u'a', 0xD800}));
  EXPECT_EQ(2u, fatals.count());
  std::string log;
  LoggerWrapper::Get(&log);
  EXPECT_NE(std::string::npos,
            log.find("Cannot convert from UTF16 to UTF8. No mapping for the Unicode "
                     "character exists in the target code page. [error at 1], "
                     "Source: a%00%00%D8"));
  EXPECT_NE(std::string::npos, log.find("Cannot convert from UTF8 to UTF16. "));
  EXPECT_NE(std::string::npos, log.find(" [error at 2]. Source: ab\xff"));
}

TEST(EncodingUtilsTest, PrintInvalidUtf16EncodesEveryUnitLittleEndian) {
  EXPECT_EQ("a%00%2F%00%00%D8", unicode::PrintInvalidUtf16(std::u16string{u'a', u'/', 0xD800}));
}

TEST(EncodingUtilsTest, Utf8StrSymbolLength) {
  EXPECT_EQ(3, utils::Utf8StrSymbolLength("a\xf0\x9f\x98\x80"));
  EXPECT_EQ(0, utils::Utf8StrSymbolLength("\x80"));
  EXPECT_EQ(0, utils::Utf8StrSymbolLength(""));
  EXPECT_EQ(2, utils::Utf8StrSymbolLength(kDecomposedE));
}

TEST(EncodingUtilsTest, NormalizeC) {
  struct Case {
    std::string input;
    bool already;
    std::string nfc;
  } const kCases[] = {
      {"", true, ""},
      {"plain ascii", true, "plain ascii"},
      {kComposedE, true, kComposedE},
      {kDecomposedE, false, kComposedE},
      {"A\xcc\x8a", false, "\xc3\x85"},                   // A + ring -> U+00C5
      {"\xe1\x84\x80\xe1\x85\xa1", false, "\xea\xb0\x80"},  // Hangul jamo -> U+AC00
      {"\xe2\x84\xab", false, "\xc3\x85"},                 // ANGSTROM SIGN
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input);
    std::string out = "junk";
    bool already = !c.already;
    EXPECT_TRUE(unicode::NormalizeCIfNeeded(c.input, &out, &already));
    EXPECT_EQ(c.already, already);
    EXPECT_EQ(c.already ? "" : c.nfc, out);

    EXPECT_TRUE(unicode::NormalizeC(c.input, &out));
    EXPECT_EQ(c.nfc, out);
    std::string in_place = c.input;
    EXPECT_TRUE(unicode::NormalizeC(&in_place));
    EXPECT_EQ(c.nfc, in_place);

    WString wide;
    EXPECT_TRUE(unicode::NormalizeC(unicode::Utf8ToUtf16(c.input), &wide));
    EXPECT_EQ(unicode::Utf8ToUtf16(c.nfc), wide);
  }
  std::string unused;
  EXPECT_TRUE(unicode::NormalizeCIfNeeded("abc", &unused, nullptr));
}

TEST(EncodingUtilsTest, NormalizeDIsNotOffered) {
  std::string empty;
  EXPECT_TRUE(unicode::NormalizeD(&empty));
  std::string text = kComposedE;
  EXPECT_FALSE(unicode::NormalizeD(&text));
  EXPECT_EQ(kComposedE, text);
}

TEST(EncodingUtilsTest, LowercaseIfNeeded) {
  struct Case {
    std::string input;
    bool already;
    std::string lower;  // What ToLower returns.
  } const kCases[] = {
      {"", true, ""},
      {"readme.txt", true, "readme.txt"},
      {"ReadMe.TXT", false, "readme.txt"},
      {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", false,
       "\xd0\xbf\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82"},  // Привет
      {kDecomposedE, true, kDecomposedE},  // Lowercase already: not recomposed.
      {kDecomposedCapE, false, kComposedE},
      {"\xc4\xb0", false, "i\xcc\x87"},  // U+0130 has a two-character lowercase.
      {"stra\xc3\x9f" "e", true, "stra\xc3\x9f" "e"},
      {"ab\xff", true, "ab\xff"},  // Not UTF-8: left as it is (and logged).
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input);
    std::string out = "junk";
    bool already = !c.already;
    EXPECT_TRUE(LowercaseIfNeeded(c.input, &out, &already));
    EXPECT_EQ(c.already, already);
    EXPECT_EQ(c.already ? "" : c.lower, out);
    EXPECT_EQ(c.lower, ToLower(c.input));
  }
}

TEST(EncodingUtilsTest, AsciiComparisons) {
  EXPECT_TRUE(IEqualsASCII("Content-Length", "content-length"));
  EXPECT_FALSE(IEqualsASCII("Content-Lengths", "content-length"));
  EXPECT_FALSE(IEqualsASCII("\xc3\xa9", "\xc3\x89"));  // Only ASCII folds.
  EXPECT_FALSE(IBeginsWithASCII("ab", "abc"));
  EXPECT_TRUE(IBeginsWithASCII("HTTP/1.1 200", "http/"));
  EXPECT_TRUE(IEndsWithASCII("photo.JPG", ".jpg"));
  EXPECT_FALSE(IEndsWithASCII("g", ".jpg"));
  EXPECT_TRUE(utils::IsEqualsCaseInsensitive("ETag", "etag"));
  EXPECT_FALSE(utils::IsEqualsCaseInsensitive("ETag", "etags"));
}

TEST(EncodingUtilsTest, QtStrings) {
  const QString decomposed = QString::fromUtf8(kDecomposedE);
  EXPECT_EQ(kComposedE, QStrToStr(decomposed));
  EXPECT_EQ(kDecomposedE, QStrToStrFast(decomposed));
  EXPECT_EQ(kDecomposedE, QStrToStrFast(decomposed.midRef(0)));
  EXPECT_EQ(u"e\u0301", QStrToWStr(decomposed));
  EXPECT_EQ(decomposed, StrToQStr(std::string(kDecomposedE)));
  EXPECT_EQ(decomposed, StrToQStr(std::string_view(kDecomposedE)));
  EXPECT_EQ(decomposed, StrToQStr(WString(u"e\u0301")));
}

}  // namespace
