#include "core/net/url_processor_impl.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <set>
#include <thread>
#include <vector>

#include "core/infra/logger.h"
#include "core/net/auth_info_provider.h"
#include "core/net/dispatcher_url.h"
#include "core/net/engine_state.h"
#include "core/net/json_xml.h"
#include "core/net/log_masking.h"
#include "core/net/proxy_config.h"
#include "core/net/trust_store.h"
#include "core/platform/platform.h"
#include "core/text/cloud_utils.h"
#include "core/text/encoding_utils.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kTransferPiece = 256 * 1024;

constexpr char kCookieEngineCookie[] =
    "Set-Cookie: korvo_cookie_engine=on; domain=cookie-engine.invalid; path=/";

// The libcurl result codes that mean TLS failed.
const std::set<int>& TlsFailures() {
  static const std::set<int> kCodes = {35, 53, 58, 59, 60, 64, 66, 77, 82, 83};
  return kCodes;
}

// With hiding on, the request line's query goes the way of logged URLs.
std::string HideRequestLineTokens(std::string text) {
  const size_t line_end = text.find('\n');
  const size_t question = text.find('?');
  if (question == std::string::npos || question > line_end) return text;
  const size_t version = text.rfind(" HTTP/", line_end);
  if (version == std::string::npos || version < question) return text;
  if (!log_masking::HoldsToken(std::string_view(text).substr(question, version - question))) return text;
  text.replace(question + 1, version - question - 1, "<hidden get parameters>");
  return text;
}

int CurlTrace(CURL*, curl_infotype type, char* data, size_t size, void* hide) {
  const std::string_view text(data, size);
  switch (type) {
    case CURLINFO_TEXT:
      // The engine's own notes may name a URL or a proxy with its userinfo.
      KLOG(Info) << "[CURL_VERBOSE] CURL: == Info: " << log_masking::MaskUrls(text);
      break;
    case CURLINFO_HEADER_IN:
      KLOG(Info) << "[CURL_VERBOSE] <= Recv header\nCURL: " << log_masking::MaskSecretHeaders(text);
      break;
    case CURLINFO_HEADER_OUT:
      KLOG(Info) << "[CURL_VERBOSE] => Send header\nCURL: "
                 << (*static_cast<bool*>(hide)
                         ? HideRequestLineTokens(log_masking::MaskSecretHeaders(text))
                         : log_masking::MaskSecretHeaders(text));
      break;
    case CURLINFO_DATA_IN:
      KLOG(Info) << "[CURL_VERBOSE] <= Recv data  " << size << "bytes";
      break;
    case CURLINFO_DATA_OUT:
      KLOG(Info) << "[CURL_VERBOSE] => Send data  " << size << "bytes";
      break;
    case CURLINFO_SSL_DATA_IN:
      KLOG(Info) << "[CURL_VERBOSE] <= Recv SSL data  " << size << "bytes";
      break;
    case CURLINFO_SSL_DATA_OUT:
      KLOG(Info) << "[CURL_VERBOSE] => Send SSL data  " << size << "bytes";
      break;
    default:
      break;
  }
  return 0;
}

std::string RangeHeader(const URLProcessor::Range& range) {
  return range.IsSet() ? "Range: bytes=" + std::to_string(range.begin) + "-" +
                             std::to_string(range.end)
                       : std::string();
}

std::string RangeText(const URLProcessor::Range& range) {
  return range.IsSet()
             ? " (" + std::to_string(range.begin) + "-" + std::to_string(range.end) + ")"
             : std::string();
}

// Scheme, host and port of a URL, as redirects compare them.
struct Origin {
  std::string scheme;
  std::string host;
  int port = -1;
  bool operator==(const Origin& other) const {
    return scheme == other.scheme && host == other.host && port == other.port;
  }
};

Origin OriginOf(const std::string& url) {
  Origin origin;
  CURLU* parsed = curl_url();
  if (parsed == nullptr) return origin;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
    char* part = nullptr;
    if (curl_url_get(parsed, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
      origin.scheme = part;
      curl_free(part);
    }
    if (curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
      origin.host = part;
      std::transform(origin.host.begin(), origin.host.end(), origin.host.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      curl_free(part);
    }
    if (curl_url_get(parsed, CURLUPART_PORT, &part, CURLU_DEFAULT_PORT) == CURLUE_OK) {
      origin.port = std::atoi(part);
      curl_free(part);
    }
  }
  curl_url_cleanup(parsed);
  return origin;
}

}  // namespace

// ---------------------------------------------------------------- callbacks

struct CurlCallbacks {
  static size_t Receive(char* data, size_t size, size_t count, void* self) {
    return static_cast<URLProcessorImpl*>(self)->Receive(data, size * count);
  }
  static size_t ReceiveHeader(char* data, size_t size, size_t count, void* self) {
    return static_cast<URLProcessorImpl*>(self)->ReceiveHeader(data, size * count);
  }
  static size_t Send(char* buffer, size_t size, size_t count, void* self) {
    return static_cast<URLProcessorImpl*>(self)->Send(buffer, size * count);
  }
  static int XferInfo(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                      curl_off_t ulnow) {
    if (self == nullptr) {
      KLOG(Fatal) << "Invalid this pointer.";
      return 0;
    }
    return static_cast<URLProcessorImpl*>(self)->XferInfo(dltotal, dlnow, ultotal, ulnow);
  }
  static CURLcode SslContext(CURL*, void* ssl_context, void* self) {
    return static_cast<URLProcessorImpl*>(self)->SslContext(ssl_context) ? CURLE_OK
                                                                         : CURLE_SSL_CERTPROBLEM;
  }
};

// ---------------------------------------------------------------- processor

