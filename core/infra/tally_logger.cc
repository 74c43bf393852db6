#include "core/infra/tally_logger.h"

TallyLoggerImplInterface::~TallyLoggerImplInterface() = default;

TallyLogger& TallyLogger::instance() {
  // Never destroyed: metrics may be sent from other static destructors.
  static TallyLogger* const logger = new TallyLogger();
  return *logger;
}

TallyLogger::TallyLogger(const TallyLogger& other) : impl_(other.impl()) {}

TallyLogger& TallyLogger::operator=(const TallyLogger& other) {
  if (this == &other) return *this;
  auto impl = other.impl();
  std::lock_guard<std::mutex> lock(mutex_);
  impl_ = std::move(impl);
  return *this;
}

std::shared_ptr<TallyLoggerImplInterface> TallyLogger::impl() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return impl_;
}

bool TallyLogger::Open(const std::shared_ptr<URLProcessorFactory>& factory,
                       std::shared_ptr<TallyLoggerImplInterface> impl,
                       const std::string& prefix) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    impl_ = impl;
  }
  return impl != nullptr && impl->Open(factory, prefix);
}

void TallyLogger::Close() {
  if (auto impl = this->impl()) impl->Close();
}

void TallyLogger::SendMetric(const std::string& name, int count,
                             const std::string& add) {
  if (auto impl = this->impl()) impl->SendMetric(name, count, add);
}

void TallyLogger::SendMetric(const std::string& name, const std::string& add,
                             int count) {
  SendMetric(name, count, add);
}

void TallyLogger::SendMetricWithUtm(const std::string& name,
                                    const std::string& add, int count) {
  if (auto impl = this->impl()) impl->SendMetricWithUtm(name, count, add);
}

void TallyLogger::SendMetricWithUtm(const std::string& name, int count) {
  SendMetricWithUtm(name, std::string(), count);
}

void TallyLogger::SendError(int code, const std::string& name,
                            const std::string& add) {
  SendMetric(name + "_code_" + std::to_string(code), 1, add);
}

void TallyLogger::SendSSLFailed() {
  if (auto impl = this->impl()) impl->SendSSLFailed();
}

void TallyLogger::SendToFerro(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
  if (auto impl = this->impl()) impl->SendToFerro(pairs);
}

void TallyLogger::SendToFerro(const std::string& key, const std::string& value) {
  SendToFerro({{key, value}});
}

void TallyLogger::SendToFerro(const std::string& key1, const std::string& value1,
                              const std::string& key2, const std::string& value2) {
  SendToFerro({{key1, value1}, {key2, value2}});
}

void TallyLogger::SetEmail(const std::string& email) {
  if (auto impl = this->impl()) impl->SetEmail(email);
}

void TallyLogger::SetInstallationId(const std::string& id) {
  if (auto impl = this->impl()) impl->SetInstallationId(id);
}

void TallyLogger::SetUtm(const std::string& utm) {
  if (auto impl = this->impl()) impl->SetUtm(utm);
}

void TallyLogger::SetGCLID(const std::string& gclid) {
  if (auto impl = this->impl()) impl->SetGCLID(gclid);
}

void TallyLogger::SendIfNetworkError(url_processor::Result result, const std::string& name,
                                     int code, const std::string& add) {
  switch (result) {
    case url_processor::SUCCEEDED:
    case url_processor::STOPPED:
    case url_processor::NETWORK_FAILED:
    case url_processor::CREATED:
    case url_processor::MULTI_STATUS:
      return;
    default:
      SendError(code, name, add);
  }
}
