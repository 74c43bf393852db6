#include "core/metrics/tally_logger_impl.h"

#include "core/infra/logger.h"
#include "core/metrics/requestor.h"
#include "core/text/cloud_utils.h"

namespace {

constexpr size_t kMaxAddLength = 260;
constexpr size_t kAddOnlyBelow = 256;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Query values are percent-encoded: a value with '&', '=' or '#' must not
// change the query's layout. Identifiers made of letters, digits and "-._~"
// go out unchanged.
std::string QueryValue(const std::string& value) { return utils::PercentEncoded(value, true); }

// The text as a JSON string body: quotes, backslashes and control
// characters escaped.
std::string JsonStringBody(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      static const char kHex[] = "0123456789abcdef";
      out.append("\\u00").push_back(kHex[(c >> 4) & 0xF]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string WithoutTrailingSlashes(std::string origin) {
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  return origin;
}

}  // namespace

TallyLoggerImpl::TallyLoggerImpl(std::string origin)
    : origin_(WithoutTrailingSlashes(std::move(origin))) {}

TallyLoggerImpl::~TallyLoggerImpl() { Close(); }

bool TallyLoggerImpl::Open(const std::shared_ptr<URLProcessorFactory>& factory,
                           const std::string& prefix) {
  auto requestor = std::make_shared<Requestor>();
  const bool opened = requestor->Open(factory, Requestor::kGetUrl);
  std::shared_ptr<Requestor> previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    prefix_ = QueryValue(prefix);
    previous = std::move(requestor_);
    if (opened) requestor_ = std::move(requestor);
  }
  if (previous != nullptr) previous->Close();
  if (!opened) KLOG(Fail) << "Metrics sender is not opened.";
  return opened;
}

void TallyLoggerImpl::Close() {
  std::shared_ptr<Requestor> requestor;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requestor = std::move(requestor_);
  }
  if (requestor != nullptr) requestor->Close();
}

std::shared_ptr<Requestor> TallyLoggerImpl::requestor() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestor_;
}

bool TallyLoggerImpl::WaitEmptyQueue(int milliseconds) {
  auto requestor = this->requestor();
  return requestor == nullptr || requestor->WaitEmptyQueue(milliseconds);
}

std::string TallyLoggerImpl::CleanMetricName(const std::string& name) {
  std::string out;
  if (name.size() > static_cast<size_t>(TallyLogger::kMaxMetricNameLen)) {
    out = "0" + name.substr(0, TallyLogger::kMaxMetricNameLen - 1);
  } else {
    out = name;
  }
  for (char& c : out) {
    if (!IsAsciiAlnum(c)) c = '_';
  }
  return out;
}

void TallyLoggerImpl::AppendBase(std::string* url) const {
  url->append(origin_).append(kPath).append("_").append(prefix_);
}

void TallyLoggerImpl::AppendIdentity(std::string* url) const {
  if (!email_.empty()) url->append("&e=").append(QueryValue(email_));
  if (!installation_id_.empty()) url->append("&iid=").append(QueryValue(installation_id_));
}

std::string TallyLoggerImpl::GenerateTallyUrl(const std::string& name, int count,
                                              const std::string& add, bool with_utm) {
  std::string url;
  url.reserve(512);
  std::lock_guard<std::mutex> lock(mutex_);
  AppendBase(&url);
  url.append("&i=").append(name).append(":").append(std::to_string(count));
  url.append("&v=0");
  AppendIdentity(&url);
  if (with_utm) {
    if (!utm_.empty()) url.append("&utm=").append(QueryValue(utm_));
    if (!gclid_.empty()) {
      const std::string dwh = "{\"gclid\":\"" + JsonStringBody(gclid_) + "\"}";
      url.append("&dwh=").append(utils::PercentEncoded(dwh, true));
    }
  }
  if (!add.empty() && url.size() < kAddOnlyBelow) {
    url.append("&add=").append(
        utils::PercentEncoded(std::string_view(add).substr(0, kMaxAddLength), true));
  }
  return url;
}

void TallyLoggerImpl::SendMetricImpl(const std::string& name, int count, const std::string& add,
                                     bool with_utm, bool flag) {
  auto requestor = this->requestor();
  if (requestor == nullptr) return;
  requestor->Send(GenerateTallyUrl(CleanMetricName(name), count, add, with_utm), std::string(),
                  flag);
}

void TallyLoggerImpl::SendMetric(const std::string& name, int count, const std::string& add) {
  SendMetricImpl(name, count, add, false, true);
}

void TallyLoggerImpl::SendMetricWithUtm(const std::string& name, int count,
                                        const std::string& add) {
  SendMetricImpl(name, count, add, true, true);
}

void TallyLoggerImpl::SendSSLFailed() { SendMetricImpl("ssl_failed", 1, std::string(), true, false); }

void TallyLoggerImpl::SendToFerro(const std::vector<std::pair<std::string, std::string>>& pairs) {
  auto requestor = this->requestor();
  if (requestor == nullptr) return;
  std::string url;
  url.reserve(512);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    AppendBase(&url);
    url.append("&v=0&bc=1");
    AppendIdentity(&url);
  }
  for (const auto& [key, value] : pairs) {
    url.append("&").append(QueryValue(key)).append("=").append(QueryValue(value));
  }
  requestor->Send(url, std::string(), true);
}

void TallyLoggerImpl::SetEmail(const std::string& email) {
  std::lock_guard<std::mutex> lock(mutex_);
  email_ = email;
}

void TallyLoggerImpl::SetInstallationId(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  installation_id_ = id;
}

void TallyLoggerImpl::SetUtm(const std::string& utm) {
  std::lock_guard<std::mutex> lock(mutex_);
  utm_ = utm;
}

void TallyLoggerImpl::SetGCLID(const std::string& gclid) {
  std::lock_guard<std::mutex> lock(mutex_);
  gclid_ = gclid;
}
