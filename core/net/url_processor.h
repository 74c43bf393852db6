#ifndef KORVO_CORE_NET_URL_PROCESSOR_H_
#define KORVO_CORE_NET_URL_PROCESSOR_H_

#include <boost/optional.hpp>
#include <cstdint>
#include <atomic>
#include <functional>
#include <mutex>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/export.h"
#include "core/net/streams.h"
#include "core/infra/url_processor_result.h"
#include "core/infra/value_or_error.h"
#include "core/platform/wide_string.h"

class AuthInfoProvider;
class DispatcherUrl;
namespace url_utils {
class PostParamsSet;
}
namespace utils::json {
class json_tree;
}
namespace utils::xml {
class xml_tree;
}

// One HTTP exchange at a time: a verb starts it, Write streams the request
// body, Read the response body, and Finish ends the exchange and classifies
// it. The verbs report nothing themselves: a request that cannot start makes
// Read and Write return "stopped" or "over", and Finish tells why.
class KORVO_EXPORT URLProcessor : public InputStream, public OutputStream {
 public:
  using Result = url_processor::Result;
  static constexpr Result SUCCEEDED = url_processor::SUCCEEDED;
  static constexpr Result STOPPED = url_processor::STOPPED;
  static constexpr Result NETWORK_FAILED = url_processor::NETWORK_FAILED;
  static constexpr Result OTHER_FAILED = url_processor::OTHER_FAILED;
  static constexpr Result CREATED = url_processor::CREATED;
  static constexpr Result NO_CONTENT = url_processor::NO_CONTENT;
  static constexpr Result MAIL_SENT = url_processor::MAIL_SENT;
  static constexpr Result FORBIDDEN = url_processor::FORBIDDEN;
  static constexpr Result NOT_FOUND = url_processor::NOT_FOUND;
  static constexpr Result LINK_LIMIT = url_processor::LINK_LIMIT;
  static constexpr Result BLOB_BLOCKED = url_processor::BLOB_BLOCKED;
  static constexpr Result MULTI_STATUS = url_processor::MULTI_STATUS;
  static constexpr Result SSL_FAILED = url_processor::SSL_FAILED;

  enum CompressionMode : int32_t {
    kNoDecoding = 1,      // no Accept-Encoding
    kAnyEncoding = 2,     // every encoding the engine supports
    kGzipDeflate = 3,     // "gzip, deflate"
    kGzip = 4,            // "gzip"
  };

  // Inclusive byte positions; set when both are and end >= begin.
  struct Range {
    static constexpr uint64_t kInvalidBound = 0xFFFFFFFFFFFFFFFFull;
    uint64_t begin = kInvalidBound;
    uint64_t end = kInvalidBound;

    Range() = default;
    Range(uint64_t b, uint64_t e) : begin(b), end(e) {}
    bool IsSet() const { return begin != kInvalidBound && end != kInvalidBound && end >= begin; }
  };

  using Headers = std::vector<std::string>;

  ~URLProcessor() override;

  // Releases the transfer; waits (and logs) when another thread holds it.
  virtual void Close() = 0;
  // From now on URLs are logged without their query.
  virtual void EnableHideTokenFromLogs() = 0;
  virtual Result Finish() = 0;
  virtual void SetCompressionMode(CompressionMode mode) = 0;
  virtual void Mkcol(const DispatcherUrl& url) = 0;
  virtual void Proppath(const DispatcherUrl& url, std::string&& body) = 0;
  virtual void Propfind(const DispatcherUrl& url, const Headers& headers, std::string&& body) = 0;
  virtual void Move(const DispatcherUrl& url, const Headers& headers) = 0;
  virtual void Get(const DispatcherUrl& url, bool use_auth, bool verify_ssl, const Range& range,
                   bool follow_redirects, const Headers& headers) = 0;
  virtual void Delete(const DispatcherUrl& url, const Headers& headers, bool use_auth,
                      bool verify_ssl) = 0;
  // A blocking HEAD; |*size| is the content length of a 200 answer.
  virtual Result GetInfoBlocked(const DispatcherUrl& url, uint64_t* size, bool use_auth) = 0;
  // Pumps the transfer until the status line has arrived.
  virtual InputStream::Result ReadResponseCode() = 0;
  virtual void SetResponseHeadersBuffer(std::string* headers) = 0;
  virtual bool IsOpened() const = 0;
  virtual bool IsStopped() const = 0;
  virtual bool IsRunningRequest() const = 0;
  virtual int LastResponseCode() const = 0;
  virtual std::string LastResponseContentType() = 0;
  virtual void Put(const DispatcherUrl& url, const utils::xml::xml_tree& tree, bool use_auth,
                   const Headers& headers) = 0;
  virtual void Put(const DispatcherUrl& url, const utils::json::json_tree& tree,
                   bool use_auth) = 0;
  // Exactly |size| bytes, supplied through Write.
  virtual void Put(const DispatcherUrl& url, uint64_t size, bool use_auth, const Headers& headers,
                   std::string* reply) = 0;
  virtual void PutWithReply(const DispatcherUrl& url, std::string_view body, bool use_auth,
                            const std::string& content_type, const Headers& headers) = 0;
  virtual std::string LastUrl() = 0;
  virtual bool Open(std::string* response_headers) = 0;
  virtual void Post(const DispatcherUrl& url, const utils::json::json_tree& tree, bool use_auth,
                    const Headers& headers) = 0;
  virtual void Post(const DispatcherUrl& url, const url_utils::PostParamsSet& params,
                    bool use_auth) = 0;
  virtual void Post(const DispatcherUrl& url, uint64_t size, const Headers& headers,
                    bool use_auth, std::string* reply) = 0;
  virtual void Post(const DispatcherUrl& url, const WString& local_file, bool use_auth,
                    std::function<void(int)> progress) = 0;
  virtual void Post(const DispatcherUrl& url, std::string_view body, bool use_auth,
                    const std::string& content_type, const Headers& headers) = 0;
  virtual void Patch(const DispatcherUrl& url, const utils::json::json_tree& tree, bool use_auth,
                     const Headers& headers) = 0;
  virtual void Patch(const DispatcherUrl& url, std::string_view body, bool use_auth,
                     const std::string& content_type, const Headers& headers) = 0;
  virtual void PostAndRead(const DispatcherUrl& url, const Headers& headers, bool use_auth,
                           const Range& range) = 0;
  virtual void PostForm(const DispatcherUrl& url,
                        const std::vector<std::pair<std::string, std::string>>& fields,
                        const std::string& file_part_name, const std::string& file_content,
                        const std::string& user_agent) = 0;
  virtual void PostFiles(const DispatcherUrl& url,
                         const std::vector<std::pair<std::string, std::string>>& files) = 0;
  // The message text is supplied through Write; the result is MAIL_SENT.
  virtual void PutEmail(const DispatcherUrl& url, const std::string& from,
                        const std::string& to) = 0;
  virtual void ResetCallbacks() = 0;
  virtual void SetAuthInfo(std::shared_ptr<AuthInfoProvider> auth) = 0;
  virtual const AuthInfoProvider* GetAuthInfo() const = 0;
  virtual void SetTimeout(int seconds) = 0;
  virtual int GetTimeout() = 0;
  virtual void SetUserAgent(const std::string& user_agent) = 0;
  virtual std::string GetUserAgent() const = 0;
  // false: no Accept header goes out.
  virtual void EnableDefaultAcceptHeader(bool enable) = 0;
  // false: no Content-Type header goes out.
  virtual void EnableContentTypeHeader(bool enable) = 0;
  virtual void Proppatch(const DispatcherUrl& url, const Headers& headers, std::string&& body) = 0;

