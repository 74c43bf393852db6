// The SigV4 signer's own rules, at fixed instants.

#include "core/auth/s3_utils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/log_watch.h"

namespace {

using std::chrono::seconds;
using std::chrono::system_clock;

// 2026-12-04 19:57:51 UTC, a Friday.
const system_clock::time_point kInstant = system_clock::time_point(seconds(1796414271));

std::vector<std::string> Sign(const std::string& query, const std::vector<std::string>& headers,
                              system_clock::time_point now = kInstant) {
  return s3_utils::GenerateHTTPHeaders("bucket.example.com", "/bucket/a%20b.txt", query, "GET",
                                       "eu-west-1", "AKIDEXAMPLE", "KVSECRET-s3-unit", headers,
                                       now);
}

std::string SignedHeaders(const std::vector<std::string>& lines) {
  const std::string& auth = lines.back();
  const size_t begin = auth.find("SignedHeaders=") + 14;
  return auth.substr(begin, auth.find(',', begin) - begin);
}

TEST(S3UtilsTest, FourFixedLinesThenTheAuthorization) {
  const std::vector<std::string> lines = Sign("", {});
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("date:Fri, 04 Dec 2026 19:57:51 GMT+04:00", lines[0]);
  EXPECT_EQ("host:bucket.example.com", lines[1]);
  EXPECT_EQ("x-amz-content-sha256:UNSIGNED-PAYLOAD", lines[2]);
  EXPECT_EQ("x-amz-date:20261204T195751Z", lines[3]);
  EXPECT_EQ(0u, lines[4].find("authorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/"
                              "20261204/eu-west-1/s3/aws4_request, SignedHeaders="
                              "date;host;x-amz-content-sha256;x-amz-date, Signature="));
  const std::string signature = lines[4].substr(lines[4].rfind('=') + 1);
  EXPECT_EQ(64u, signature.size());
  EXPECT_EQ(std::string::npos, signature.find_first_not_of("0123456789abcdef"));
  // The same instant signs the same way; the next second does not.
  EXPECT_EQ(lines, Sign("", {}));
  EXPECT_NE(lines[4], Sign("", {}, kInstant + seconds(1))[4]);
  for (const std::string& line : lines) EXPECT_EQ(std::string::npos, line.find("KVSECRET"));
}

TEST(S3UtilsTest, DatesAreUtcClockTimesWithAFixedSuffix) {
  struct Case {
    int64_t unix_seconds;
    const char* date;
    const char* amz;
  } const kCases[] = {
      {0, "Thu, 01 Jan 1970 00:00:00 GMT+04:00", "19700101T000000Z"},
      {951782400, "Tue, 29 Feb 2000 00:00:00 GMT+04:00", "20000229T000000Z"},
      {1796414271, "Fri, 04 Dec 2026 19:57:51 GMT+04:00", "20261204T195751Z"},
      {1798761599, "Thu, 31 Dec 2026 23:59:59 GMT+04:00", "20261231T235959Z"},
      {4107542400, "Mon, 01 Mar 2100 00:00:00 GMT+04:00", "21000301T000000Z"},
      {-86400, "Wed, 31 Dec 1969 00:00:00 GMT+04:00", "19691231T000000Z"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.unix_seconds);
    const auto at = system_clock::time_point(seconds(c.unix_seconds));
    EXPECT_EQ(c.date, s3_utils::internal::DateHeaderText(at));
    EXPECT_EQ(c.amz, s3_utils::internal::AmzDateText(at));
  }
}

TEST(S3UtilsTest, CanonicalQuery) {
  struct Case {
    const char* query;
    const char* canonical;
  } const kCases[] = {
      {"", ""},
      {"uploads", "uploads="},
      {"list-type=2&max-keys=1000&prefix=a%2Fb%2F", "list-type=2&max-keys=1000&prefix=a%2Fb%2F"},
      {"prefix=a/b/&max-keys=1000&list-type=2", "list-type=2&max-keys=1000&prefix=a%2Fb%2F"},
      {"uploadId=xyz&partNumber=3", "partNumber=3&uploadId=xyz"},
      {"continuation-token=1a/b+c==", "continuation-token=1a%2Fb%2Bc%3D%3D"},
      {"continuation-token=1a%2Fb%2Bc%3D%3D", "continuation-token=1a%2Fb%2Bc%3D%3D"},
      {"prefix=a b", "prefix=a%20b"},
      {"prefix=a%20b~._-", "prefix=a%20b~._-"},
      {"b=2&a=2&a=1", "a=1&a=2&b=2"},
      {"delimiter=%2F&prefix=", "delimiter=%2F&prefix="},
      {"a&&b", "a=&b="},
      {"x=%zz%4", "x=%25zz%254"},
      {"prefix=\xd0\x9f\xd0\xb0", "prefix=%D0%9F%D0%B0"},
      // UTF-16 order: U+1F600 (a surrogate pair) before U+FF01, unlike bytes.
      {"k=\xef\xbc\x81&k=\xf0\x9f\x98\x80", "k=%F0%9F%98%80&k=%EF%BC%81"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(c.canonical, s3_utils::internal::CanonicalQuery(c.query));
  }
}

TEST(S3UtilsTest, CanonicalHeaderValues) {
  struct Case {
    const char* value;
    const char* canonical;
  } const kCases[] = {
      {" public-read", "public-read"},
      {"  a   b \t c  ", "a b c"},
      {"\ta\t\tb", "a\tb"},
      {"x \"a   b\"  y", "x \"a   b\" y"},
      {"\"a \\\"  b\"  c", "\"a \\\"  b\" c"},
      {"", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(c.canonical, s3_utils::internal::CanonicalHeaderValue(c.value));
  }
}

TEST(S3UtilsTest, ExtraHeadersAreSignedNotRepeated) {
  const std::vector<std::string> lines =
      Sign("", {"x-amz-acl: public-read", "content-type:text/plain", "x-amz-meta-a:1"});
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("content-type;date;host;x-amz-acl;x-amz-content-sha256;x-amz-date;x-amz-meta-a",
            SignedHeaders(lines));
  // A later line of the same name replaces the earlier one.
  EXPECT_EQ(Sign("", {"x-amz-acl:private"})[4],
            Sign("", {"x-amz-acl: public-read", "x-amz-acl:private"})[4]);
  // A fixed name changes the signature only, not the emitted line.
  const std::vector<std::string> replaced = Sign("", {"host:other.example.com"});
  EXPECT_EQ("host:bucket.example.com", replaced[1]);
  EXPECT_NE(Sign("", {})[4], replaced[4]);
  EXPECT_EQ("date;host;x-amz-content-sha256;x-amz-date", SignedHeaders(replaced));
}

TEST(S3UtilsTest, ALineWithoutColonIsLoggedAndLeftOut) {
  testing_env::LogWatch watch;
  const std::vector<std::string> lines = Sign("", {"x-amz-acl public-read", ""});
  EXPECT_EQ(Sign("", {})[4], lines[4]);
  EXPECT_EQ(1u, watch.fatals());
  EXPECT_TRUE(watch.Contains("Empty valud headers no supported."));
}

}  // namespace
