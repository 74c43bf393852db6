#ifndef KORVO_CORE_NET_DISPATCHER_CLIENT_H_
#define KORVO_CORE_NET_DISPATCHER_CLIENT_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/export.h"
#include "core/net/dispatcher_url.h"

class URLProcessor;
class URLProcessorFactory;

// Which address serves each function of the maker's cloud, as the dispatcher
// service answers it. All clients share one cache, one request processor
// and one lock; a client only carries its own stop flag.
class KORVO_EXPORT VTDispatcherClient {
 public:
  enum ServiceType : int32_t {
    OauthToken = 0,
    RevokeRefreshToken = 1,
    Download = 2,
    WeblinkHost = 3,
    PublicScreenshoter = 4,
    WeblinkThumb = 5,
    WeblinkGet = 6,
    Metad = 7,
    Upload = 8,
  };
  enum Result : int32_t {
    SUCCEEDED = 0,
    STOPPED = 1,
    FAILED = 2,
    NETWORK_FAILED = 3,
    INVALID_RESPONSE = 4,
    SSL_FAILED = 5,
  };

  virtual ~VTDispatcherClient();

  // Clears the stop request of the shared request processor.
  virtual void Start() = 0;
  // Stops this client: its waiting and later calls return STOPPED.
  virtual void Stop() = 0;
  virtual Result GetUrl(ServiceType type, DispatcherUrl* out) = 0;
  virtual int LastResponseCode() const = 0;
  // Forgets the service's entry: the next GetUrl asks the dispatcher.
  virtual void ResetCounter(ServiceType type) = 0;

  // Null (logged) until SetURLProcessorFactory has been given a factory.
  static std::shared_ptr<VTDispatcherClient> Create();
  static void SetDispatcherUrl(const std::string& url);
  static void SetURLProcessorFactory(std::shared_ptr<URLProcessorFactory> factory);
  // Ends all dispatcher use for the rest of the process: a request in flight
  // is stopped, waiting and later calls return STOPPED.
  static void FinalCloseDispatcher();
};

KORVO_EXPORT const char* ToString(VTDispatcherClient::Result result);

class KORVO_EXPORT VTDispatcherClientImpl : public VTDispatcherClient {
 public:
  struct RequestInfoDispatcher {
    DispatcherUrl url;
    uint64_t counter = 0;
  };
  // What one answer of the dispatcher says.
  struct Answer {
    std::map<ServiceType, DispatcherUrl> services;  // the known ones it names
    bool has_ttl = false;  // a valid "ttl": the cache lifetime in seconds
    int64_t ttl = 0;
  };
  static constexpr int64_t kInitialCacheTimeout = 36000;
  static constexpr uint64_t kUsesPerEntry = 250;
  // The largest answer read. It names a dozen services in about 1 KB.
  static constexpr size_t kMaxAnswerBytes = size_t{1} << 20;

  VTDispatcherClientImpl() = default;

  void Start() override;
  void Stop() override;
  Result GetUrl(ServiceType type, DispatcherUrl* out) override;
  int LastResponseCode() const override;
  void ResetCounter(ServiceType type) override;

  // The cache step of GetUrl; the caller must be the one thread inside.
  static Result GetUrlFromConfig(ServiceType type, DispatcherUrl* out);
  // Parses an answer body: SUCCEEDED, or FAILED (logged once) for a body
  // that is not JSON, lacks "settings" or names a known service without an
  // "ip" or an http(s) "url"; nothing of a failed answer is to be used. A
  // missing or invalid "ttl" is logged and leaves |has_ttl| false. Pure:
  // touches no shared state.
  static Result ParseAnswer(const std::string& body, Answer* answer);

  // Seconds since the epoch; the system clock unless replaced (tests).
  static void SetClockForTesting(std::function<int64_t()> clock);
  // The state of a fresh process, for tests that run one after another.
  static void ResetForTesting();
  static int64_t CacheTimeoutForTesting();

 private:
  friend class VTDispatcherClient;

  // Waits until this thread may enter; false when stopped.
  bool Enter();
  void Leave();
  static Result UpdateDispatcherConfig();
  static int64_t Now();

  bool stopped_ = false;  // under config_mutex_
};

#endif  // KORVO_CORE_NET_DISPATCHER_CLIENT_H_
