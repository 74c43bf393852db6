#ifndef KORVO_CORE_NET_URL_PROCESSOR_IMPL_H_
#define KORVO_CORE_NET_URL_PROCESSOR_IMPL_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/export.h"
#include "core/net/network_settings.h"
#include "core/net/url_processor.h"

struct curl_slist;
struct ssl_ctx_st;
struct x509_store_st;

// The request processor on libcurl. Each processor owns an easy and a multi
// handle and runs one exchange at a time on the caller's thread, pumping the
// engine in waits of at most two seconds; all processors share connections,
// DNS results and TLS sessions, and one trust store.
class KORVO_EXPORT URLProcessorImpl : public URLProcessor {
 public:
  enum State : int32_t {
    kClosed = 0,
    kOpened = 1,
    kReading = 2,
    kReadComplete = 3,   // transfer over, buffered bytes may remain
    kWriting = 4,
    kWritePaused = 5,
    kWritten = 6,        // body sent, transfer still running
    kFailed = 7,
    kStoppedState = 8,
    kFinished = 9,
  };

  ~URLProcessorImpl() override;

  // ---- process-wide settings.
  static void SetSettings(const NetworkSettings& settings);
  static NetworkSettings GetSettings();
  static void SetSslVerifyActive(bool active);
  static bool GetSslVerifyActive();
  // Adds PEM root certificates to the trust store every verified exchange
  // uses, next to the system's and the shipped ones: the way to trust a
  // private or test CA without touching the system. Returns how many were
  // added; may be called before or after the first handshake.
  static int AddTrustedRootCertificates(const std::string& pem);
  static bool AddX509CertToStore(const char* data, int length, x509_store_st* store, bool der);
  // Makes the next exchange read the system proxy configuration again.
  static void ResetSystemProxyCacheForTesting();

  // Logs the engine's trace of every exchange (secrets in headers masked).
  void SetVerboseLogs(bool verbose);
  // A PUT of an in-memory body.
  void Put(const DispatcherUrl& url, bool use_auth, std::string body, const Headers& headers);

  // ---- URLProcessor.
  InputStream::Result Read(unsigned char* buffer, unsigned int size, unsigned int* read) override;
  int64_t InputLength() const override { return input_length_; }
  OutputStream::Result Write(std::string_view data) override;
  void Start() override { stop_.store(false); }
  // From any thread: the exchange ends within a moment.
  void Stop() override;
  void Close() override;
  void EnableHideTokenFromLogs() override { hide_tokens_ = true; }
  Result Finish() override;
  void SetCompressionMode(CompressionMode mode) override { compression_ = mode; }
  void Mkcol(const DispatcherUrl& url) override;
  void Proppath(const DispatcherUrl& url, std::string&& body) override;
  void Propfind(const DispatcherUrl& url, const Headers& headers, std::string&& body) override;
  void Move(const DispatcherUrl& url, const Headers& headers) override;
  void Get(const DispatcherUrl& url, bool use_auth, bool verify_ssl, const Range& range,
           bool follow_redirects, const Headers& headers) override;
  void Delete(const DispatcherUrl& url, const Headers& headers, bool use_auth,
              bool verify_ssl) override;
  Result GetInfoBlocked(const DispatcherUrl& url, uint64_t* size, bool use_auth) override;
  InputStream::Result ReadResponseCode() override;
  void SetResponseHeadersBuffer(std::string* headers) override { response_headers_ = headers; }
  bool IsOpened() const override { return state_ != kClosed; }
  bool IsStopped() const override { return stop_.load(); }
  bool IsRunningRequest() const override { return state_ != kClosed && state_ != kOpened; }
  int LastResponseCode() const override { return last_response_code_; }
  std::string LastResponseContentType() override { return last_content_type_; }
  void Put(const DispatcherUrl& url, const utils::xml::xml_tree& tree, bool use_auth,
           const Headers& headers) override;
  void Put(const DispatcherUrl& url, const utils::json::json_tree& tree, bool use_auth) override;
  void Put(const DispatcherUrl& url, uint64_t size, bool use_auth, const Headers& headers,
           std::string* reply) override;
  void PutWithReply(const DispatcherUrl& url, std::string_view body, bool use_auth,
                    const std::string& content_type, const Headers& headers) override;
  std::string LastUrl() override { return last_url_; }
  bool Open(std::string* response_headers) override;
  void Post(const DispatcherUrl& url, const utils::json::json_tree& tree, bool use_auth,
            const Headers& headers) override;
  void Post(const DispatcherUrl& url, const url_utils::PostParamsSet& params,
            bool use_auth) override;
  void Post(const DispatcherUrl& url, uint64_t size, const Headers& headers, bool use_auth,
            std::string* reply) override;
  void Post(const DispatcherUrl& url, const WString& local_file, bool use_auth,
            std::function<void(int)> progress) override;
  void Post(const DispatcherUrl& url, std::string_view body, bool use_auth,
            const std::string& content_type, const Headers& headers) override;
  void Patch(const DispatcherUrl& url, const utils::json::json_tree& tree, bool use_auth,
             const Headers& headers) override;
  void Patch(const DispatcherUrl& url, std::string_view body, bool use_auth,
             const std::string& content_type, const Headers& headers) override;
  void PostAndRead(const DispatcherUrl& url, const Headers& headers, bool use_auth,
                   const Range& range) override;
  void PostForm(const DispatcherUrl& url,
                const std::vector<std::pair<std::string, std::string>>& fields,
                const std::string& file_part_name, const std::string& file_content,
                const std::string& user_agent) override;
  void PostFiles(const DispatcherUrl& url,
                 const std::vector<std::pair<std::string, std::string>>& files) override;
  void PutEmail(const DispatcherUrl& url, const std::string& from, const std::string& to) override;
  void ResetCallbacks() override;
  void SetAuthInfo(std::shared_ptr<AuthInfoProvider> auth) override;
  const AuthInfoProvider* GetAuthInfo() const override;
  void SetTimeout(int seconds) override;
  int GetTimeout() override;
  void SetUserAgent(const std::string& user_agent) override;
  std::string GetUserAgent() const override;
  void EnableDefaultAcceptHeader(bool enable) override { no_accept_header_ = !enable; }
  void EnableContentTypeHeader(bool enable) override { no_content_type_header_ = !enable; }
  void Proppatch(const DispatcherUrl& url, const Headers& headers, std::string&& body) override;

