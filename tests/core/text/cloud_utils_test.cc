#include "core/text/cloud_utils.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QString>
#include <set>

#include "core/infra/logger.h"

namespace {

class FailCounter {
 public:
  FailCounter()
      : fails_(LoggerWrapper::GetErrorCounterFails()),
        fatals_(LoggerWrapper::GetErrorCounterFatals()) {}
  unsigned int fails() const { return LoggerWrapper::GetErrorCounterFails() - fails_; }
  unsigned int fatals() const { return LoggerWrapper::GetErrorCounterFatals() - fatals_; }

 private:
  const unsigned int fails_;
  const unsigned int fatals_;
};

TEST(CloudUtilsTest, PercentEncode) {
  EXPECT_EQ("a%20b/%C3%BC", utils::PercentEncoded("a b/\xc3\xbc", false));
  EXPECT_EQ("a%20b%2F%C3%BC", utils::PercentEncoded("a b/\xc3\xbc", true));
  EXPECT_EQ("AZaz09-._~%21%2A%27%28%29%00", utils::PercentEncoded(
                std::string("AZaz09-._~!*'()\0", 16), true));
  std::string appended = "x=";
  utils::PercentEncode("a&b", &appended, true);
  EXPECT_EQ("x=a%26b", appended);
}

TEST(CloudUtilsTest, PercentDecode) {
  struct Case {
    std::string input;
    std::string decoded;
    bool logged;
  } const kCases[] = {
      {"a+b?c+d%41%%", "a+b?c dA%", false},
      {"%2F%2f", "//", false},
      {"abc%4", "abc", true},
      {"%G0", "0", true},
      {"%4%41", "41", true},  // "%" after the first digit breaks the escape.
      {"%\xc3\xa9", "\xa9", true},
      {"", "", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input);
    FailCounter counter;
    EXPECT_EQ(c.decoded, utils::PercentDecoded(c.input));
    EXPECT_EQ(c.logged ? 1u : 0u, counter.fails());
  }
  std::string appended = "pre:";
  utils::PercentDecode("%41", &appended);
  EXPECT_EQ("pre:A", appended);
}

TEST(CloudUtilsTest, SafePrintBinary) {
  EXPECT_EQ("", utils::SafePrintBinary(""));
  EXPECT_EQ("caf\xc3\xa9/x", utils::SafePrintBinary("caf\xc3\xa9/x"));
  EXPECT_EQ("a%2Fb%FF", utils::SafePrintBinary("a/b\xff"));
}

TEST(CloudUtilsTest, JsonEncodedString) {
  struct Case {
    std::string input;
    std::string escaped;
  } const kCases[] = {
      {"\x01", "\\u0001"},
      {"\xc3\xa9", "\\u00e9"},
      {"\x7f", "\\u007f"},
      {"a/b", "a/b"},
      {"\"q\"\\\t\r\n", "\\\"q\\\"\\\\\\t\\r\\n"},
      {"\f\b", "\\u000c\\u0008"},
      {"\xf0\x9f\x98\x80", "\\ud83d\\ude00"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(c.escaped, utils::JSONEncodedString(c.input, true));
  }
  EXPECT_EQ("caf\xc3\xa9 \\\"x\\\"", utils::JSONEncodedString("caf\xc3\xa9 \"x\"", false));
}

TEST(CloudUtilsTest, Base64) {
  // RFC 4648, section 10.
  const std::pair<const char*, const char*> kCases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},
      {"foo", "Zm9v"},  {"foob", "Zm9vYg=="},  {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : kCases) EXPECT_EQ(encoded, ConvertToBase64(plain));
  EXPECT_EQ("/+8A", ConvertToBase64(std::string("\xff\xef\x00", 3)));
}

TEST(CloudUtilsTest, ParseISODateTime) {
  EXPECT_EQ(86400, utils::ParseISODateTime("1970-01-02T00:00:00Z"));
  EXPECT_EQ(1700000000, utils::ParseISODateTime("2023-11-14T22:13:20Z"));
  EXPECT_EQ(1700000000, utils::ParseISODateTime("2023-11-15T01:13:20+03:00"));
  EXPECT_EQ(1700000000, utils::ParseISODateTime("2023-11-14T22:13:20.500Z"));
  const QDateTime local(QDate(2023, 11, 14), QTime(22, 13, 20), Qt::LocalTime);
  EXPECT_EQ(local.toSecsSinceEpoch(), utils::ParseISODateTime("2023-11-14T22:13:20"));

  FailCounter counter;
  const int64_t before = QDateTime::currentSecsSinceEpoch();
  const int64_t parsed = utils::ParseISODateTime("not a date");
  EXPECT_GE(parsed, before);
  EXPECT_LE(parsed, QDateTime::currentSecsSinceEpoch());
  EXPECT_EQ(1u, counter.fails());
  std::string log;
  LoggerWrapper::Get(&log);
  EXPECT_NE(std::string::npos, log.find("Failed to parse time string: \"not a date\".\n"));
}

TEST(CloudUtilsTest, SizesToText) {
  struct Case {
    uint64_t value;
    int precision;
    const char* bytes;
    const char* number;
  } const kCases[] = {
      {0, 0, "0 байт", "0"},
      {1023, 0, "1023 байт", "1023"},
      {1024, 1, "1 КБ", "1 К"},
      {1536, 1, "1.5 КБ", "1.5 К"},
      {1587, 2, "1.55 КБ", "1.55 К"},
      {1587, 0, "2 КБ", "2 К"},
      {5ULL << 20, 1, "5 МБ", "5 М"},
      {(3ULL << 30) + (1ULL << 29), 1, "3.5 ГБ", "3.5 Г"},
      {2ULL << 40, 0, "2 ТБ", "2 Т"},
      {5000ULL << 40, 1, "5000 ТБ", "5000 Т"},
      {UINT64_MAX, 1, "1.67772e+07 ТБ", "1.67772e+07 Т"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(QString::fromUtf8(c.bytes), utils::ConvertBytesToText(c.value, c.precision));
    EXPECT_EQ(QString::fromUtf8(c.number), utils::ConvertNumToText(c.value, c.precision));
  }
  const auto pair = utils::ConvertBytesToText(512ULL << 20, 2ULL << 30, 1);
  EXPECT_EQ(QString("0.5"), pair.first);
  EXPECT_EQ(QString::fromUtf8("2 ГБ"), pair.second);
  const auto small = utils::ConvertBytesToText(100, 1000, 0);
  EXPECT_EQ(QString("100"), small.first);
  EXPECT_EQ(QString::fromUtf8("1000 байт"), small.second);
}

TEST(CloudUtilsTest, VersionAndHost) {
  EXPECT_EQ(2015, VersionToInt("2.0.15"));
  EXPECT_EQ(1102, VersionToInt("1.10.2"));
  EXPECT_EQ(0, VersionToInt("beta"));

  const std::pair<const char*, const char*> kHosts[] = {
      {"https://s3.example.com:443/bucket/key", "s3.example.com"},
      {"http://host/path", "host"},
      {"host.only", "host.only"},
      {"host:8080/x", "host"},
      {"https://", ""},
  };
  for (const auto& [url, host] : kHosts) EXPECT_EQ(host, ExtractHostnameFromURL(url));
}

TEST(CloudUtilsTest, HeaderLookup) {
  // An S3 PUT answer: ETag is the first header after the status line.
  const std::string put_answer =
      "HTTP/1.1 200 OK\r\n"
      "ETag: \"9b2cf535f27731c974343645a3985328\"\r\n"
      "Content-Length: 0\r\n"
      "\r\n";
  EXPECT_EQ("\"9b2cf535f27731c974343645a3985328\"",
            GetValueFromHTTPHeaders(put_answer, "ETag", true));
  EXPECT_EQ("0", GetValueFromHTTPHeaders(put_answer, "content-length", true));
  EXPECT_EQ("", GetValueFromHTTPHeaders(put_answer, "Content-Type", true));
  EXPECT_EQ("", GetValueFromHTTPHeaders(put_answer, "HTTP/1.1 200 OK\r\nETag", true));

  // Two answers in one block (a redirect, then the object).
  const std::string two_answers =
      "HTTP/1.1 301 Moved\r\nLocation: https://b/\r\nX-Id:  first \r\n\r\n"
      "HTTP/1.1 200 OK\r\nx-id:\tsecond\r\nEmpty:\r\n\r\n";
  EXPECT_EQ("first", GetValueFromHTTPHeaders(two_answers, "X-Id", true));
  EXPECT_EQ("second", GetValueFromHTTPHeaders(two_answers, "X-Id", false));
  EXPECT_EQ("", GetValueFromHTTPHeaders(two_answers, "Empty", false));
  EXPECT_EQ("https://b/", GetValueFromHTTPHeaders(two_answers, "Location", true));
  EXPECT_EQ("v", GetValueFromHTTPHeaders("Name: v", "Name", true));  // No line feed.
}

TEST(CloudUtilsTest, TotalPayloadSize) {
  EXPECT_EQ("1000", GetTotalPayloadSizeFromHTTPHeaders(
                        "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-99/1000\r\n"
                        "Content-Length: 100\r\n\r\n"));
  EXPECT_EQ("100", GetTotalPayloadSizeFromHTTPHeaders(
                       "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"));
  EXPECT_EQ("", GetTotalPayloadSizeFromHTTPHeaders("HTTP/1.1 200 OK\r\n\r\n"));
  FailCounter counter;
  EXPECT_EQ("", GetTotalPayloadSizeFromHTTPHeaders("Content-Range: bytes 0-99\r\n"));
  EXPECT_EQ("", GetTotalPayloadSizeFromHTTPHeaders("Content-Range: bytes 0-99/*\r\n"));
  EXPECT_EQ(2u, counter.fatals());
  std::string log;
  LoggerWrapper::Get(&log);
  EXPECT_NE(std::string::npos, log.find("Failed to parse content range: bytes 0-99\n"));
  EXPECT_NE(std::string::npos, log.find("Failed to parse content range total bytes str: *\n"));
}

TEST(CloudUtilsTest, IncrementFileIndex) {
  const std::pair<const char*, const char*> kCases[] = {
      {"report.txt", "report(1).txt"},
      {"report(1).txt", "report(2).txt"},
      {"report (9).txt", "report (10).txt"},
      {".profile", ".profile(1)"},
      {"noext", "noext(1)"},
      {"a(3)b(3).txt", "a(3)b(4).txt"},  // The first index, replaced where it last stands.
      {"a(2)b(7)", "a(3)b(7)"},
      {"caf" "e\xcc\x81.txt", "caf\xc3\xa9(1).txt"},
  };
  for (const auto& [input, expected] : kCases) {
    std::string name = input;
    IncrementFileIndex(&name);
    EXPECT_EQ(expected, name) << input;
  }
}

TEST(CloudUtilsTest, ChooseUniqueNamePostfix) {
  const std::set<std::string> taken = {"photo (1).jpg", "photo (2).jpg", " (1).cfg"};
  const auto exists = [&](const std::string& name) { return taken.count(name) > 0; };
  EXPECT_EQ("photo (3).jpg", utils::ChooseUniqueNamePostfix(exists, "photo.jpg"));
  EXPECT_EQ("notes (1)", utils::ChooseUniqueNamePostfix(exists, "notes"));
  EXPECT_EQ(" (2).cfg", utils::ChooseUniqueNamePostfix(exists, ".cfg"));
  EXPECT_EQ("a.tar (1).gz", utils::ChooseUniqueNamePostfix(exists, "a.tar.gz"));
}

}  // namespace
