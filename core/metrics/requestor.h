#ifndef KORVO_CORE_METRICS_REQUESTOR_H_
#define KORVO_CORE_METRICS_REQUESTOR_H_

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/export.h"
#include "core/platform/wide_string.h"

class URLProcessor;
class URLProcessorFactory;

// A queue of requests sent one by one, in order, by one background thread
// ("requests_sender"). A request that fails is sent again every
// kWaitOnFail milliseconds and the ones behind it wait; the queue keeps at
// most kMaxQueued requests and drops the oldest waiting one to make room.
// Callers never wait for the network.
class KORVO_EXPORT Requestor {
 public:
  enum ReqType : int32_t {
    kPostBody = 0,  // each entry is a POST of its body to its URL
    kGetUrl = 1,    // each entry is a GET of its URL
  };
  static constexpr int kWaitOnFail = 2500;
  static constexpr size_t kMaxQueued = 1024;

  struct Metric {
    std::string url;
    std::string body;
    WString wide;
    bool flag = false;
  };

  Requestor() = default;
  ~Requestor();
  Requestor(const Requestor&) = delete;
  Requestor& operator=(const Requestor&) = delete;

  // Creates and opens the processor and starts the sender; false (logged,
  // no thread) when the processor cannot be opened or the thread cannot be
  // started. Once only.
  bool Open(const std::shared_ptr<URLProcessorFactory>& factory, ReqType type);
  // Queues a request; false once closed.
  bool Send(const std::string& url, const std::string& body, bool flag);
  // True when everything queued has been delivered within |milliseconds|.
  bool WaitEmptyQueue(int milliseconds);
  // Stops a request in flight, ends the sender and joins it. What is still
  // queued is dropped.
  void Close();

  size_t QueuedForTesting();
  // The next Open fails to start its thread as on a system out of threads.
  static void FailNextThreadStartForTesting();

 private:
  struct Entry {
    Metric metric;
    uint64_t id = 0;
  };

  void Run();
  bool Deliver(const Metric& metric);

  ReqType type_ = kGetUrl;
  std::shared_ptr<URLProcessor> processor_;
  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Entry> queue_;
  uint64_t next_id_ = 1;
  uint64_t in_flight_ = 0;  // the id being sent, 0 for none
  bool open_ = false;
  bool closed_ = false;
};

#endif  // KORVO_CORE_METRICS_REQUESTOR_H_