  State state() const { return state_; }
  // Whether an operation holds the processor right now.
  bool IsInUseForTesting() {
    std::lock_guard<std::mutex> lock(use_mutex_);
    return users_ > 0;
  }
  // The URL as it is logged: with hiding on, a query holding "token" is cut.
  std::string FilterOutTokensFromURL(const std::string& url) const;

 private:
  friend class URLProcessorFactoryImpl;
  friend struct CurlCallbacks;

  class UseScope;

  URLProcessorImpl(bool flag, std::string user_agent, std::string client_id);

  // The most a reply buffer (Put and Post with |reply|) takes: replies are
  // status documents, never contents.
  static constexpr size_t kMaxReplySize = 16u << 20;
  // The most of response headers kept for the caller.
  static constexpr size_t kMaxResponseHeaders = 1u << 20;
  static constexpr int kMaxRedirects = 7;

  void WakeUp();
  void SetProgress(std::function<void(int)> progress);
  // What an earlier exchange left behind when it was not finished.
  void ReleaseRequestResources();
  // Sends the request again to the Location of the redirect that just ended
  // (the credentials only to their own origin, never from https to http);
  // false when the redirect is the answer.
  bool FollowRedirect();

  // Configures the easy handle for one exchange; false when it cannot.
  bool InitCurl(const DispatcherUrl& url, bool use_auth, const char* method, bool verify_ssl,
                bool follow_redirects, const std::string& user_agent_override,
                const Headers& headers, const std::string& extra_header);
  bool SslContext(void* ssl_context);
  // Adds the configured handle to the multi handle and logs the start.
  void StartTransfer(const char* verb, const std::string& range_text, State state);
  // Common shape of the verbs with a body in memory.
  void SendBody(const DispatcherUrl& url, const char* method, const char* verb, bool use_auth,
                bool verify_ssl, std::string_view body, const std::string& content_type,
                const Headers& headers);
  bool BeginVerb(const DispatcherUrl& url);
  // Replaces (and cleans up) the multi handle where Stop() can see it.
  void SetMulti(void* multi);
  void RemoveHandle();
  void Cleanup();
  void DiscardBuffered();
  // One pass of the engine: false (state kFailed, logged) on an engine error.
  bool PerformOnce(int* running);
  // Waits up to two seconds, with back-off; false on an engine error.
  bool WaitOnce(int* idle_waits);
  enum class PumpEnd { kAnswered, kStopped, kFailed };
  // Runs the engine until |answered(running)| is true, a stop (transfer
  // removed, state kStoppedState), the time-out (logged as "<what> timed out
  // (<seconds><unit>).", state kFailed) or an engine error.
  PumpEnd Pump(const char* what, const char* unit,
               const std::function<bool(int running)>& answered);

