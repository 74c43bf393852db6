#include "core/net/proxy_config.h"

#include <curl/curl.h>

#include <algorithm>
#include <ctime>
#include <mutex>

#include "core/infra/logger.h"
#include "core/net/engine_state.h"
#include "core/net/log_masking.h"
#include "core/net/network_settings.h"
#include "core/net/url_processor_impl.h"
#include "core/platform/platform.h"

namespace {

struct ProxyState {
  std::mutex settings_guard;
  NetworkSettings settings;

  // The system configuration, read again every 30 seconds.
  std::mutex proxy_mutex;
  int64_t proxy_refreshed = 0;
  bool proxy_found = false;
  std::string proxy;
  std::string bypass;
};

ProxyState& Proxies() {
  static ProxyState* state = new ProxyState();
  return *state;
}

int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

// The caller holds the proxy mutex.
void RefreshSystemProxyLocked() {
  ProxyState& state = Proxies();
  const int64_t now = NowSeconds();
  if (state.proxy_found && now - state.proxy_refreshed < 30 && now >= state.proxy_refreshed) {
    return;
  }
  state.proxy_refreshed = now;
  std::string list, bypass;
  if (!Platform::Default()->GetSystemProxyConfig(&list, &bypass)) list.clear();
  net_internal::SystemProxy chosen = net_internal::ChooseSystemProxy(list, bypass);
  state.proxy_found = !chosen.proxy.empty();
  if (chosen.proxy != state.proxy && !chosen.proxy.empty()) {
    KLOG(Info) << "Using system proxy: " << log_masking::StripUserinfo(chosen.proxy);
  }
  state.proxy = std::move(chosen.proxy);
  state.bypass = std::move(chosen.bypass);
}

}  // namespace

namespace net_internal {

SystemProxy ChooseSystemProxy(const std::string& list, const std::string& bypass) {
  SystemProxy result;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of("; ", start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      result.proxy = entry;
      continue;
    }
    const std::string scheme = entry.substr(0, equals);
    if (scheme == "http" || scheme == "https") {
      result.proxy = entry.substr(equals + 1);
      break;
    }
  }
  result.bypass = bypass;
  std::replace(result.bypass.begin(), result.bypass.end(), ';', ',');
  for (size_t at; (at = result.bypass.find("<local>")) != std::string::npos;) {
    result.bypass.erase(at, 7);
  }
  return result;
}

bool ApplyNetworkSettings(void* handle) {
  CURL* easy = static_cast<CURL*>(handle);
  ProxyState& state = Proxies();
  std::lock_guard<std::mutex> lock(state.settings_guard);
  const NetworkSettings& settings = state.settings;
  switch (settings.mode) {
    case NetworkSettings::kSystemProxy: {
      std::lock_guard<std::mutex> proxy_lock(state.proxy_mutex);
      RefreshSystemProxyLocked();
      // Direct when the system names no proxy: libcurl is not left to read
      // the environment on its own.
      if (!net_internal::RequireOption(easy, CURLOPT_PROXY, state.proxy.c_str(), "system proxy")) return false;
      if (!state.bypass.empty() &&
          !net_internal::RequireOption(easy, CURLOPT_NOPROXY, state.bypass.c_str(), "system proxy exceptions list")) {
        return false;
      }
      return true;
    }
    case NetworkSettings::kManualProxy: {
      long type = CURLPROXY_HTTP;
      if (settings.type == NetworkSettings::kSocks4) type = CURLPROXY_SOCKS4;
      if (settings.type == NetworkSettings::kSocks5) type = CURLPROXY_SOCKS5_HOSTNAME;
      if (!net_internal::RequireOption(easy, CURLOPT_PROXYTYPE, type, "proxy type") ||
          !net_internal::RequireOption(easy, CURLOPT_PROXY, settings.host.c_str(), "proxy") ||
          !net_internal::RequireOption(easy, CURLOPT_PROXYPORT, static_cast<long>(settings.port), "proxy port") ||
          // The chosen proxy for every host, whatever NO_PROXY says.
          !net_internal::RequireOption(easy, CURLOPT_NOPROXY, "", "proxy exceptions list")) {
        return false;
      }
      if (settings.auth && settings.type != NetworkSettings::kSocks4) {
        const std::string credentials = settings.user + ":" + settings.password;
        if (!net_internal::RequireOption(easy, CURLOPT_PROXYUSERPWD, credentials.c_str(), "proxy credentials")) {
          return false;
        }
      }
      return true;
    }
    case NetworkSettings::kNoProxy:
    default:
      // No proxy at all: there is no exception list to keep out.
      return net_internal::RequireOption(easy, CURLOPT_PROXY, "", "no proxy");
  }
}

}  // namespace net_internal

void URLProcessorImpl::SetSettings(const NetworkSettings& settings) {
  std::lock_guard<std::mutex> lock(Proxies().settings_guard);
  Proxies().settings = settings;
}

NetworkSettings URLProcessorImpl::GetSettings() {
  std::lock_guard<std::mutex> lock(Proxies().settings_guard);
  return Proxies().settings;
}

void URLProcessorImpl::ResetSystemProxyCacheForTesting() {
  std::lock_guard<std::mutex> lock(Proxies().proxy_mutex);
  Proxies().proxy_found = false;
  Proxies().proxy.clear();
  Proxies().bypass.clear();
}
