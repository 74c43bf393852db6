#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/net/dispatcher_url.h"
#include "core/net/json_xml.h"
#include "core/net/streams.h"
#include "core/net/url_processor.h"
#include "tests/support/log_watch.h"

namespace {

using testing_env::LogWatch;

// Delivers a body in pieces of at most |piece| bytes, then |last|.
class FakeStream : public InputStream {
 public:
  FakeStream(std::string body, size_t piece, bool announce_length,
             Result last = InputStream::kEnd)
      : body_(std::move(body)), piece_(piece), announce_(announce_length), last_(last) {}

  Result Read(unsigned char* buffer, unsigned int size, unsigned int* read) override {
    ++reads_;
    *read = 0;
    if (offset_ == body_.size()) return last_;
    const size_t n = std::min<size_t>({piece_, size, body_.size() - offset_});
    std::memcpy(buffer, body_.data() + offset_, n);
    offset_ += n;
    *read = static_cast<unsigned int>(n);
    return kData;
  }
  int64_t InputLength() const override {
    if (claimed_ >= 0) return claimed_;
    return announce_ ? static_cast<int64_t>(body_.size()) : -1;
  }
  // The length announced from now on, whatever the body.
  void Claim(int64_t length) { claimed_ = length; }
  void Start() override {}
  void Stop() override {}

  int reads() const { return reads_; }

 private:
  std::string body_;
  size_t piece_;
  bool announce_;
  Result last_;
  size_t offset_ = 0;
  int reads_ = 0;
  int64_t claimed_ = -1;
};

TEST(RequestInterfaceTest, StatusCodesAndRanges) {
  struct Case {
    int code;
    bool success, not_success;
  } const kCases[] = {{100, true, false}, {200, true, false}, {299, true, false},
                      {0, false, false},  {101, false, true}, {300, false, true},
                      {404, false, true}, {-1, false, false}};
  for (const Case& c : kCases) {
    EXPECT_EQ(c.success, URLProcessor::IsSuccessHttpCode(c.code)) << c.code;
    EXPECT_EQ(c.not_success, URLProcessor::IsNotSuccessHttpCode(c.code)) << c.code;
  }
  EXPECT_FALSE(URLProcessor::Range().IsSet());
  EXPECT_TRUE(URLProcessor::Range(5, 5).IsSet());
  EXPECT_FALSE(URLProcessor::Range(6, 5).IsSet());
  EXPECT_TRUE(URLProcessor::IsNetworkError(URLProcessor::SSL_FAILED));
  EXPECT_FALSE(URLProcessor::IsNetworkError(URLProcessor::OTHER_FAILED));

  std::ostringstream out;
  out << URLProcessor::SSL_FAILED << " " << static_cast<url_processor::Result>(13);
  EXPECT_EQ("SSL_FAILED UNKNOWN", out.str());
}

TEST(RequestInterfaceTest, ContentRangeMustNameExactlyTheNumbers) {
  const boost::optional<uint64_t> kAny;
  struct Case {
    const char* value;  // of Content-Range; null for no such header
    uint64_t total;
    boost::optional<uint64_t> begin, end;
    bool expected;
  } const kCases[] = {
      {"bytes 0-99/100", 100, 0, kAny, true},
      {"bytes 0-99/100", 100, 0, 99, true},
      {"bytes 0-99/100", 100, kAny, kAny, true},
      {"bytes 0-99/100", 100, 5, kAny, false},
      {nullptr, 100, 0, 99, false},
      // Numbers that only occur inside others.
      {"bytes 10-20/1000", 100, kAny, kAny, false},
      {"bytes 10-20/1000", 1000, 1, 2, false},
      {"bytes 110-120/1000", 1000, 10, 20, false},
      {"bytes 10-20/1000", 1000, 10, 20, true},
      {"BYTES  10-20/1000", 1000, 10, 20, true},
      // Not a valid range of that total.
      {"bytes 20-10/1000", 1000, 20, 10, false},
      {"bytes 10-1000/1000", 1000, 10, 1000, false},
      {"bytes 10-20/1000 ", 1000, 10, 20, true},  // header values are trimmed
      {"bytes 10-20/1000x", 1000, 10, 20, false},
      {"bytes -10-20/1000", 1000, 10, 20, false},
      {"bytes +10-20/1000", 1000, 10, 20, false},
      {"bytes 10 - 20/1000", 1000, 10, 20, false},
      {"items 10-20/1000", 1000, 10, 20, false},
      {"bytes10-20/1000", 1000, 10, 20, false},
      {"bytes 0-0/18446744073709551616", 0, 0, 0, false},  // overflows
      {"bytes 0-18446744073709551614/18446744073709551615", 18446744073709551615u, 0,
       18446744073709551614u, true},
      // An unknown total confirms none; "*/T" names a total and no range.
      {"bytes 0-99/*", 100, 0, 99, false},
      {"bytes */100", 100, kAny, kAny, true},
      {"bytes */100", 100, 0, kAny, false},
      {"bytes */*", 0, kAny, kAny, false},
      {"", 0, kAny, kAny, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.value ? c.value : "(none)") + " total " + std::to_string(c.total));
    std::string headers = "HTTP/1.1 206 Partial Content\r\n";
    if (c.value != nullptr) headers += std::string("Content-Range: ") + c.value + "\r\n";
    EXPECT_EQ(c.expected, URLProcessor::CheckRangeInResponseHeaders(headers, c.total, c.begin,
                                                                    c.end));
  }
  // The last Content-Range is the final answer's (after interim blocks).
  EXPECT_TRUE(URLProcessor::CheckRangeInResponseHeaders(
      "Content-Range: bytes 0-1/5\r\n\r\nContent-Range: bytes 2-3/5\r\n", 5, 2, 3));
}