  size_t Receive(const char* data, size_t size);
  size_t ReceiveHeader(const char* data, size_t size);
  size_t Send(char* buffer, size_t size);
  int XferInfo(int64_t dltotal, int64_t dlnow, int64_t ultotal, int64_t ulnow);

  std::string client_id_;
  std::string user_agent_;
  const bool flag_;
  void* easy_ = nullptr;
  void* multi_ = nullptr;    // written under wake_guard_
  std::mutex wake_guard_;
  std::string* response_headers_ = nullptr;
  std::atomic<State> state_{kClosed};
  std::atomic<bool> stop_{false};
  std::string last_url_;
  std::string last_content_type_;
  std::atomic<int> last_response_code_{0};  // read from any thread
  static constexpr int kUnknownResponseCode = 0;
  int timeout_seconds_ = 30;
  std::shared_ptr<AuthInfoProvider> auth_;
  bool verbose_ = false;
  mutable std::mutex mutex_;

  // Read target in the caller's buffer, and what did not fit there.
  unsigned char* read_target_ = nullptr;
  size_t read_room_ = 0;
  size_t read_count_ = 0;
  std::string overflow_;
  size_t overflow_offset_ = 0;

  // Write source of the current Write call.
  const char* write_source_ = nullptr;
  size_t write_remaining_ = 0;
  bool write_in_progress_ = false;
  bool source_consumed_ = false;

  curl_slist* headers_list_ = nullptr;
  curl_slist* plain_headers_list_ = nullptr;  // without the credentials
  bool has_credentials_ = false;
  curl_slist* resolve_list_ = nullptr;
  curl_slist* recipients_ = nullptr;
  void* form_ = nullptr;  // curl_mime
  std::string body_;      // an in-memory request body
  // Called from the engine's thread; replaced from any.
  std::mutex callback_mutex_;
  std::shared_ptr<const std::function<void(int)>> progress_;
  int last_progress_ = -1;
  std::FILE* upload_file_ = nullptr;
  std::string* reply_ = nullptr;
  int64_t input_length_ = -1;
  bool hide_tokens_ = false;
  bool cookies_enabled_ = false;
  bool follow_redirects_ = false;
  bool redirect_pending_ = false;  // the current answer is a redirect to follow
  int redirects_ = 0;
  int current_status_ = 0;
  bool overflowed_ = false;  // a size limit ended the exchange
  size_t additional_logged_ = 0;

  // Operations in progress (UseScope) and the Close that waits for them.
  std::mutex use_mutex_;
  std::condition_variable use_done_;
  int users_ = 0;
  std::thread::id user_;
  bool closing_ = false;
  bool no_accept_header_ = false;
  bool no_content_type_header_ = false;
  int compression_ = kNoDecoding;
};

// Creates processors on the engine and can stop them all.
class KORVO_EXPORT URLProcessorFactoryImpl : public URLProcessorFactory {
 public:
  URLProcessorFactoryImpl(std::string user_agent, std::string client_id);
  ~URLProcessorFactoryImpl() override;

  std::shared_ptr<URLProcessor> CreateUrlProcessor(bool flag) override;
  void ResetCallbacks() override;
  void SetAuthInfo(std::shared_ptr<AuthInfoProvider> auth) override;
  std::shared_ptr<URLProcessorFactory> Clone() const override;
  void StopAllProcessors() override;
  void SetVerboseLogs(bool verbose);

 private:
  template <class Visit>
  void ForEachLive(const Visit& visit);

  std::shared_ptr<AuthInfoProvider> auth_;
  std::vector<std::weak_ptr<URLProcessor>> processors_;
  bool verbose_ = false;
  bool tls_logged_ = false;
};

#endif  // KORVO_CORE_NET_URL_PROCESSOR_IMPL_H_
