#include "core/platform/platform.h"

#include <atomic>

Platform* NewPosixPlatform();

namespace {

std::atomic<Platform*> g_override{nullptr};

Platform* OsPlatform() {
  static Platform* const platform = NewPosixPlatform();
  return platform;
}

}  // namespace

Platform::~Platform() = default;

Platform* Platform::Default() {
  Platform* override = g_override.load(std::memory_order_acquire);
  return override != nullptr ? override : OsPlatform();
}

Platform* Platform::SetDefaultForTesting(Platform* platform) {
  Platform* previous = g_override.exchange(platform, std::memory_order_acq_rel);
  return previous != nullptr ? previous : OsPlatform();
}