TEST(RequestInterfaceTest, ReadAllToStopsAtItsLimit) {
  struct Case {
    size_t body, piece;
    int64_t claimed;  // -1: no length announced
    size_t limit;
    InputStream::Result result;
  } const kCases[] = {
      {100, 7, -1, 100, InputStream::kEnd},
      {101, 7, -1, 100, InputStream::kTooLarge},
      {5000, 4096, -1, 4096, InputStream::kTooLarge},
      {0, 1, -1, 0, InputStream::kEnd},
      {1, 1, -1, 0, InputStream::kTooLarge},
      // A peer's claim alone refuses the body, and nothing is allocated for it.
      {3, 3, 1'000'000'000'000, InputStream::kDefaultReadLimit, InputStream::kTooLarge},
      {3, 3, 101, 100, InputStream::kTooLarge},
      {3, 3, 100, 100, InputStream::kEnd},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::to_string(c.body) + " bytes, limit " + std::to_string(c.limit));
    FakeStream stream(std::string(c.body, 'x'), c.piece, false);
    stream.Claim(c.claimed);
    LogWatch watch;
    std::string out = "kept";
    EXPECT_EQ(c.result, stream.ReadAllTo(&out, 16, c.limit));
    if (c.result == InputStream::kTooLarge) {
      EXPECT_EQ("kept", out);
      EXPECT_LT(out.capacity(), 4096u + c.body);
      EXPECT_EQ(1u, watch.fails());
      EXPECT_TRUE(watch.Contains("Refused an answer over " + std::to_string(c.limit) + " bytes"));
    } else {
      EXPECT_EQ("kept" + std::string(c.body, 'x'), out);
      EXPECT_EQ(0u, watch.fails());
    }
  }
}

