#include "core/net/engine_state.h"

#include <mutex>

#include "core/infra/logger.h"
#include "core/net/trust_store.h"
#include "core/net/url_processor.h"

namespace net_internal {

EngineState& Engine() {
  static EngineState* state = new EngineState();
  return *state;
}

}  // namespace net_internal

namespace {

using net_internal::Engine;

std::mutex* ShareLock(curl_lock_data data) {
  switch (data) {
    case CURL_LOCK_DATA_SHARE: return &Engine().share_locks[0];
    case CURL_LOCK_DATA_DNS: return &Engine().share_locks[1];
    case CURL_LOCK_DATA_SSL_SESSION: return &Engine().share_locks[2];
    case CURL_LOCK_DATA_CONNECT: return &Engine().share_locks[3];
    case CURL_LOCK_DATA_PSL: return &Engine().share_locks[4];
    default:
      KLOG(Fatal) << "Unknown lock data requested: " << static_cast<int>(data);
      return nullptr;
  }
}

// Shared and single access alike take the kind's lock exclusively: the
// unlock callback is not told which access it ends.
void ShareLockFunction(CURL*, curl_lock_data data, curl_lock_access, void*) {
  if (std::mutex* lock = ShareLock(data)) lock->lock();
}

void ShareUnlockFunction(CURL*, curl_lock_data data, void*) {
  if (std::mutex* lock = ShareLock(data)) lock->unlock();
}

std::once_flag g_open_once;

bool OpenOnce() {
  const CURLcode code = curl_global_init(CURL_GLOBAL_ALL);
  if (code != CURLE_OK) {
    KLOG(Fatal) << "curl_global_init failed: " << curl_easy_strerror(code);
    return false;
  }
  net_internal::EngineState& engine = Engine();
  CURLSH* share = curl_share_init();
  if (share == nullptr) {
    KLOG(Fatal) << "CURLShare init failed.";
    return false;
  }
  CURLSHcode set = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &ShareLockFunction);
  if (set == CURLSHE_OK) set = curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &ShareUnlockFunction);
  if (set != CURLSHE_OK) {
    KLOG(Fatal) << "Failed curl_share_setopt: " << static_cast<int>(set);
    curl_share_cleanup(share);
    return false;
  }
  for (curl_lock_data data : {CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS,
                              CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_PSL}) {
    const CURLSHcode shared = curl_share_setopt(share, CURLSHOPT_SHARE, data);
    // A kind the engine cannot share is simply not shared.
    if (shared != CURLSHE_OK && !(data == CURL_LOCK_DATA_PSL && shared == CURLSHE_NOT_BUILT_IN)) {
      KLOG(Fatal) << "Failed curl_share_setopt: " << static_cast<int>(shared);
    }
  }
  engine.share = share;
  return true;
}

}  // namespace

std::atomic<bool> URLProcessor::s_init{false};

void URLProcessor::LockingFunction(int, int, const char*, int) {}

bool URLProcessor::GlobalOpen() {
  // Once per process: after GlobalClose the engine stays closed.
  std::call_once(g_open_once, [] { s_init.store(OpenOnce()); });
  return s_init.load();
}

void URLProcessor::GlobalClose() {
  if (!s_init.exchange(false)) return;
  net_internal::EngineState& engine = Engine();
  if (engine.share != nullptr) {
    curl_share_cleanup(engine.share);
    engine.share = nullptr;
  }
  net_internal::FreeTrustStore();
  curl_global_cleanup();
}