// Held by every operation that drives the transfer, so that Close (and the
// destructor) on another thread can stop the transfer and wait for the
// operation to return before anything is freed. Refused while a Close runs.
class URLProcessorImpl::UseScope {
 public:
  explicit UseScope(URLProcessorImpl* processor) : processor_(processor) {
    std::lock_guard<std::mutex> lock(processor_->use_mutex_);
    entered_ = !processor_->closing_;
    if (entered_) {
      ++processor_->users_;
      processor_->user_ = std::this_thread::get_id();
    }
  }
  ~UseScope() {
    if (!entered_) return;
    std::lock_guard<std::mutex> lock(processor_->use_mutex_);
    if (--processor_->users_ == 0) processor_->use_done_.notify_all();
  }
  UseScope(const UseScope&) = delete;
  UseScope& operator=(const UseScope&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  URLProcessorImpl* processor_;
  bool entered_ = false;
};

URLProcessorImpl::URLProcessorImpl(bool flag, std::string user_agent, std::string client_id)
    : URLProcessor(client_id), client_id_(std::move(client_id)),
      user_agent_(std::move(user_agent)), flag_(flag) {}

URLProcessorImpl::~URLProcessorImpl() { Close(); }

void URLProcessorImpl::Stop() {
  stop_.store(true);
  WakeUp();
}

void URLProcessorImpl::WakeUp() {
  // Ends the current wait at once instead of at its two-second end.
  std::lock_guard<std::mutex> lock(wake_guard_);
  if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

void URLProcessorImpl::SetMulti(void* multi) {
  std::lock_guard<std::mutex> lock(wake_guard_);
  if (multi_ != nullptr && multi_ != multi) curl_multi_cleanup(multi_);
  multi_ = multi;
}

bool URLProcessorImpl::Open(std::string* response_headers) {
  UseScope use(this);
  if (!use) return false;
  if (easy_ == nullptr) easy_ = curl_easy_init();
  if (multi_ == nullptr) SetMulti(curl_multi_init());
  if (easy_ == nullptr || multi_ == nullptr) {
    if (easy_) curl_easy_cleanup(easy_);
    easy_ = nullptr;
    SetMulti(nullptr);
    return false;
  }
  response_headers_ = response_headers;
  state_ = kOpened;
  return true;
}

void URLProcessorImpl::Close() {
  std::unique_lock<std::mutex> use(use_mutex_);
  // A Close from inside an operation of this thread (a callback) cannot wait
  // for it; a Close already running on another thread is waited for by the
  // operations it refuses, not repeated.
  if (closing_) return;
  closing_ = true;
  if (users_ > 0 && user_ != std::this_thread::get_id()) {
    KLOG(Fatal) << "URLProcessor is used from some other thread while being closed.";
    const bool was_stopped = stop_.exchange(true);
    WakeUp();
    while (users_ > 0) {
      // The operation sees the stop within one pass of the engine.
      if (!use_done_.wait_for(use, std::chrono::milliseconds(200), [this] { return users_ == 0; })) {
        WakeUp();
      }
    }
    stop_.store(was_stopped);
  }
  use.unlock();
  if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
  Cleanup();
  if (easy_) curl_easy_cleanup(easy_);
  easy_ = nullptr;
  SetMulti(nullptr);
  cookies_enabled_ = false;
  state_ = kClosed;
  use.lock();
  closing_ = false;
}

void URLProcessorImpl::SetVerboseLogs(bool verbose) {
  std::lock_guard<std::mutex> lock(mutex_);
  verbose_ = verbose;
}

void URLProcessorImpl::SetAuthInfo(std::shared_ptr<AuthInfoProvider> auth) {
  std::lock_guard<std::mutex> lock(mutex_);
  auth_ = std::move(auth);
}

const AuthInfoProvider* URLProcessorImpl::GetAuthInfo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return auth_.get();
}

void URLProcessorImpl::SetTimeout(int seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  timeout_seconds_ = seconds;
}

int URLProcessorImpl::GetTimeout() {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeout_seconds_;
}

void URLProcessorImpl::SetUserAgent(const std::string& user_agent) {
  std::lock_guard<std::mutex> lock(mutex_);
  user_agent_ = user_agent;
}

std::string URLProcessorImpl::GetUserAgent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return user_agent_;
}

void URLProcessorImpl::SetProgress(std::function<void(int)> progress) {
  auto shared = progress ? std::make_shared<const std::function<void(int)>>(std::move(progress))
                         : nullptr;
  std::lock_guard<std::mutex> lock(callback_mutex_);
  progress_ = std::move(shared);
}

// From any thread: the engine's thread may be calling the callback right
// now; it holds a reference of its own until that call returns.
void URLProcessorImpl::ResetCallbacks() { SetProgress(nullptr); }

std::string URLProcessorImpl::FilterOutTokensFromURL(const std::string& url) const {
  if (hide_tokens_) {
    const size_t question = url.find('?');
    if (question != std::string::npos && log_masking::HoldsToken(std::string_view(url).substr(question))) {
      return log_masking::StripUserinfo(url.substr(0, question + 1)) + "<hidden get parameters>";
    }
  }
  return log_masking::MaskUrls(url);
}

void URLProcessorImpl::ReleaseRequestResources() {
  if (headers_list_ != nullptr) {
    KLOG(Fatal) << "Non null custom_header_, possibly missing Finish() call.";
  }
  // The handle may still be in the multi handle when a verb was started
  // twice without Finish: take it out before it is reset.
  RemoveHandle();
  Cleanup();
}

