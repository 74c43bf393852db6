#ifndef KORVO_TESTS_SUPPORT_ENGINE_SETUP_H_
#define KORVO_TESTS_SUPPORT_ENGINE_SETUP_H_

#include "core/net/network_settings.h"
#include "core/net/url_processor_impl.h"

namespace testing_env {

// The request engine as loopback tests need it: set up, and going direct
// whatever proxy the environment names.
inline bool OpenEngineWithoutProxy() {
  if (!URLProcessor::GlobalOpen()) return false;
  NetworkSettings direct;
  direct.mode = NetworkSettings::kNoProxy;
  URLProcessorImpl::SetSettings(direct);
  return true;
}

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_ENGINE_SETUP_H_
