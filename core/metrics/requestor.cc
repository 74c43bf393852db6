#include "core/metrics/requestor.h"

#include <atomic>
#include <chrono>
#include <system_error>

#include "core/infra/exception_catch_wrapper.h"
#include "core/infra/logger.h"
#include "core/infra/thread.h"
#include "core/net/dispatcher_url.h"
#include "core/net/url_processor.h"

namespace {

std::atomic<bool> fail_next_thread_start{false};

}  // namespace

Requestor::~Requestor() { Close(); }

void Requestor::FailNextThreadStartForTesting() { fail_next_thread_start = true; }

bool Requestor::Open(const std::shared_ptr<URLProcessorFactory>& factory, ReqType type) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_ || closed_) {
    KLOG(Fatal) << "Requestor opened twice.";
    return false;
  }
  if (factory == nullptr) {
    KLOG(Fatal) << "Null URLProcessorFactory pointer.";
    return false;
  }
  processor_ = factory->CreateUrlProcessor(false);
  if (processor_ == nullptr || !processor_->Open(nullptr)) {
    KLOG(Fail) << "Requestor cannot open its url processor.";
    processor_.reset();
    return false;
  }
  type_ = type;
  try {
    if (fail_next_thread_start.exchange(false)) {
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                              "thread creation refused for the test");
    }
    worker_ = std::thread([this] {
      try {
        utils::ExceptionCatchWrapper([this] { Run(); }, "RequestProcessor")();
      } catch (...) {
        // Logged by the wrapper; only the sender ends, callers go on.
      }
    });
  } catch (const std::system_error& e) {
    // Out of threads or memory: no sender, and no exception for the caller.
    KLOG(Fail) << "Requestor cannot start its sender thread: " << e.what();
    processor_->Close();
    processor_.reset();
    return false;
  }
  open_ = true;
  utils::SetThreadName(worker_, "requests_sender");
  return true;
}

bool Requestor::Send(const std::string& url, const std::string& body, bool flag) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    // Make room: the oldest waiting entry goes, never the one being sent.
    while (queue_.size() >= kMaxQueued) {
      auto oldest = queue_.begin();
      if (oldest->id == in_flight_) ++oldest;
      queue_.erase(oldest);
    }
    Entry entry;
    entry.metric.url = url;
    entry.metric.body = body;
    entry.metric.flag = flag;
    entry.id = next_id_++;
    queue_.push_back(std::move(entry));
  }
  cv_.notify_all();
  return true;
}

bool Requestor::WaitEmptyQueue(int milliseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) return true;
    }
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

size_t Requestor::QueuedForTesting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

void Requestor::Close() {
  std::shared_ptr<URLProcessor> processor;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    processor = processor_;
  }
  cv_.notify_all();
  if (processor != nullptr) processor->Stop();
  if (worker_.joinable()) worker_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.clear();
  if (processor_ != nullptr) processor_->Close();
  processor_.reset();
}

bool Requestor::Deliver(const Metric& metric) {
  const DispatcherUrl url = DispatcherUrl::FromString(metric.url);
  if (type_ == kGetUrl) {
    processor_->Get(url, false, true, URLProcessor::Range(), false, {});
  } else {
    processor_->EnableContentTypeHeader(false);
    processor_->Post(url, metric.body, false, std::string(), {});
  }
  processor_->ReadSkipAll();
  const URLProcessor::Result result = processor_->Finish();
  // Any 2xx answer means the service has the entry.
  return result == URLProcessor::SUCCEEDED || result == URLProcessor::CREATED ||
         result == URLProcessor::NO_CONTENT;
}

void Requestor::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return closed_ || !queue_.empty(); });
    if (closed_) return;
    // A factory-wide stop (StopAllProcessors) ends the request in flight but
    // must not end metrics for good; Close() sets closed_ first, so this
    // cannot undo it.
    processor_->Start();
    const Metric metric = queue_.front().metric;
    in_flight_ = queue_.front().id;
    lock.unlock();
    const bool delivered = Deliver(metric);
    lock.lock();
    if (!delivered) {
      // Sleeps unless closed; Close() must not wait out the pause.
      cv_.wait_for(lock, std::chrono::milliseconds(kWaitOnFail), [this] { return closed_; });
    }
    // Send() never removes the entry in flight, so it is still the front.
    if (delivered || queue_.size() >= kMaxQueued) queue_.pop_front();
    in_flight_ = 0;
  }
}