bool URLProcessorImpl::InitCurl(const DispatcherUrl& url, bool use_auth, const char* method,
                                bool verify_ssl, bool follow_redirects,
                                const std::string& user_agent_override, const Headers& headers,
                                const std::string& extra_header) {
  ReleaseRequestResources();
  std::lock_guard<std::mutex> lock(mutex_);
  if (easy_ == nullptr) easy_ = curl_easy_init();
  if (easy_ == nullptr) {
    KLOG(Fatal) << "Failed curl_easy_init().";
    return false;
  }
  if (multi_ == nullptr) SetMulti(curl_multi_init());
  if (multi_ == nullptr) return false;
  CURL* easy = easy_;
  curl_easy_reset(easy);
  overflowed_ = false;
  additional_logged_ = 0;
  redirects_ = 0;
  redirect_pending_ = false;
  current_status_ = 0;
  if (!net_internal::RequireOption(easy, CURLOPT_NOSIGNAL, 1L, "no signals")) return false;
  CURLSH* share = net_internal::Engine().share;
  if (share != nullptr && !net_internal::RequireOption(easy, CURLOPT_SHARE, share, "shared handle")) return false;
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeout_seconds_));
  // Receive and send in pieces as large as a caller's usual buffer: fewer
  // passes of the engine per megabyte.
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kTransferPiece);
  curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kTransferPiece);
  // Only what the verbs speak: a URL from a service's answer can name no
  // other protocol (file:, ftp:...). Redirects are followed by the pump, not
  // by the engine (see FollowRedirect).
  if (!net_internal::RequireOption(easy, CURLOPT_PROTOCOLS_STR, "http,https,smtp,smtps", "allowed protocols") ||
      !net_internal::RequireOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https", "redirect protocols") ||
      !net_internal::RequireOption(easy, CURLOPT_FOLLOWLOCATION, 0L, "no automatic redirects")) {
    return false;
  }

  std::string user_agent = user_agent_;
  if (use_auth && auth_ && !auth_->ReplaceUserAgent().empty()) {
    user_agent = auth_->ReplaceUserAgent();
  } else if (!user_agent_override.empty()) {
    user_agent = user_agent_override;
  }
  curl_easy_setopt(easy, CURLOPT_USERAGENT, user_agent.c_str());

  // Two lists: every line, and the lines without the credentials, which is
  // what a redirect to another origin carries.
  bool lists_ok = true;
  auto add_header = [&](const std::string& line, const char* failure, bool credential) {
    curl_slist* list = curl_slist_append(headers_list_, line.c_str());
    if (list == nullptr) {
      KLOG(Fatal) << failure;
      lists_ok = false;
      return;
    }
    headers_list_ = list;
    if (credential) {
      has_credentials_ = true;
      return;
    }
    list = curl_slist_append(plain_headers_list_, line.c_str());
    if (list == nullptr) {
      KLOG(Fatal) << failure;
      lists_ok = false;
      return;
    }
    plain_headers_list_ = list;
  };
  has_credentials_ = false;

  std::string request_url = url.Url();
  if (use_auth && auth_) {
    const std::string params = auth_->UrlParams(GetClientId());
    if (!params.empty()) {
      request_url += request_url.find('?') != std::string::npos ? '&' : '?';
      request_url += params;
    }
    const std::string header = auth_->HttpHeader();
    if (!header.empty()) add_header(header, "Failed to add auth header.", true);
    for (const std::string& line : auth_->HttpHeaders(request_url, method, headers)) {
      add_header(line, "Failed to add auth header.", true);
    }
  }
  if (!net_internal::RequireOption(easy, CURLOPT_URL, request_url.c_str(), "URL")) return false;
  // A body that went out through Write cannot be sent again: only requests
  // without one follow redirects.
  follow_redirects_ = follow_redirects && std::strcmp(method, "GET") == 0;
  switch (compression_) {
    case kAnyEncoding: curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, ""); break;
    case kGzipDeflate: curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate"); break;
    case kGzip: curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip"); break;
    default: break;
  }
  if (net_internal::Engine().verify_disabled.load() || !verify_ssl) {
    if (!net_internal::RequireOption(easy, CURLOPT_SSL_VERIFYPEER, 0L, "peer verification") ||
        !net_internal::RequireOption(easy, CURLOPT_SSL_VERIFYHOST, 0L, "host verification")) {
      return false;
    }
  } else if (!net_internal::RequireOption(easy, CURLOPT_SSL_VERIFYPEER, 1L, "peer verification") ||
             !net_internal::RequireOption(easy, CURLOPT_SSL_VERIFYHOST, 2L, "host verification") ||
             !net_internal::RequireOption(easy, CURLOPT_SSL_CTX_FUNCTION, &CurlCallbacks::SslContext,
                      "TLS context callback") ||
             !net_internal::RequireOption(easy, CURLOPT_SSL_CTX_DATA, static_cast<void*>(this), "TLS context data") ||
             // The trust store replaces the engine's CA file in every TLS
             // context.
             !net_internal::RequireOption(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr), "CA file") ||
             !net_internal::RequireOption(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr), "CA path")) {
    return false;
  }
  if (verbose_) {
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &CurlTrace);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &hide_tokens_);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
  }
  if (url.IsResolverValid()) {
    resolve_list_ = curl_slist_append(nullptr, url.Resolver().c_str());
    if (resolve_list_ == nullptr ||
        curl_easy_setopt(easy, CURLOPT_RESOLVE, resolve_list_) != CURLE_OK) {
      KLOG(Fatal) << "Failed to set host resolver.";
      return false;
    }
  }
  if (response_headers_ != nullptr) response_headers_->clear();
  // Always: it is where the pump learns that an answer is a redirect.
  if (!net_internal::RequireOption(easy, CURLOPT_HEADERFUNCTION, &CurlCallbacks::ReceiveHeader, "header callback") ||
      !net_internal::RequireOption(easy, CURLOPT_HEADERDATA, static_cast<void*>(this), "header data") ||
      // Progress is always watched: it is where a stop ends a connect or a
      // handshake.
      !net_internal::RequireOption(easy, CURLOPT_NOPROGRESS, 0L, "progress") ||
      !net_internal::RequireOption(easy, CURLOPT_XFERINFOFUNCTION, &CurlCallbacks::XferInfo, "progress callback") ||
      !net_internal::RequireOption(easy, CURLOPT_XFERINFODATA, static_cast<void*>(this), "progress data")) {
    return false;
  }
  reply_ = nullptr;
  input_length_ = -1;
  last_progress_ = -1;
  last_response_code_ = kUnknownResponseCode;
  DiscardBuffered();

  for (const std::string& line : headers) add_header(line, "Failed to add custom header.", false);
  if (!extra_header.empty()) add_header(extra_header, "Failed to add custom header.", false);
  if (no_accept_header_) add_header("Accept:", "Failed to add accept header.", false);
  if (no_content_type_header_) add_header("Content-Type:", "Failed to add header.", false);
  if (!lists_ok) return false;
  if (headers_list_ != nullptr &&
      !net_internal::RequireOption(easy, CURLOPT_HTTPHEADER, headers_list_, "request headers")) {
    return false;
  }
  return net_internal::ApplyNetworkSettings(easy);
}

bool URLProcessorImpl::SslContext(void* ssl_context) {
  return net_internal::InstallTrustStore(static_cast<ssl_ctx_st*>(ssl_context));
}

