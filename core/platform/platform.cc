#include "core/platform/platform.h"

#include <atomic>

Platform* NewPosixPlatform(const std::string& data_home, Platform::SecretKeySource source);

namespace {

std::atomic<Platform*> g_override{nullptr};

Platform* OsPlatform() {
  static Platform* const platform = NewPosixPlatform("", Platform::SecretKeySource::kAuto);
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

std::unique_ptr<Platform> Platform::NewForTesting(const std::string& data_home,
                                                  SecretKeySource source) {
  return std::unique_ptr<Platform>(NewPosixPlatform(data_home, source));
}
