#include "core/net/dispatcher_client.h"

#include <charconv>
#include <chrono>
#include <utility>

#include "core/infra/logger.h"
#include "core/infra/tally_logger.h"
#include "core/net/json_xml.h"
#include "core/net/log_masking.h"
#include "core/net/streams.h"
#include "core/net/url_processor.h"

namespace {

constexpr char kPlatformForDispatcher[] = "Korvo";
constexpr char kVersionForDispatcher[] = "1.23";
constexpr char kSettingsField[] = "settings";
constexpr char kTTLField[] = "ttl";
constexpr char kIPField[] = "ip";
constexpr char kURLField[] = "url";
constexpr unsigned int kReadBufferSize = 4096;

const std::map<std::string, VTDispatcherClient::ServiceType>& ServiceByName() {
  static const auto* const kMap = new std::map<std::string, VTDispatcherClient::ServiceType>{
      {"OauthToken", VTDispatcherClient::OauthToken},
      {"RevokeRefreshToken", VTDispatcherClient::RevokeRefreshToken},
      {"Download", VTDispatcherClient::Download},
      {"WeblinkHost", VTDispatcherClient::WeblinkHost},
      {"PublicScreenshoter", VTDispatcherClient::PublicScreenshoter},
      {"WeblinkThumb", VTDispatcherClient::WeblinkThumb},
      {"WeblinkGet", VTDispatcherClient::WeblinkGet},
      {"Metad", VTDispatcherClient::Metad},
      {"Upload", VTDispatcherClient::Upload},
  };
  return *kMap;
}

// The process-wide dispatcher state. Never destroyed: clients may still run
// while static destructors do.
struct Shared {
  // Guarded by the enter protocol (can_enter), not by the mutex: only the one
  // thread inside reads or writes these.
  std::map<VTDispatcherClient::ServiceType, VTDispatcherClientImpl::RequestInfoDispatcher> cache;
  int64_t last_cache_update_time = 0;
  int64_t cache_timeout = VTDispatcherClientImpl::kInitialCacheTimeout;
  uint64_t counter = VTDispatcherClientImpl::kUsesPerEntry;

  // Guarded by config_mutex.
  std::mutex config_mutex;
  std::condition_variable cv;
  bool can_enter = true;
  bool globally_stopped = false;
  std::string dispatcher_url;
  std::shared_ptr<URLProcessorFactory> factory;
  std::shared_ptr<URLProcessor> processor;
  std::function<int64_t()> clock;
};

Shared& S() {
  static Shared* const shared = new Shared();
  return *shared;
}

std::shared_ptr<URLProcessor> SharedProcessor() {
  std::lock_guard<std::mutex> lock(S().config_mutex);
  return S().processor;
}

// A decimal 64-bit count of seconds, not negative.
bool ParseSeconds(const std::string& text, int64_t* seconds) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || ptr != end || value < 0) return false;
  *seconds = value;
  return true;
}

}  // namespace

VTDispatcherClient::~VTDispatcherClient() = default;

const char* ToString(VTDispatcherClient::Result result) {
  switch (result) {
    case VTDispatcherClient::SUCCEEDED: return "SUCCEEDED";
    case VTDispatcherClient::STOPPED: return "STOPPED";
    case VTDispatcherClient::FAILED: return "FAILED";
    case VTDispatcherClient::NETWORK_FAILED: return "NETWORK_FAILED";
    case VTDispatcherClient::INVALID_RESPONSE: return "INVALID_RESPONSE";
    case VTDispatcherClient::SSL_FAILED: return "SSL_FAILED";
  }
  return "UNKNOWN";
}

std::shared_ptr<VTDispatcherClient> VTDispatcherClient::Create() {
  {
    std::lock_guard<std::mutex> lock(S().config_mutex);
    if (S().factory != nullptr && S().processor != nullptr) {
      return std::make_shared<VTDispatcherClientImpl>();
    }
  }
  KLOG(Fatal) << "Null URLProcessorFactory pointer.";
  return nullptr;
}

void VTDispatcherClient::SetDispatcherUrl(const std::string& url) {
  std::lock_guard<std::mutex> lock(S().config_mutex);
  S().dispatcher_url = url;
}

void VTDispatcherClient::SetURLProcessorFactory(std::shared_ptr<URLProcessorFactory> factory) {
  if (factory == nullptr) KLOG(Fatal) << "Null URLProcessorFactory pointer.";
  std::shared_ptr<URLProcessor> processor =
      factory != nullptr ? factory->CreateUrlProcessor(true) : nullptr;
  std::shared_ptr<URLProcessor> previous;
  {
    std::lock_guard<std::mutex> lock(S().config_mutex);
    S().factory = std::move(factory);
    previous = std::move(S().processor);
    S().processor = std::move(processor);
  }
  // The previous processor may still serve a request in flight: that thread
  // holds its own reference, and the last one closes it.
}