// ---------------------------------------------------------------- verbs

bool URLProcessorImpl::BeginVerb(const DispatcherUrl& url) {
  last_url_ = url.Url();
  if (stop_.load()) {
    state_ = kStoppedState;
    return false;
  }
  return true;
}

void URLProcessorImpl::StartTransfer(const char* verb, const std::string& range_text,
                                     State state) {
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlCallbacks::Receive);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  const CURLMcode code = curl_multi_add_handle(multi_, easy_);
  if (code != CURLM_OK) {
    KLOG(Fatal) << "curl_multi_add_handle returned " << static_cast<int>(code);
    state_ = kFailed;
    return;
  }
  if (std::strcmp(verb, "get") == 0 && last_url_.find("Password=") != std::string::npos) {
    KLOG(Info) << "get.";
  } else {
    KLOG(Info) << verb << " \"" << FilterOutTokensFromURL(last_url_) << "\"" << range_text << ".";
  }
  state_ = state;
}

void URLProcessorImpl::Get(const DispatcherUrl& url, bool use_auth, bool verify_ssl,
                           const Range& range, bool follow_redirects, const Headers& headers) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, use_auth, "GET", verify_ssl, follow_redirects, {}, headers,
                RangeHeader(range))) {
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
  // The cookie engine, once per handle (it survives curl_easy_reset). It is
  // turned on with a cookie for a domain that cannot exist rather than with
  // an empty cookie file name: libcurl keeps the list of such file names
  // after the handle is gone.
  if (!cookies_enabled_) {
    curl_easy_setopt(easy_, CURLOPT_COOKIELIST, kCookieEngineCookie);
    cookies_enabled_ = true;
  }
  StartTransfer("get", RangeText(range), kReading);
  curl_slist* cookies = nullptr;
  if (curl_easy_getinfo(easy_, CURLINFO_COOKIELIST, &cookies) == CURLE_OK) {
    // Domain and name only: the values are secrets.
    for (curl_slist* c = cookies; c != nullptr; c = c->next) {
      std::vector<std::string_view> fields;
      std::string_view line(c->data);
      for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
      }
      if (fields.size() > 5 && fields[5] == "korvo_cookie_engine") continue;
      KLOG(Info) << "cookie: " << fields[0] << " " << (fields.size() > 5 ? fields[5] : "")
                 << "=<masked>";
    }
    curl_slist_free_all(cookies);
  }
}

void URLProcessorImpl::Delete(const DispatcherUrl& url, const Headers& headers, bool use_auth,
                              bool verify_ssl) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, use_auth, "DELETE", verify_ssl, false, {}, headers, {})) {
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, "DELETE");
  StartTransfer("delete", {}, kReading);
}

void URLProcessorImpl::SendBody(const DispatcherUrl& url, const char* method, const char* verb,
                                bool use_auth, bool verify_ssl, std::string_view body,
                                const std::string& content_type, const Headers& headers) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  const std::string type_header = content_type.empty() || no_content_type_header_
                                      ? std::string()
                                      : "Content-Type: " + content_type;
  if (!InitCurl(url, use_auth, method, verify_ssl, false, {}, headers, type_header)) {
    state_ = kFailed;
    return;
  }
  body_.assign(body);
  curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body_.data());
  curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
  if (std::strcmp(method, "POST") != 0) curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, method);
  StartTransfer(verb, {}, kReading);
}

void URLProcessorImpl::Mkcol(const DispatcherUrl& url) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, true, "MKCOL", true, false, {}, {}, {})) {
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, "MKCOL");
  StartTransfer("mkcol", {}, kReading);
}

void URLProcessorImpl::Move(const DispatcherUrl& url, const Headers& headers) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, true, "MOVE", true, false, {}, headers, {})) {
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, "MOVE");
  StartTransfer("move", {}, kReading);
}

void URLProcessorImpl::Propfind(const DispatcherUrl& url, const Headers& headers,
                                std::string&& body) {
  SendBody(url, "PROPFIND", "propfind", true, true, body, "text/xml", headers);
}

void URLProcessorImpl::Proppatch(const DispatcherUrl& url, const Headers& headers,
                                 std::string&& body) {
  SendBody(url, "PROPPATCH", "proppatch", true, true, body, "application/xml", headers);
}

void URLProcessorImpl::Proppath(const DispatcherUrl& url, std::string&& body) {
  SendBody(url, "PROPPATH", "proppath", true, true, body, "text/xml", {});
}

void URLProcessorImpl::Post(const DispatcherUrl& url, std::string_view body, bool use_auth,
                            const std::string& content_type, const Headers& headers) {
  SendBody(url, "POST", "post", use_auth, true, body, content_type, headers);
}

void URLProcessorImpl::Post(const DispatcherUrl& url, const utils::json::json_tree& tree,
                            bool use_auth, const Headers& headers) {
  SendBody(url, "POST", "post", use_auth, true, utils::json::ToString(tree, false),
           "application/json", headers);
}

void URLProcessorImpl::Post(const DispatcherUrl& url, const url_utils::PostParamsSet& params,
                            bool use_auth) {
  SendBody(url, "POST", "post", use_auth, true, params.GetString(),
           "application/x-www-form-urlencoded", {});
}

void URLProcessorImpl::Patch(const DispatcherUrl& url, const utils::json::json_tree& tree,
                             bool use_auth, const Headers& headers) {
  SendBody(url, "PATCH", "patch", use_auth, true, utils::json::ToString(tree, false),
           "application/json", headers);
}

void URLProcessorImpl::Patch(const DispatcherUrl& url, std::string_view body, bool use_auth,
                             const std::string& content_type, const Headers& headers) {
  SendBody(url, "PATCH", "patch", use_auth, true, body, content_type, headers);
}

void URLProcessorImpl::PutWithReply(const DispatcherUrl& url, std::string_view body,
                                    bool use_auth, const std::string& content_type,
                                    const Headers& headers) {
  SendBody(url, "PUT", "put", use_auth, true, body, content_type, headers);
}

void URLProcessorImpl::Put(const DispatcherUrl& url, bool use_auth, std::string body,
                           const Headers& headers) {
  SendBody(url, "PUT", "put", use_auth, true, body, {}, headers);
}

