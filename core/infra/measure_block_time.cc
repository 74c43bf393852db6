#include "core/infra/measure_block_time.h"

namespace utils {

MeasureBlockTime::MeasureBlockTime() { timer_.start(); }

MeasureBlockTime::MeasureBlockTime(double* seconds) : seconds_(seconds) {
  timer_.start();
}

MeasureBlockTime::MeasureBlockTime(uint64_t* milliseconds)
    : milliseconds_(milliseconds) {
  timer_.start();
}

MeasureBlockTime::~MeasureBlockTime() {
  const uint64_t ms = GetElapsedMSec();
  if (milliseconds_ != nullptr) *milliseconds_ = ms;
  if (seconds_ != nullptr) *seconds_ = ms / 1000.0;
}

uint64_t MeasureBlockTime::GetElapsedMSec() const {
  return static_cast<uint64_t>(timer_.elapsed());
}

double MeasureBlockTime::GetElapsedSec() const { return GetElapsedMSec() / 1000.0; }

uint64_t MeasureBlockTime::RestartMSec() {
  return static_cast<uint64_t>(timer_.restart());
}

double MeasureBlockTime::RestartSec() { return RestartMSec() / 1000.0; }

}  // namespace utils