void VTDispatcherClient::FinalCloseDispatcher() {
  if (std::shared_ptr<URLProcessor> processor = SharedProcessor()) processor->Stop();
  std::shared_ptr<URLProcessor> released;
  {
    std::unique_lock<std::mutex> lock(S().config_mutex);
    // A second call has nothing left to wait for.
    if (S().globally_stopped) return;
    S().cv.wait(lock, [] { return S().can_enter; });
    S().can_enter = false;
    S().globally_stopped = true;
    released = std::move(S().processor);
  }
  S().cv.notify_all();
}

// ---------------------------------------------------------------- client

void VTDispatcherClientImpl::Start() {
  if (std::shared_ptr<URLProcessor> processor = SharedProcessor()) processor->Start();
}

void VTDispatcherClientImpl::Stop() {
  {
    std::lock_guard<std::mutex> lock(S().config_mutex);
    stopped_ = true;
  }
  S().cv.notify_all();
}

int VTDispatcherClientImpl::LastResponseCode() const {
  std::shared_ptr<URLProcessor> processor = SharedProcessor();
  return processor != nullptr ? processor->LastResponseCode() : 0;
}

bool VTDispatcherClientImpl::Enter() {
  std::unique_lock<std::mutex> lock(S().config_mutex);
  S().cv.wait(lock, [this] { return S().can_enter || stopped_ || S().globally_stopped; });
  if (stopped_ || S().globally_stopped) {
    // A wake-up meant for a thread that may enter must not end here.
    if (S().can_enter) S().cv.notify_one();
    return false;
  }
  S().can_enter = false;
  return true;
}

void VTDispatcherClientImpl::Leave() {
  {
    std::lock_guard<std::mutex> lock(S().config_mutex);
    S().can_enter = true;
  }
  S().cv.notify_one();
}

VTDispatcherClient::Result VTDispatcherClientImpl::GetUrl(ServiceType type, DispatcherUrl* out) {
  if (!Enter()) return STOPPED;
  const Result result = GetUrlFromConfig(type, out);
  Leave();
  return result;
}

void VTDispatcherClientImpl::ResetCounter(ServiceType type) {
  if (!Enter()) return;
  S().cache.erase(type);
  Leave();
}

