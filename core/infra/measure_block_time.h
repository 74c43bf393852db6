#ifndef KORVO_CORE_INFRA_MEASURE_BLOCK_TIME_H_
#define KORVO_CORE_INFRA_MEASURE_BLOCK_TIME_H_

#include <QElapsedTimer>
#include <cstdint>

#include "core/export.h"

namespace utils {

// Measures the time a block takes. On destruction stores the elapsed
// milliseconds, and seconds as milliseconds / 1000.0, where asked to.
class KORVO_EXPORT MeasureBlockTime {
 public:
  MeasureBlockTime();
  explicit MeasureBlockTime(double* seconds);
  explicit MeasureBlockTime(uint64_t* milliseconds);
  ~MeasureBlockTime();
  MeasureBlockTime(const MeasureBlockTime&) = delete;
  MeasureBlockTime& operator=(const MeasureBlockTime&) = delete;

  uint64_t GetElapsedMSec() const;
  double GetElapsedSec() const;
  // Return the time so far and start again.
  uint64_t RestartMSec();
  uint64_t Reset() { return RestartMSec(); }
  double RestartSec();

 private:
  QElapsedTimer timer_;
  double* seconds_ = nullptr;
  uint64_t* milliseconds_ = nullptr;
};

}  // namespace utils

#endif  // KORVO_CORE_INFRA_MEASURE_BLOCK_TIME_H_