  // The client id, or the library's default when none was given.
  std::string GetClientId() const;
  static const char* DefaultClientId();
  void SetNoResponseHeadersBuffer() { SetResponseHeadersBuffer(nullptr); }

  // GET with auth, then the body parsed as JSON, then Finish.
  std::tuple<std::unique_ptr<utils::json::json_tree>, Result> GetJSONAndResult(
      const DispatcherUrl& url, const Headers& headers);
  std::tuple<std::unique_ptr<utils::json::json_tree>, Result> GetJSONAndResultWithPut(
      const DispatcherUrl& url, const Headers& headers);
  // The tree for a successful status; the result of Finish otherwise.
  utils::ValueOrError<std::unique_ptr<utils::json::json_tree>, Result> GetJSON(
      const DispatcherUrl& url, const Headers& headers);
  utils::ValueOrError<std::unique_ptr<utils::json::json_tree>, Result> GetJSONWithPut(
      const DispatcherUrl& url, const Headers& headers);

  // 200..299 and 100.
  static bool IsSuccessHttpCode(int code);
  // A status other than those; 0 ("no response") is neither.
  static bool IsNotSuccessHttpCode(int code);
  static bool IsNetworkError(Result result) { return url_processor::IsNetworkError(result); }
  // Whether the Content-Range header names |total| and, where given, |begin|
  // and |end|.
  static bool CheckRangeInResponseHeaders(const std::string& headers, uint64_t total,
                                          boost::optional<uint64_t> begin,
                                          boost::optional<uint64_t> end);

  // Process-wide engine set-up: once before the first request, and once at
  // exit after the last.
  static bool GlobalOpen();
  static void GlobalClose();
  // Kept for the engine's callers; OpenSSL 3 does its own locking.
  static void LockingFunction(int mode, int n, const char* file, int line);
  static std::atomic<bool> s_init;

 protected:
  explicit URLProcessor(std::string client_id) : client_id_(std::move(client_id)) {}

 private:
  template <class StartVerb>
  std::tuple<std::unique_ptr<utils::json::json_tree>, Result> RequestJSON(const StartVerb& start);

  std::string client_id_;
};

// Prints the result's name.
KORVO_EXPORT std::ostream& operator<<(std::ostream& out, url_processor::Result result);

// Creates request processors that share a user agent, a client id and an
// auth provider, and can stop them all.
class KORVO_EXPORT URLProcessorFactory {
 public:
  URLProcessorFactory() = default;
  URLProcessorFactory(std::string user_agent, std::string client_id)
      : user_agent_(std::move(user_agent)), client_id_(std::move(client_id)) {}
  virtual ~URLProcessorFactory();

  virtual std::shared_ptr<URLProcessor> CreateUrlProcessor(bool flag) = 0;
  // On every live processor.
  virtual void ResetCallbacks() = 0;
  // For processors created afterwards.
  virtual void SetAuthInfo(std::shared_ptr<AuthInfoProvider> auth) = 0;
  virtual std::shared_ptr<URLProcessorFactory> Clone() const = 0;
  // Stop() on every live processor.
  virtual void StopAllProcessors() = 0;

  void SetUserAgent(const std::string& user_agent);
  void SetClientId(const std::string& client_id);
  std::string GetUserAgent() const;
  std::string GetClientId() const;

 protected:
  mutable std::mutex mutex_;

 private:
  std::string user_agent_;
  std::string client_id_;
};

#endif  // KORVO_CORE_NET_URL_PROCESSOR_H_