TEST(RequestInterfaceTest, TreesTooLongOrTooDeepAreRefusedOnce) {
  const auto nested = [](const char* open, const char* close, int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    for (int i = 0; i < depth; ++i) text += close;
    return text;
  };
  const int kMax = utils::kMaxNestingDepth;
  struct Case {
    bool json;
    std::string text;
    bool parses;
  } const kCases[] = {
      {true, nested("[", "]", kMax), true},
      {true, nested("[", "]", kMax + 1), false},
      {true, "{\"a\":" + nested("[", "]", kMax - 1) + "}", true},
      // Brackets in strings and behind escapes do not nest.
      {true, "[\"" + std::string(1000, '[') + "\\\"\"]", true},
      {true, "[\"\\\\\"" + nested("[", "]", kMax) + "]", false},
      {false, nested("<a>", "</a>", kMax), true},
      {false, nested("<a>", "</a>", kMax + 1), false},
      {false, nested("<a x=\"/>\">", "</a>", kMax + 1), false},
      {false, "<r>" + std::string(1000, 'x') + "<e/><e/>" + nested("<a/>", "", 200) + "</r>", true},
      // Comments, CDATA, declarations and quoted values hold no elements.
      {false, "<r><!--" + nested("<a>", "", 100) + "--><![CDATA[" + nested("<a>", "", 100) +
                  "]]><?pi " + nested("<a>", "", 100) + "?><e v='>'/></r>",
       true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    LogWatch watch;
    if (c.json) {
      utils::json::json_tree tree;
      EXPECT_EQ(c.parses, utils::json::Parse(c.text, &tree));
    } else {
      utils::xml::xml_tree tree;
      EXPECT_EQ(c.parses, utils::xml::Parse(c.text, &tree));
    }
    EXPECT_EQ(c.parses ? 0u : 1u, watch.fails()) << watch.Text();
  }
  LogWatch watch;
  utils::json::json_tree tree;
  FakeStream deep(nested("[", "]", 1000), 100, false);
  std::string raw;
  EXPECT_FALSE(utils::json::ReadAndParse(&deep, &tree, &raw));
  EXPECT_TRUE(watch.Contains("nested deeper than 64 levels"));
  FakeStream too_long("[\"" + std::string(2000, 'x') + "\"]", 500, false);
  EXPECT_FALSE(utils::json::ReadAndParse(&too_long, &tree, &raw, 1000));
  EXPECT_TRUE(raw.empty());
  utils::xml::xml_tree xml;
  FakeStream xml_long("<a>" + std::string(2000, 'x') + "</a>", 500, false);
  EXPECT_FALSE(utils::xml::ReadAndParse(&xml_long, &xml, nullptr, 1000));
  EXPECT_EQ(3u, watch.fails()) << watch.Text();
  // A logged body is capped.
  FakeStream junk(std::string(100000, '!'), 4096, false);
  LogWatch capped;
  EXPECT_FALSE(utils::json::ReadAndParse(&junk, &tree, nullptr));
  EXPECT_TRUE(capped.Contains("... (100000 bytes)")) << capped.Text().substr(0, 200);
  EXPECT_LT(capped.Text().size(), 10000u);
}

TEST(RequestInterfaceTest, DispatcherUrls) {
  const DispatcherUrl https("https://api.example.com/v1/x", "10.0.0.7");
  EXPECT_TRUE(https.IsResolverValid());
  EXPECT_EQ(443, https.Port());
  EXPECT_EQ("api.example.com:443:10.0.0.7", https.Resolver());
  EXPECT_EQ(80, DispatcherUrl("http://h/x", "1.2.3.4").Port());
  {
    LogWatch watch;
    EXPECT_FALSE(DispatcherUrl("https://h/x", "").IsResolverValid());
    EXPECT_TRUE(watch.Contains("Dispatcher empty ip https://h/x."));
    EXPECT_FALSE(DispatcherUrl("ftp://h/x", "1.2.3.4").IsResolverValid());
    EXPECT_TRUE(watch.Contains("Dispatcher invalid url ftp://h/x."));
  }
  DispatcherUrl url = DispatcherUrl::FromString("https://h/path");
  EXPECT_FALSE(url.IsResolverValid());
  url.AppendParam("a", "1 2", DispatcherUrl::kEncodeWithSlash);
  url.AppendParam("b", "x/y", DispatcherUrl::kEncodeKeepSlash);
  url.AppendParam("c", "x/y", DispatcherUrl::kEncodeWithSlash);
  EXPECT_EQ("https://h/path?a=1%202&b=x/y&c=x%2Fy", url.Url());
  DispatcherUrl appended = DispatcherUrl::FromString("https://h/");
  appended.Append("list?x=1", DispatcherUrl::kAsIs);
  appended.AppendParam("y", "2", DispatcherUrl::kAsIs);
  EXPECT_EQ("https://h/list?x=1&y=2", appended.Url());
  appended.Clear();
  EXPECT_TRUE(appended.IsEmpty());

  url_utils::PostParamsSet params;
  params.Add("grant_type", "password");
  params.Add("password", "a&b/c", true);
  params.Add("raw", std::string("a&b"), false);
  EXPECT_EQ("grant_type=password&password=a%26b%2Fc&raw=a&b", params.GetString());
}

TEST(RequestInterfaceTest, ReadAllTo) {
  std::string body(300000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  for (bool announce : {false, true}) {
    for (size_t piece : {1u, 1000u, 65536u, 1000000u}) {
      SCOPED_TRACE(std::to_string(piece) + (announce ? " announced" : ""));
      FakeStream stream(body, piece, announce);
      std::string out = "prefix";
      EXPECT_EQ(InputStream::kEnd, stream.ReadAllTo(&out, 4096));
      EXPECT_EQ("prefix" + body, out);
    }
  }
  // The first result other than "data" comes back, with what was read.
  FakeStream failing("abc", 2, false, InputStream::kFailed);
  std::vector<unsigned char> bytes;
  EXPECT_EQ(InputStream::kFailed, failing.ReadAllTo(&bytes, 16));
  EXPECT_EQ((std::vector<unsigned char>{'a', 'b', 'c'}), bytes);

  LogWatch watch;
  FakeStream untouched("abc", 2, false);
  std::string out;
  EXPECT_EQ(InputStream::kFailed, untouched.ReadAllTo(&out, 1));
  EXPECT_EQ(0, untouched.reads());
  EXPECT_TRUE(watch.Contains("invalid buffer_size specified: 1"));

  FakeStream progressing(std::string(10000, 'x'), 1000, true);
  std::vector<int> reports;
  EXPECT_EQ(InputStream::kEnd,
            progressing.ReadAllTo(&bytes, [&](int p) { reports.push_back(p); }, 4096));
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(1000, reports.back());
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(std::adjacent_find(reports.begin(), reports.end()), reports.end());

  FakeStream skipped(std::string(20000, 'x'), 5000, false, InputStream::kStopped);
  EXPECT_EQ(InputStream::kStopped, skipped.ReadSkipAll());
}

TEST(RequestInterfaceTest, JsonAndXmlTrees) {
  utils::json::json_tree tree;
  EXPECT_TRUE(utils::json::Parse("", &tree));
  EXPECT_TRUE(utils::json::Parse(R"({"settings":{"ttl":"60","hosts":["a","b"]}})", &tree));
  auto ttl = utils::json::Child(tree, "settings.ttl");
  ASSERT_TRUE(ttl);
  EXPECT_EQ("60", ttl->data());
  EXPECT_FALSE(utils::json::Child(tree, "settings.missing"));
  utils::json::json_tree again;
  ASSERT_TRUE(utils::json::Parse(utils::json::ToString(tree, false), &again));
  EXPECT_EQ(tree, again);
  {
    LogWatch watch;
    EXPECT_FALSE(utils::json::Parse("{broken", &tree));
    EXPECT_TRUE(watch.Contains("Failed parse json, e: \""));
    FakeStream stream("[not json", 3, false);
    std::string raw;
    EXPECT_FALSE(utils::json::ReadAndParse(&stream, &tree, &raw));
    EXPECT_EQ("[not json", raw);
    EXPECT_TRUE(watch.Contains("Failed to parse json from '[not json'"));
    FakeStream broken("{}", 1, false, InputStream::kFailed);
    EXPECT_FALSE(utils::json::ReadAndParse(&broken, &tree, nullptr));
    EXPECT_TRUE(watch.Contains("Failed to read json string from input stream."));
  }
  FakeStream stopped("{}", 1, false, InputStream::kStopped);
  LogWatch quiet;
  EXPECT_FALSE(utils::json::ReadAndParse(&stopped, &tree, nullptr));
  EXPECT_EQ(0u, quiet.fails());
  FakeStream empty("", 1, false);
  EXPECT_TRUE(utils::json::ReadAndParse(&empty, &tree, nullptr));

  utils::xml::xml_tree xml;
  ASSERT_TRUE(utils::xml::Parse(
      "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/a</d:href></d:response>"
      "</d:multistatus>",
      &xml));
  utils::xml::RemoveNamespaces(&xml);
  EXPECT_EQ("/a", xml.get<std::string>("multistatus.response.href"));
  EXPECT_EQ("DAV:", xml.get<std::string>("multistatus.<xmlattr>.xmlns:d"));
  const std::string text = utils::xml::ToString(xml);
  EXPECT_EQ(0u, text.find("<?xml version=\"1.0\" encoding=\"utf-8\"?>"));
  LogWatch watch;
  EXPECT_FALSE(utils::xml::Parse("<a><b></a>", &xml));
  EXPECT_TRUE(watch.Contains("Failed parse xml, e: \""));
}

// A processor that answers from a script: the status and body of one GET.
class ScriptedProcessor : public URLProcessor {
 public:
  ScriptedProcessor(int status, std::string body, Result finish)
      : URLProcessor(""), status_(status), body_(std::move(body), 7, false), finish_(finish) {}

  InputStream::Result Read(unsigned char* b, unsigned int s, unsigned int* r) override {
    return body_.Read(b, s, r);
  }
  int64_t InputLength() const override { return -1; }
  OutputStream::Result Write(std::string_view) override { return OutputStream::kOver; }
  void Start() override {}
  void Stop() override {}
  void Close() override {}
  void EnableHideTokenFromLogs() override {}
  Result Finish() override { return finish_; }
  void SetCompressionMode(CompressionMode) override {}
  void Mkcol(const DispatcherUrl&) override {}
  void Proppath(const DispatcherUrl&, std::string&&) override {}
  void Propfind(const DispatcherUrl&, const Headers&, std::string&&) override {}
  void Move(const DispatcherUrl&, const Headers&) override {}
  void Get(const DispatcherUrl&, bool, bool, const Range&, bool, const Headers&) override {
    ++gets_;
  }
  void Delete(const DispatcherUrl&, const Headers&, bool, bool) override {}
  Result GetInfoBlocked(const DispatcherUrl&, uint64_t*, bool) override { return finish_; }
  InputStream::Result ReadResponseCode() override { return InputStream::kData; }
  void SetResponseHeadersBuffer(std::string*) override {}
  bool IsOpened() const override { return true; }
  bool IsStopped() const override { return false; }
  bool IsRunningRequest() const override { return false; }
  int LastResponseCode() const override { return status_; }
  std::string LastResponseContentType() override { return "application/json"; }
  void Put(const DispatcherUrl&, const utils::xml::xml_tree&, bool, const Headers&) override {}
  void Put(const DispatcherUrl&, const utils::json::json_tree&, bool) override {}
  void Put(const DispatcherUrl&, uint64_t, bool, const Headers&, std::string*) override {}
  void PutWithReply(const DispatcherUrl&, std::string_view, bool, const std::string&,
                    const Headers&) override {
    ++puts_;
  }
  std::string LastUrl() override { return std::string(); }
  bool Open(std::string*) override { return true; }
  void Post(const DispatcherUrl&, const utils::json::json_tree&, bool, const Headers&) override {}
  void Post(const DispatcherUrl&, const url_utils::PostParamsSet&, bool) override {}
  void Post(const DispatcherUrl&, uint64_t, const Headers&, bool, std::string*) override {}
  void Post(const DispatcherUrl&, const WString&, bool, std::function<void(int)>) override {}
  void Post(const DispatcherUrl&, std::string_view, bool, const std::string&,
            const Headers&) override {}
  void Patch(const DispatcherUrl&, const utils::json::json_tree&, bool, const Headers&) override {}
  void Patch(const DispatcherUrl&, std::string_view, bool, const std::string&,
             const Headers&) override {}
  void PostAndRead(const DispatcherUrl&, const Headers&, bool, const Range&) override {}
  void PostForm(const DispatcherUrl&, const std::vector<std::pair<std::string, std::string>>&,
                const std::string&, const std::string&, const std::string&) override {}
  void PostFiles(const DispatcherUrl&,
                 const std::vector<std::pair<std::string, std::string>>&) override {}
  void PutEmail(const DispatcherUrl&, const std::string&, const std::string&) override {}
  void ResetCallbacks() override {}
  void SetAuthInfo(std::shared_ptr<AuthInfoProvider>) override {}
  const AuthInfoProvider* GetAuthInfo() const override { return nullptr; }
  void SetTimeout(int) override {}
  int GetTimeout() override { return 30; }
  void SetUserAgent(const std::string&) override {}
  std::string GetUserAgent() const override { return std::string(); }
  void EnableDefaultAcceptHeader(bool) override {}
  void EnableContentTypeHeader(bool) override {}
  void Proppatch(const DispatcherUrl&, const Headers&, std::string&&) override {}

  int gets_ = 0;
  int puts_ = 0;

 private:
  int status_;
  FakeStream body_;
  Result finish_;
};

TEST(RequestInterfaceTest, GetJsonKeepsTheTreeOnlyForSuccess) {
  const DispatcherUrl url = DispatcherUrl::FromString("https://h/x");
  ScriptedProcessor ok(200, R"({"a":"1"})", URLProcessor::SUCCEEDED);
  auto answer = ok.GetJSON(url, {});
  ASSERT_TRUE(answer.HasValue());
  EXPECT_EQ("1", answer.GetValue()->get<std::string>("a"));
  EXPECT_EQ(1, ok.gets_);

  ScriptedProcessor missing(404, R"({"error":"gone"})", URLProcessor::NOT_FOUND);
  auto error = missing.GetJSON(url, {});
  ASSERT_FALSE(error.HasValue());
  EXPECT_EQ(URLProcessor::NOT_FOUND, error.GetError());

  ScriptedProcessor put(201, "{}", URLProcessor::CREATED);
  EXPECT_TRUE(put.GetJSONWithPut(url, {}).HasValue());
  EXPECT_EQ(1, put.puts_);
  EXPECT_EQ("korvo-desktop", put.GetClientId());
}

}  // namespace