void URLProcessorImpl::Put(const DispatcherUrl& url, const utils::xml::xml_tree& tree,
                           bool use_auth, const Headers& headers) {
  SendBody(url, "PUT", "put", use_auth, true, utils::xml::ToString(tree), "application/xml",
           headers);
}

void URLProcessorImpl::Put(const DispatcherUrl& url, const utils::json::json_tree& tree,
                           bool use_auth) {
  SendBody(url, "PUT", "put", use_auth, true, utils::json::ToString(tree, false),
           "application/json", {});
}

void URLProcessorImpl::Put(const DispatcherUrl& url, uint64_t size, bool use_auth,
                           const Headers& headers, std::string* reply) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, use_auth, "PUT", true, true, {}, headers, {})) {
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy_, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CurlCallbacks::Send);
  curl_easy_setopt(easy_, CURLOPT_READDATA, this);
  reply_ = reply;
  StartTransfer("put", {}, kWriting);
}

void URLProcessorImpl::Post(const DispatcherUrl& url, uint64_t size, const Headers& headers,
                            bool use_auth, std::string* reply) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, use_auth, "POST", true, false, {}, headers,
                "Content-Type: application/octet-stream")) {
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_POST, 1L);
  curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
  curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CurlCallbacks::Send);
  curl_easy_setopt(easy_, CURLOPT_READDATA, this);
  reply_ = reply;
  StartTransfer("post", {}, kWriting);
}

void URLProcessorImpl::Post(const DispatcherUrl& url, const WString& local_file, bool use_auth,
                            std::function<void(int)> progress) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, use_auth, "POST", true, false, {}, {},
                "Content-Type: application/octet-stream")) {
    state_ = kFailed;
    return;
  }
  const std::string path = unicode::Utf16ToUtf8(local_file);
  uint64_t size = 0;
  int error = 0;
  upload_file_ = Platform::Default()->OpenForReading(path, &size, &error);
  if (upload_file_ == nullptr) {
    KLOG(Fail) << "Failed open " << path << ": " << Platform::Default()->ErrorText(error);
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_POST, 1L);
  curl_easy_setopt(easy_, CURLOPT_READDATA, upload_file_);
  curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
  SetProgress(std::move(progress));
  KLOG(Info) << "post local file \"" << path << "\" on \"" << FilterOutTokensFromURL(last_url_)
             << "\"";
  StartTransfer("post", {}, kReading);
}

void URLProcessorImpl::PostAndRead(const DispatcherUrl& url, const Headers& headers,
                                   bool use_auth, const Range& range) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, use_auth, "POST", true, false, {}, headers, RangeHeader(range))) {
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_POST, 1L);
  curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{0});
  curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, "");
  StartTransfer("post", RangeText(range), kReading);
}

void URLProcessorImpl::PostForm(const DispatcherUrl& url,
                                const std::vector<std::pair<std::string, std::string>>& fields,
                                const std::string& file_part_name,
                                const std::string& file_content, const std::string& user_agent) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, false, "POST", false, false, user_agent, {}, {})) {
    state_ = kFailed;
    return;
  }
  curl_mime* mime = curl_mime_init(easy_);
  for (const auto& [name, contents] : fields) {
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_name(part, name.c_str());
    curl_mime_data(part, contents.data(), contents.size());
  }
  curl_mimepart* file = curl_mime_addpart(mime);
  curl_mime_name(file, file_part_name.c_str());
  curl_mime_filename(file, "file.log");
  curl_mime_data(file, file_content.data(), file_content.size());
  form_ = mime;
  curl_easy_setopt(easy_, CURLOPT_MIMEPOST, mime);
  StartTransfer("post", {}, kReading);
}

void URLProcessorImpl::PostFiles(const DispatcherUrl& url,
                                 const std::vector<std::pair<std::string, std::string>>& files) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, false, "POST", false, false, {}, {},
                "Content-Type: multipart/form-data")) {
    state_ = kFailed;
    return;
  }
  curl_mime* mime = curl_mime_init(easy_);
  for (const auto& [name, path] : files) {
    curl_mimepart* part = curl_mime_addpart(mime);
    curl_mime_name(part, name.c_str());
    curl_mime_filedata(part, path.c_str());
  }
  form_ = mime;
  curl_easy_setopt(easy_, CURLOPT_MIMEPOST, mime);
  StartTransfer("post", {}, kReading);
}

void URLProcessorImpl::PutEmail(const DispatcherUrl& url, const std::string& from,
                                const std::string& to) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return;
  if (!InitCurl(url, false, "MAIL", true, false, {}, {}, {})) {
    state_ = kFailed;
    return;
  }
  recipients_ = curl_slist_append(nullptr, to.c_str());
  if (recipients_ == nullptr) {
    KLOG(Fatal) << "Failed to add recipients.";
    state_ = kFailed;
    return;
  }
  curl_easy_setopt(easy_, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(easy_, CURLOPT_MAIL_RCPT, recipients_);
  curl_easy_setopt(easy_, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &CurlCallbacks::Send);
  curl_easy_setopt(easy_, CURLOPT_READDATA, this);
  StartTransfer("mail", {}, kWriting);
}

URLProcessor::Result URLProcessorImpl::GetInfoBlocked(const DispatcherUrl& url, uint64_t* size,
                                                      bool use_auth) {
  UseScope use(this);
  if (!use || !BeginVerb(url)) return STOPPED;
  if (!InitCurl(url, use_auth, "HEAD", true, false, {}, {}, {})) return NETWORK_FAILED;
  curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(easy_, CURLOPT_TIMEOUT, 30L);
  KLOG(Info) << "head \"" << FilterOutTokensFromURL(last_url_) << "\".";
  const CURLcode code = curl_easy_perform(easy_);
  Cleanup();
  if (stop_.load()) return STOPPED;
  if (code != CURLE_OK) return NETWORK_FAILED;
  long status = 0;
  if (curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
    return NETWORK_FAILED;
  }
  last_response_code_ = static_cast<int>(status);
  if (status != 200) return OTHER_FAILED;
  curl_off_t length = -1;
  curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (size) *size = length >= 0 ? static_cast<uint64_t>(length) : 0;
  return SUCCEEDED;
}

