#include <curl/curl.h>

#include <algorithm>

#include "core/infra/logger.h"
#include "core/net/url_processor_impl.h"

URLProcessorFactoryImpl::URLProcessorFactoryImpl(std::string user_agent, std::string client_id)
    : URLProcessorFactory(std::move(user_agent), std::move(client_id)) {}

URLProcessorFactoryImpl::~URLProcessorFactoryImpl() = default;

template <class Visit>
void URLProcessorFactoryImpl::ForEachLive(const Visit& visit) {
  std::lock_guard<std::mutex> lock(mutex_);
  processors_.erase(std::remove_if(processors_.begin(), processors_.end(),
                                   [](const auto& weak) { return weak.expired(); }),
                    processors_.end());
  for (const auto& weak : processors_) {
    if (auto processor = weak.lock()) visit(processor.get());
  }
}

std::shared_ptr<URLProcessor> URLProcessorFactoryImpl::CreateUrlProcessor(bool flag) {
  const std::string user_agent = GetUserAgent();
  const std::string client_id = GetClientId();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!tls_logged_) {
    tls_logged_ = true;
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    KLOG(Info) << "Using SSL: " << (info && info->ssl_version ? info->ssl_version : "none");
  }
  processors_.erase(std::remove_if(processors_.begin(), processors_.end(),
                                   [](const auto& weak) { return weak.expired(); }),
                    processors_.end());
  std::shared_ptr<URLProcessorImpl> processor(new URLProcessorImpl(flag, user_agent, client_id));
  processor->SetVerboseLogs(verbose_);
  processor->SetAuthInfo(auth_);
  processors_.push_back(processor);
  return processor;
}

void URLProcessorFactoryImpl::ResetCallbacks() {
  ForEachLive([](URLProcessor* processor) { processor->ResetCallbacks(); });
}

void URLProcessorFactoryImpl::StopAllProcessors() {
  ForEachLive([](URLProcessor* processor) { processor->Stop(); });
}

void URLProcessorFactoryImpl::SetAuthInfo(std::shared_ptr<AuthInfoProvider> auth) {
  std::lock_guard<std::mutex> lock(mutex_);
  auth_ = std::move(auth);
}

std::shared_ptr<URLProcessorFactory> URLProcessorFactoryImpl::Clone() const {
  auto clone = std::make_shared<URLProcessorFactoryImpl>(GetUserAgent(), GetClientId());
  std::lock_guard<std::mutex> lock(mutex_);
  clone->verbose_ = verbose_;
  clone->tls_logged_ = tls_logged_;
  return clone;
}

void URLProcessorFactoryImpl::SetVerboseLogs(bool verbose) {
  std::lock_guard<std::mutex> lock(mutex_);
  verbose_ = verbose;
}
