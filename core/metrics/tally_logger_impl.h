#ifndef KORVO_CORE_METRICS_TALLY_LOGGER_IMPL_H_
#define KORVO_CORE_METRICS_TALLY_LOGGER_IMPL_H_

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/export.h"
#include "core/infra/tally_logger.h"

class Requestor;

// Builds the metrics service's URLs and queues them on a Requestor, whose
// thread sends them. |origin| is the metrics service's scheme, host and
// optional port ("https://metrics.example.com"); the path and the query
// layout are fixed.
class KORVO_EXPORT TallyLoggerImpl : public TallyLoggerImplInterface {
 public:
  static constexpr char kPath[] = "/update?p=cloud&t=cloud_o_windows";

  explicit TallyLoggerImpl(std::string origin);
  ~TallyLoggerImpl() override;

  bool Open(const std::shared_ptr<URLProcessorFactory>& factory,
            const std::string& prefix) override;
  void Close() override;
  void SendToFerro(const std::vector<std::pair<std::string, std::string>>& pairs) override;
  void SendSSLFailed() override;
  void SendMetric(const std::string& name, int count, const std::string& add) override;
  void SendMetricWithUtm(const std::string& name, int count, const std::string& add) override;
  void SetEmail(const std::string& email) override;
  void SetInstallationId(const std::string& id) override;
  void SetUtm(const std::string& utm) override;
  void SetGCLID(const std::string& gclid) override;

  // True when everything sent so far has been delivered within the time.
  bool WaitEmptyQueue(int milliseconds);

  // The URL a metric goes out with (the metric name as given).
  std::string GenerateTallyUrl(const std::string& name, int count, const std::string& add,
                               bool with_utm);
  // At most kMaxMetricNameLen characters of letters, digits and '_'.
  static std::string CleanMetricName(const std::string& name);

 private:
  void SendMetricImpl(const std::string& name, int count, const std::string& add, bool with_utm,
                      bool flag);
  // Under mutex_: base endpoint, "_", prefix; and "&e=", "&iid=" when set.
  void AppendBase(std::string* url) const;
  void AppendIdentity(std::string* url) const;
  std::shared_ptr<Requestor> requestor();

  const std::string origin_;
  std::shared_ptr<Requestor> requestor_;  // set while opened
  std::string prefix_;
  std::mutex mutex_;
  std::string email_;
  std::string installation_id_;
  std::string utm_;
  std::string gclid_;
};

#endif  // KORVO_CORE_METRICS_TALLY_LOGGER_IMPL_H_