// ---------------------------------------------------------------- pumping

bool URLProcessorImpl::PerformOnce(int* running) {
  CURLMcode code;
  {
    std::lock_guard<std::mutex> lock(net_internal::Engine().perform_mutex);
    code = curl_multi_perform(multi_, running);
  }
  if (code != CURLM_OK) {
    KLOG(Fatal) << "curl_multi_perform returned " << static_cast<int>(code);
    state_ = kFailed;
    return false;
  }
  return true;
}

bool URLProcessorImpl::WaitOnce(int* idle_waits) {
  int ready = 0;
  // curl_multi_poll rather than curl_multi_wait: Stop() can cut it short.
  const CURLMcode code = curl_multi_poll(multi_, nullptr, 0, 2000, &ready);
  if (code != CURLM_OK) {
    KLOG(Fatal) << "curl_multi_wait returned " << static_cast<int>(code);
    state_ = kFailed;
    return false;
  }
  if (ready == 0) {
    if (*idle_waits > 0) {
      // The back-off, in short steps so that a stop is not kept waiting.
      const auto until = std::chrono::steady_clock::now() +
                         std::chrono::milliseconds(std::min((*idle_waits + 1) * 10, 200));
      while (!stop_.load() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    ++*idle_waits;
  } else {
    *idle_waits = 0;
  }
  return true;
}

namespace {

// The time-out of one Read, Write or ReadResponseCode: the clock starts on
// the second pass and is looked at from pass |timeout| / 2 on.
class PassTimer {
 public:
  explicit PassTimer(int timeout_seconds) : timeout_(timeout_seconds) {}
  // True when the time is up.
  bool Pass() {
    ++passes_;
    if (passes_ == 2) start_ = Clock::now();
    if (passes_ < 2 || passes_ < timeout_ / 2) return false;
    const auto elapsed = Clock::now() - start_;
    return elapsed > std::chrono::seconds(timeout_) || elapsed < Clock::duration::zero();
  }

 private:
  int timeout_;
  int passes_ = 0;
  Clock::time_point start_;
};

}  // namespace

URLProcessorImpl::PumpEnd URLProcessorImpl::Pump(
    const char* what, const char* unit, const std::function<bool(int running)>& answered) {
  PassTimer timer(GetTimeout());
  int idle_waits = 0;
  for (;;) {
    if (stop_.load()) {
      RemoveHandle();
      Cleanup();
      state_ = kStoppedState;
      return PumpEnd::kStopped;
    }
    int running = 0;
    if (!PerformOnce(&running)) return PumpEnd::kFailed;
    // A stop that came during the pass may have ended the transfer through
    // the progress callback: that end is the stop's, not an answer.
    if (stop_.load()) continue;
    if (running == 0 && redirect_pending_ && FollowRedirect()) continue;
    if (answered(running)) return PumpEnd::kAnswered;
    if (timer.Pass()) {
      KLOG(Fail) << what << " timed out (" << GetTimeout() << unit << ").";
      RemoveHandle();
      Cleanup();
      state_ = kFailed;
      return PumpEnd::kFailed;
    }
    if (!WaitOnce(&idle_waits)) return PumpEnd::kFailed;
  }
}

InputStream::Result URLProcessorImpl::Read(unsigned char* buffer, unsigned int size,
                                           unsigned int* read) {
  *read = 0;
  UseScope use(this);
  if (!use) return InputStream::kStopped;
  if (state_ == kStoppedState) return InputStream::kStopped;
  if (overflow_offset_ < overflow_.size()) {
    const size_t n = std::min<size_t>(size, overflow_.size() - overflow_offset_);
    std::memcpy(buffer, overflow_.data() + overflow_offset_, n);
    overflow_offset_ += n;
    if (overflow_offset_ == overflow_.size()) DiscardBuffered();
    *read = static_cast<unsigned int>(n);
    return InputStream::kData;
  }
  if (state_ == kReadComplete) {
    state_ = kFinished;
    return InputStream::kEnd;
  }
  if (state_ != kReading) return InputStream::kEnd;
  read_target_ = buffer;
  read_room_ = size;
  read_count_ = 0;
  InputStream::Result result = InputStream::kEnd;
  const PumpEnd end = Pump("Read", "sec", [&](int running) {
    if (read_count_ > 0) {
      *read = static_cast<unsigned int>(read_count_);
      if (running == 0) state_ = kReadComplete;
      result = InputStream::kData;
      return true;
    }
    if (running == 0) {
      state_ = kFinished;
      return true;
    }
    return false;
  });
  read_target_ = nullptr;
  read_room_ = 0;
  if (end == PumpEnd::kStopped) return InputStream::kStopped;
  return end == PumpEnd::kAnswered ? result : InputStream::kEnd;
}

OutputStream::Result URLProcessorImpl::Write(std::string_view data) {
  UseScope use(this);
  if (!use) return OutputStream::kStopped;
  if (state_ == kStoppedState) return OutputStream::kStopped;
  if (stop_.load()) {
    RemoveHandle();
    Cleanup();
    state_ = kStoppedState;
    return OutputStream::kStopped;
  }
  if (state_ == kWritten) {
    state_ = kFinished;
    return OutputStream::kOver;
  }
  if (state_ != kWriting && state_ != kWritePaused) return OutputStream::kOver;
  // The source first: resuming may ask for it at once.
  write_source_ = data.data();
  write_remaining_ = data.size();
  write_in_progress_ = true;
  source_consumed_ = false;
  auto done = [this] {
    write_in_progress_ = false;
    write_source_ = nullptr;
    write_remaining_ = 0;
  };
  if (state_ == kWritePaused) {
    state_ = kWriting;
    if (curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) {
      KLOG(Fatal) << "curl_easy_pause failed.";
      state_ = kFailed;
      done();
      return OutputStream::kOver;
    }
  }
  OutputStream::Result result = OutputStream::kOver;
  const PumpEnd end = Pump("Write", "sec", [&](int running) {
    if (running == 0) {
      if (!source_consumed_ || data.empty()) {
        state_ = kFinished;
      } else {
        state_ = kWritten;
        result = OutputStream::kAccepted;
      }
      return true;
    }
    // An empty write ends the body: wait for the whole exchange then.
    if (source_consumed_ && !data.empty()) {
      result = OutputStream::kAccepted;
      return true;
    }
    return false;
  });
  done();
  if (end == PumpEnd::kStopped) return OutputStream::kStopped;
  return end == PumpEnd::kAnswered ? result : OutputStream::kOver;
}

InputStream::Result URLProcessorImpl::ReadResponseCode() {
  UseScope use(this);
  if (!use) return InputStream::kStopped;
  if (state_ == kStoppedState) return InputStream::kStopped;
  if (state_ != kReading && state_ != kWriting && state_ != kWritePaused && state_ != kWritten) {
    return last_response_code_ != kUnknownResponseCode ? InputStream::kData : InputStream::kEnd;
  }
  read_target_ = nullptr;
  read_room_ = 0;
  write_in_progress_ = false;
  InputStream::Result result = InputStream::kEnd;
  const PumpEnd end = Pump("Read response code", " secs", [&](int running) {
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    // A redirect that will be followed is not the answer yet.
    if (redirect_pending_) code = 0;
    // Neither is an interim block ("100 Continue", "102 Processing"): the
    // engine reports its code until the final status line arrives.
    if (code >= 100 && code <= 199 && code != 101 && running != 0) code = 0;
    if (running == 0) {
      if (code != 0) {
        last_response_code_ = static_cast<int>(code);
        state_ = kReadComplete;
        result = InputStream::kData;
      } else {
        state_ = kFinished;
      }
      return true;
    }
    if (code != 0) {
      last_response_code_ = static_cast<int>(code);
      result = InputStream::kData;
      return true;
    }
    return false;
  });
  if (end == PumpEnd::kStopped) return InputStream::kStopped;
  return end == PumpEnd::kAnswered ? result : InputStream::kEnd;
}

URLProcessor::Result URLProcessorImpl::Finish() {
  UseScope use(this);
  if (!use) return STOPPED;
  SetProgress(nullptr);
  last_content_type_.clear();
  last_response_code_ = kUnknownResponseCode;
  if (state_ == kWriting) Write(std::string_view());
  Result result = NETWORK_FAILED;
  if (state_ == kReading || state_ == kReadComplete) DiscardBuffered();
  if (easy_ != nullptr && (state_ == kReading || state_ == kReadComplete || state_ == kWritten ||
                           state_ == kFinished)) {
    long code = 0;
    CURLcode rc = curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    if (rc != CURLE_OK) {
      KLOG(Info) << "curl_easy_getinfo failed with result=" << static_cast<int>(rc) << " "
                 << curl_easy_strerror(rc) << ".";
    } else {
      KLOG(Info) << "response code " << code << ".";
      last_response_code_ = static_cast<int>(code);
      switch (code) {
        case 0: result = state_ == kReading ? SUCCEEDED : OTHER_FAILED; break;
        case 200: case 202: case 206: result = SUCCEEDED; break;
        case 201: result = CREATED; break;
        case 204: result = NO_CONTENT; break;
        case 250: result = MAIL_SENT; break;
        case 207: result = MULTI_STATUS; break;
        case 403: result = FORBIDDEN; break;
        case 404: result = NOT_FOUND; break;
        case 429: result = LINK_LIMIT; break;
        case 451: result = BLOB_BLOCKED; break;
        default: result = OTHER_FAILED; break;
      }
      char* type = nullptr;
      rc = curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &type);
      if (rc != CURLE_OK) {
        KLOG(Info) << "curl_easy_getinfo failed with result=" << static_cast<int>(rc) << " "
                   << curl_easy_strerror(rc) << ".";
        result = NETWORK_FAILED;
      } else if (type != nullptr) {
        last_content_type_ = type;
      }
    }
  }
  switch (state_) {
    case kReading:
    case kWritePaused:
      RemoveHandle();
      DiscardBuffered();
      break;
    case kStoppedState:
      result = STOPPED;
      break;
    case kReadComplete:
    case kWritten:
    case kFinished: {
      int queued = 0;
      CURLMsg* message = multi_ ? curl_multi_info_read(multi_, &queued) : nullptr;
      if (message == nullptr || queued > 0) {
        KLOG(Fatal) << "curl_multi_info_read returned " << static_cast<const void*>(message)
                    << ", msgs_in_queue=" << queued << ".";
        result = NETWORK_FAILED;
      } else if (message->data.result == CURLE_ABORTED_BY_CALLBACK && stop_.load()) {
        result = STOPPED;
      } else if (message->data.result != CURLE_OK) {
        const int code = message->data.result;
        KLOG(Info) << "curl_multi_info_read failed with result=" << code << " "
                   << curl_easy_strerror(message->data.result) << ".";
        result = TlsFailures().count(code) ? SSL_FAILED : NETWORK_FAILED;
      }
      RemoveHandle();
      break;
    }
    default:
      RemoveHandle();
      result = NETWORK_FAILED;
      break;
  }
  if (overflowed_ && result != STOPPED) result = OTHER_FAILED;
  Cleanup();
  if (state_ != kClosed) state_ = kOpened;
  return result;
}

void URLProcessorImpl::RemoveHandle() {
  if (multi_ != nullptr && easy_ != nullptr) curl_multi_remove_handle(multi_, easy_);
}

void URLProcessorImpl::DiscardBuffered() {
  overflow_.clear();
  overflow_offset_ = 0;
}

void URLProcessorImpl::Cleanup() {
  if (headers_list_) curl_slist_free_all(headers_list_);
  if (plain_headers_list_) curl_slist_free_all(plain_headers_list_);
  if (resolve_list_) curl_slist_free_all(resolve_list_);
  if (recipients_) curl_slist_free_all(recipients_);
  headers_list_ = plain_headers_list_ = resolve_list_ = recipients_ = nullptr;
  if (form_) curl_mime_free(static_cast<curl_mime*>(form_));
  form_ = nullptr;
  if (upload_file_) std::fclose(upload_file_);
  upload_file_ = nullptr;
  SetProgress(nullptr);
  reply_ = nullptr;
  write_source_ = nullptr;
  write_remaining_ = 0;
}

// ---------------------------------------------------------------- engine callbacks

size_t URLProcessorImpl::Receive(const char* data, size_t size) {
  if (stop_.load()) return 0;
  // The body of a redirect that is followed is nobody's.
  if (redirect_pending_) return size;
  if (input_length_ < 0) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length >= 0) {
      input_length_ = length;
    }
  }
  if (state_ == kReading) {
    const size_t n = std::min(size, read_room_);
    if (n > 0) {
      std::memcpy(read_target_ + read_count_, data, n);
      read_count_ += n;
      read_room_ -= n;
    }
    // What the caller's buffer cannot take waits for the next Read; the
    // engine delivers at most one piece per pass, so this stays small.
    if (n < size) overflow_.append(data + n, size - n);
  } else if (reply_ != nullptr) {
    if (reply_->size() + size > kMaxReplySize) {
      KLOG(Fail) << "Reply exceeds " << kMaxReplySize << " bytes: transfer aborted.";
      overflowed_ = true;
      return 0;
    }
    reply_->append(data, size);
  } else if (additional_logged_ < log_masking::kLoggedBodyLimit) {
    const size_t n = std::min(size, log_masking::kLoggedBodyLimit - additional_logged_);
    additional_logged_ += n;
    std::string encoded;
    utils::PercentEncode(std::string_view(data, n), &encoded, true);
    KLOG(Info) << "Additional data received: \"" << encoded << "\""
               << (n < size ? " (" + std::to_string(size) + " bytes)" : std::string()) << ".";
  }
  return size;
}

