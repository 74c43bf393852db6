#include "core/net/url_processor.h"

#include <charconv>
#include <ostream>
#include <string_view>
#include <system_error>

#include "core/net/dispatcher_url.h"
#include "core/net/json_xml.h"
#include "core/text/cloud_utils.h"

URLProcessor::~URLProcessor() = default;

const char* URLProcessor::DefaultClientId() { return "korvo-desktop"; }

std::string URLProcessor::GetClientId() const {
  return client_id_.empty() ? DefaultClientId() : client_id_;
}

template <class StartVerb>
std::tuple<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result> URLProcessor::RequestJSON(
    const StartVerb& start) {
  start();
  auto tree = std::make_unique<utils::json::json_tree>();
  const bool parsed = utils::json::ReadAndParse(this, tree.get(), nullptr);
  Result result = Finish();
  // A 2xx answer whose body gave no tree (too long, malformed) has failed:
  // its empty tree must not pass for the answer. ReadAndParse has logged.
  if (!parsed && result != STOPPED && !IsNetworkError(result) &&
      IsSuccessHttpCode(LastResponseCode())) {
    result = OTHER_FAILED;
  }
  return {std::move(tree), result};
}

std::tuple<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result>
URLProcessor::GetJSONAndResult(const DispatcherUrl& url, const Headers& headers) {
  return RequestJSON([&] { Get(url, true, true, Range(), false, headers); });
}

std::tuple<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result>
URLProcessor::GetJSONAndResultWithPut(const DispatcherUrl& url, const Headers& headers) {
  return RequestJSON([&] { PutWithReply(url, std::string_view(), true, std::string(), headers); });
}

namespace {

utils::ValueOrError<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result> TreeOrError(
    std::tuple<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result> answer, int code) {
  using Answer = utils::ValueOrError<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result>;
  const URLProcessor::Result result = std::get<1>(answer);
  const bool failed = result == URLProcessor::STOPPED || result == URLProcessor::OTHER_FAILED ||
                      URLProcessor::IsNetworkError(result);
  if (URLProcessor::IsSuccessHttpCode(code) && !failed) {
    return Answer::Value(std::move(std::get<0>(answer)));
  }
  return Answer::Error(std::get<1>(answer));
}

}  // namespace

utils::ValueOrError<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result>
URLProcessor::GetJSON(const DispatcherUrl& url, const Headers& headers) {
  auto answer = GetJSONAndResult(url, headers);
  return TreeOrError(std::move(answer), LastResponseCode());
}

utils::ValueOrError<std::unique_ptr<utils::json::json_tree>, URLProcessor::Result>
URLProcessor::GetJSONWithPut(const DispatcherUrl& url, const Headers& headers) {
  auto answer = GetJSONAndResultWithPut(url, headers);
  return TreeOrError(std::move(answer), LastResponseCode());
}

bool URLProcessor::IsSuccessHttpCode(int code) { return (code >= 200 && code < 300) || code == 100; }

bool URLProcessor::IsNotSuccessHttpCode(int code) {
  return code >= 1 && !(code >= 200 && code < 300) && code != 100;
}

namespace {

// A Content-Range value: "bytes B-E/T", "bytes B-E/*" (total unknown) or
// "bytes */T" (no range: the answer to a range the server cannot serve).
struct ContentRange {
  bool has_range = false;
  uint64_t begin = 0;
  uint64_t end = 0;
  bool has_total = false;
  uint64_t total = 0;
};

// Consumes a decimal number from the front of |text|: digits only, no sign,
// no overflow.
bool TakeNumber(std::string_view* text, uint64_t* value) {
  const char* first = text->data();
  const char* last = first + text->size();
  if (first == last || *first < '0' || *first > '9') return false;
  const auto [ptr, error] = std::from_chars(first, last, *value);
  if (error != std::errc()) return false;
  text->remove_prefix(static_cast<size_t>(ptr - first));
  return true;
}

bool TakeChar(std::string_view* text, char c) {
  if (text->empty() || text->front() != c) return false;
  text->remove_prefix(1);
  return true;
}

bool ParseContentRange(std::string_view text, ContentRange* range) {
  constexpr std::string_view kUnit = "bytes";
  if (text.size() <= kUnit.size()) return false;
  for (size_t i = 0; i < kUnit.size(); ++i) {
    if ((text[i] | 0x20) != kUnit[i]) return false;
  }
  text.remove_prefix(kUnit.size());
  if (text.front() != ' ') return false;
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  ContentRange parsed;
  if (!TakeChar(&text, '*')) {
    if (!TakeNumber(&text, &parsed.begin) || !TakeChar(&text, '-') ||
        !TakeNumber(&text, &parsed.end) || parsed.begin > parsed.end) {
      return false;
    }
    parsed.has_range = true;
  }
  if (!TakeChar(&text, '/')) return false;
  if (!TakeChar(&text, '*')) {
    if (!TakeNumber(&text, &parsed.total)) return false;
    parsed.has_total = true;
    if (parsed.has_range && parsed.end >= parsed.total) return false;
  } else if (!parsed.has_range) {
    return false;  // "*/*" says nothing
  }
  if (!text.empty()) return false;
  *range = parsed;
  return true;
}

}  // namespace

// A header whose total is "*" never confirms |total|: the callers check an
// answer against the size they expect, and an unknown one cannot match it.
// "bytes */T" names no range, so it matches only a check without |begin| and
// |end|.
bool URLProcessor::CheckRangeInResponseHeaders(const std::string& headers, uint64_t total,
                                               boost::optional<uint64_t> begin,
                                               boost::optional<uint64_t> end) {
  const std::string value = GetValueFromHTTPHeaders(headers, "Content-Range", /*first_only=*/false);
  ContentRange range;
  if (!ParseContentRange(value, &range)) return false;
  if (!range.has_total || range.total != total) return false;
  if ((begin || end) && !range.has_range) return false;
  return (!begin || range.begin == *begin) && (!end || range.end == *end);
}

std::ostream& operator<<(std::ostream& out, url_processor::Result result) {
  return out << url_processor::ResultName(result);
}

URLProcessorFactory::~URLProcessorFactory() = default;

void URLProcessorFactory::SetUserAgent(const std::string& user_agent) {
  std::lock_guard<std::mutex> lock(mutex_);
  user_agent_ = user_agent;
}

void URLProcessorFactory::SetClientId(const std::string& client_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  client_id_ = client_id;
}

std::string URLProcessorFactory::GetUserAgent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return user_agent_;
}

std::string URLProcessorFactory::GetClientId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return client_id_;
}
