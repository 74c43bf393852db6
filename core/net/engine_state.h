#ifndef KORVO_CORE_NET_ENGINE_STATE_H_
#define KORVO_CORE_NET_ENGINE_STATE_H_

// The engine's process-wide state, shared by the files of core/net only.

#include <curl/curl.h>

#include <atomic>
#include <mutex>

#include "core/infra/logger.h"

namespace net_internal {

// Never destroyed: requests may still run while static destructors do.
struct EngineState {
  CURLSH* share = nullptr;
  // One lock per shared data kind: share, DNS, TLS sessions, connections,
  // public suffix list.
  std::mutex share_locks[5];
  // Around every curl_multi_perform.
  std::mutex perform_mutex;
  std::atomic<bool> verify_disabled{false};
};

EngineState& Engine();

// Sets an option the exchange must not run without; false (logged) when the
// engine refuses it.
template <class Value>
bool RequireOption(CURL* easy, CURLoption option, Value value, const char* name) {
  const CURLcode code = curl_easy_setopt(easy, option, value);
  if (code == CURLE_OK) return true;
  KLOG(Fail) << "Failed to set " << name << ": " << curl_easy_strerror(code) << ".";
  return false;
}

}  // namespace net_internal

#endif  // KORVO_CORE_NET_ENGINE_STATE_H_