size_t URLProcessorImpl::ReceiveHeader(const char* data, size_t size) {
  const std::string_view line(data, size);
  if (line.size() > 9 && line.compare(0, 5, "HTTP/") == 0) {
    // A status line: a new answer begins (after an interim one, or after a
    // redirect the pump follows).
    const size_t blank = line.find(' ');
    int code = 0;
    if (blank != std::string_view::npos) {
      for (size_t at = blank + 1; at < line.size() && at < blank + 4; ++at) {
        if (line[at] < '0' || line[at] > '9') {
          code = 0;
          break;
        }
        code = code * 10 + (line[at] - '0');
      }
    }
    current_status_ = code;
    redirect_pending_ = follow_redirects_ && (code == 301 || code == 302 || code == 303 ||
                                              code == 307 || code == 308);
  }
  if (response_headers_ != nullptr) {
    if (response_headers_->size() + size > kMaxResponseHeaders) {
      KLOG(Fail) << "Response headers exceed " << kMaxResponseHeaders
                 << " bytes: transfer aborted.";
      overflowed_ = true;
      return 0;
    }
    response_headers_->append(data, size);
  }
  return size;
}

bool URLProcessorImpl::FollowRedirect() {
  redirect_pending_ = false;
  char* location = nullptr;
  char* effective = nullptr;
  if (curl_easy_getinfo(easy_, CURLINFO_REDIRECT_URL, &location) != CURLE_OK ||
      location == nullptr ||
      curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK ||
      effective == nullptr) {
    // No Location: the redirect is the answer.
    return false;
  }
  const std::string target = location;
  const Origin from = OriginOf(effective);
  const Origin to = OriginOf(target);
  if (to.scheme != "http" && to.scheme != "https") {
    KLOG(Fail) << "Redirect to \"" << log_masking::MaskUrls(target) << "\" refused: not http(s).";
    return false;
  }
  if (from.scheme == "https" && to.scheme == "http") {
    KLOG(Fail) << "Redirect from https to \"" << log_masking::MaskUrls(target)
               << "\" refused.";
    return false;
  }
  if (++redirects_ > kMaxRedirects) {
    KLOG(Fail) << "More than " << kMaxRedirects << " redirects: \""
               << log_masking::MaskUrls(target) << "\" not followed.";
    return false;
  }
  // The finished exchange's message is read before the handle goes back in.
  int queued = 0;
  while (curl_multi_info_read(multi_, &queued) != nullptr) {
  }
  RemoveHandle();
  bool ok = curl_easy_setopt(easy_, CURLOPT_URL, target.c_str()) == CURLE_OK;
  if (ok && has_credentials_ && !(from == to)) {
    // Credentials are for the origin they were made for.
    ok = curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, plain_headers_list_) == CURLE_OK;
    has_credentials_ = false;
    KLOG(Info) << "Redirected to another origin: credentials not sent.";
  }
  if (ok) ok = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  if (!ok) {
    KLOG(Fail) << "Failed to follow the redirect to \"" << log_masking::MaskUrls(target) << "\".";
    state_ = kFailed;
    return false;
  }
  KLOG(Info) << "redirect \"" << FilterOutTokensFromURL(target) << "\".";
  last_url_ = target;
  current_status_ = 0;
  input_length_ = -1;
  return true;
}

