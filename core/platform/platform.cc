#include "core/platform/platform.h"

#include <atomic>

Platform* NewPosixPlatform();

namespace {

std::atomic<Platform*> g_override{nullptr};

}  // namespace

Platform::~Platform() = default;

Platform* Platform::Default() {
  Platform* override = g_override.load(std::memory_order_acquire);
  if (override != nullptr) return override;
  static Platform* const platform = NewPosixPlatform();
  return platform;
}

Platform* Platform::SetDefaultForTesting(Platform* platform) {
  Platform* previous = g_override.exchange(platform, std::memory_order_acq_rel);
  return previous != nullptr ? previous : Default();
}
