#ifndef KORVO_CORE_INFRA_TALLY_LOGGER_H_
#define KORVO_CORE_INFRA_TALLY_LOGGER_H_

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/export.h"
#include "core/infra/url_processor_result.h"

class URLProcessorFactory;

// What a metrics sender implements; TallyLogger forwards to it.
class KORVO_EXPORT TallyLoggerImplInterface {
 public:
  virtual ~TallyLoggerImplInterface();
  virtual bool Open(const std::shared_ptr<URLProcessorFactory>& factory,
                    const std::string& prefix) = 0;
  virtual void Close() = 0;
  virtual void SendToFerro(
      const std::vector<std::pair<std::string, std::string>>& pairs) = 0;
  virtual void SendSSLFailed() = 0;
  virtual void SendMetric(const std::string& name, int count,
                          const std::string& add) = 0;
  virtual void SendMetricWithUtm(const std::string& name, int count,
                                 const std::string& add) = 0;
  virtual void SetEmail(const std::string& email) = 0;
  virtual void SetInstallationId(const std::string& id) = 0;
  virtual void SetUtm(const std::string& utm) = 0;
  virtual void SetGCLID(const std::string& gclid) = 0;
};

// The process-wide front end of the metrics sender. Every operation forwards
// to the implementation given to Open() and does nothing before. Any thread
// may call it.
class KORVO_EXPORT TallyLogger {
 public:
  static constexpr int kMaxMetricNameLen = 31;

  static TallyLogger& instance();

  TallyLogger() = default;
  TallyLogger(const TallyLogger& other);
  TallyLogger& operator=(const TallyLogger& other);

  // Keeps |impl| and returns impl->Open(factory, prefix).
  bool Open(const std::shared_ptr<URLProcessorFactory>& factory,
            std::shared_ptr<TallyLoggerImplInterface> impl,
            const std::string& prefix);
  void Close();

  void SendMetric(const std::string& name, int count, const std::string& add);
  void SendMetric(const std::string& name, const std::string& add, int count);
  void SendMetricWithUtm(const std::string& name, const std::string& add,
                         int count);
  void SendMetricWithUtm(const std::string& name, int count);
  // Sends "<name>_code_<code>" with the count 1.
  void SendError(int code, const std::string& name, const std::string& add);
  void SendSSLFailed();
  // SendError for a request that ended other than SUCCEEDED, STOPPED,
  // NETWORK_FAILED, CREATED or MULTI_STATUS.
  void SendIfNetworkError(url_processor::Result result, const std::string& name, int code,
                          const std::string& add);
  void SendToFerro(const std::vector<std::pair<std::string, std::string>>& pairs);
  void SendToFerro(const std::string& key, const std::string& value);
  void SendToFerro(const std::string& key1, const std::string& value1,
                   const std::string& key2, const std::string& value2);
  void SetEmail(const std::string& email);
  void SetInstallationId(const std::string& id);
  void SetUtm(const std::string& utm);
  void SetGCLID(const std::string& gclid);

 private:
  std::shared_ptr<TallyLoggerImplInterface> impl() const;

  mutable std::mutex mutex_;
  std::shared_ptr<TallyLoggerImplInterface> impl_;
};

#endif  // KORVO_CORE_INFRA_TALLY_LOGGER_H_