size_t URLProcessorImpl::Send(char* buffer, size_t size) {
  if (stop_.load()) return CURL_READFUNC_ABORT;
  if (write_in_progress_ && !source_consumed_) {
    const size_t n = std::min(size, write_remaining_);
    std::memcpy(buffer, write_source_, n);
    write_source_ += n;
    write_remaining_ -= n;
    if (write_remaining_ == 0) source_consumed_ = true;
    return n;
  }
  KLOG(Info) << (write_in_progress_
                     ? "Writing paused."
                     : "Writing paused. Send() called prematurely with no active transfer.");
  state_ = kWritePaused;
  return CURL_READFUNC_PAUSE;
}

int URLProcessorImpl::XferInfo(int64_t dltotal, int64_t dlnow, int64_t ultotal, int64_t ulnow) {
  if (ultotal > 0) {
    std::shared_ptr<const std::function<void(int)>> progress;
    {
      std::lock_guard<std::mutex> lock(callback_mutex_);
      progress = progress_;
    }
    if (progress) {
      const int64_t total = dltotal + ultotal;
      const int value = static_cast<int>((dlnow + ulnow) * 1000 / total);
      if (value != last_progress_) {
        last_progress_ = value;
        (*progress)(value);
      }
    }
  }
  return stop_.load() ? 1 : 0;
}