int64_t VTDispatcherClientImpl::Now() {
  std::function<int64_t()> clock;
  {
    std::lock_guard<std::mutex> lock(S().config_mutex);
    clock = S().clock;
  }
  if (clock) return clock();
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

VTDispatcherClient::Result VTDispatcherClientImpl::GetUrlFromConfig(ServiceType type,
                                                                    DispatcherUrl* out) {
  Shared& s = S();
  const int64_t now = Now();
  auto found = s.cache.find(type);
  if (found != s.cache.end() && found->second.counter != 0 && now >= s.last_cache_update_time &&
      now - s.last_cache_update_time <= s.cache_timeout) {
    --found->second.counter;
    *out = found->second.url;
    return SUCCEEDED;
  }
  const Result result = UpdateDispatcherConfig();
  if (result == NETWORK_FAILED) return result;
  found = s.cache.find(type);
  if (found == s.cache.end()) {
    // A stopped refresh is a stop, not an answer without the service.
    if (result == STOPPED) return STOPPED;
    KLOG(Fail) << "Can't find service in cache after repeated request.";
    return FAILED;
  }
  *out = found->second.url;
  return result;
}

VTDispatcherClient::Result VTDispatcherClientImpl::UpdateDispatcherConfig() {
  std::shared_ptr<URLProcessor> processor;
  std::string dispatcher_url;
  {
    std::lock_guard<std::mutex> lock(S().config_mutex);
    processor = S().processor;
    dispatcher_url = S().dispatcher_url;
  }
  if (processor == nullptr || !processor->Open(nullptr)) {
    KLOG(Fatal) << "Cant open url_processor_.";
    return INVALID_RESPONSE;
  }
  utils::json::json_tree request;
  request.put("platform", kPlatformForDispatcher);
  request.put("version", kVersionForDispatcher);
  processor->Post(DispatcherUrl::FromString(dispatcher_url), request, false, {});
  std::string raw;
  const InputStream::Result read = processor->ReadAllTo(&raw, kReadBufferSize, kMaxAnswerBytes);
  const URLProcessor::Result result = processor->Finish();
  processor->Close();
  TallyLogger::instance().SendIfNetworkError(result, "dispatcher", processor->LastResponseCode(),
                                             "");
  switch (result) {
    case URLProcessor::SUCCEEDED:
      break;
    case URLProcessor::STOPPED:
      KLOG(Info) << "Stopped.";
      return STOPPED;
    case URLProcessor::OTHER_FAILED:
      KLOG(Fail) << "Other failed.";
      return FAILED;
    case URLProcessor::NETWORK_FAILED:
      KLOG(Fail) << "Network failed.";
      return NETWORK_FAILED;
    case URLProcessor::SSL_FAILED:
      KLOG(Fail) << "SSL failed.";
      return SSL_FAILED;
    default:
      KLOG(Fatal) << "Invalid response code.";
      return INVALID_RESPONSE;
  }
  switch (read) {
    case InputStream::kEnd:
      break;
    case InputStream::kStopped:
      return STOPPED;
    case InputStream::kTooLarge:  // logged by ReadAllTo
      return FAILED;
    case InputStream::kFailed:
    case InputStream::kData:
      KLOG(Fail) << "Failed to read the dispatcher config response.";
      return FAILED;
  }
  Answer answer;
  const Result parsed = ParseAnswer(raw, &answer);
  if (parsed != SUCCEEDED) return parsed;
  Shared& s = S();
  if (answer.has_ttl) s.cache_timeout = answer.ttl;
  s.last_cache_update_time = Now();
  for (const auto& [type, url] : answer.services) {
    s.cache[type] = RequestInfoDispatcher{url, s.counter};
  }
  return SUCCEEDED;
}

VTDispatcherClient::Result VTDispatcherClientImpl::ParseAnswer(const std::string& body,
                                                               Answer* answer) {
  utils::json::json_tree tree;
  if (!utils::json::Parse(body, &tree)) return FAILED;  // logged by Parse
  const auto settings = tree.get_child_optional(kSettingsField);
  if (!settings) {
    KLOG(Fatal) << "Missing settings field in dispatcher response: "
                << log_masking::CapForLog(body);
    return FAILED;
  }
  Answer parsed;
  for (const auto& [key, service] : *settings) {
    const auto known = ServiceByName().find(key);
    if (known == ServiceByName().end()) continue;
    const auto ip = service.get_optional<std::string>(kIPField);
    const auto url = service.get_optional<std::string>(kURLField);
    const char* fault = nullptr;
    if (!ip) {
      fault = "Missing ip";
    } else if (!url) {
      fault = "Missing url";
    } else if (url->compare(0, 7, "http://") != 0 && url->compare(0, 8, "https://") != 0) {
      fault = "Invalid url";
    }
    if (fault != nullptr) {
      KLOG(Fatal) << fault << " field in dispatcher response for service: " << key << " in "
                  << log_masking::CapForLog(body);
      return FAILED;
    }
    parsed.services[known->second] = DispatcherUrl(*url, *ip);
  }
  const auto ttl = tree.get_optional<std::string>(kTTLField);
  if (!ttl) {
    KLOG(Fail) << "Missing ttl field in dispatcher response: " << log_masking::CapForLog(body);
  } else if (!ParseSeconds(*ttl, &parsed.ttl)) {
    // Not a count of seconds: like a missing one, the lifetime stays.
    KLOG(Fail) << "Invalid ttl field in dispatcher response: " << log_masking::CapForLog(body);
  } else {
    parsed.has_ttl = true;
  }
  *answer = std::move(parsed);
  return SUCCEEDED;
}

void VTDispatcherClientImpl::SetClockForTesting(std::function<int64_t()> clock) {
  std::lock_guard<std::mutex> lock(S().config_mutex);
  S().clock = std::move(clock);
}

void VTDispatcherClientImpl::ResetForTesting() {
  std::lock_guard<std::mutex> lock(S().config_mutex);
  Shared& s = S();
  s.cache.clear();
  s.last_cache_update_time = 0;
  s.cache_timeout = kInitialCacheTimeout;
  s.counter = kUsesPerEntry;
  s.can_enter = true;
  s.globally_stopped = false;
  s.dispatcher_url.clear();
  s.factory.reset();
  s.processor.reset();
  s.clock = nullptr;
}

int64_t VTDispatcherClientImpl::CacheTimeoutForTesting() {
  std::lock_guard<std::mutex> lock(S().config_mutex);
  return S().cache_timeout;
}
