#include "core/net/url_processor.h"

#include <ostream>

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
  utils::json::ReadAndParse(this, tree.get(), nullptr);
  const Result result = Finish();
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
  if (URLProcessor::IsSuccessHttpCode(code)) return Answer::Value(std::move(std::get<0>(answer)));
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

bool URLProcessor::CheckRangeInResponseHeaders(const std::string& headers, uint64_t total,
                                               boost::optional<uint64_t> begin,
                                               boost::optional<uint64_t> end) {
  const std::string value = GetValueFromHTTPHeaders(headers, "Content-Range", /*first_only=*/false);
  if (value.empty()) return false;
  auto contains = [&value](uint64_t number) {
    return value.find(std::to_string(number)) != std::string::npos;
  };
  return contains(total) && (!begin || contains(*begin)) && (!end || contains(*end));
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
