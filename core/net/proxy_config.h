#ifndef KORVO_CORE_NET_PROXY_CONFIG_H_
#define KORVO_CORE_NET_PROXY_CONFIG_H_

// How the proxy choice reaches each exchange. core/net only.

#include <string>

namespace net_internal {

// The proxy of the system's configuration, chosen from its list
// ("[scheme=]host:port" entries separated by ';' or blanks: an http or https
// entry wins, else the last entry without a scheme), and its bypass list in
// libcurl's form (commas, "<local>" dropped).
struct SystemProxy {
  std::string proxy;
  std::string bypass;
};
SystemProxy ChooseSystemProxy(const std::string& list, const std::string& bypass);

// Applies the process-wide NetworkSettings to an easy handle. Only the
// system mode lets the environment take part; the other modes give libcurl
// a proxy and a no-proxy list of their own. False (logged) when an option
// cannot be set: the exchange must not go on with another route.
bool ApplyNetworkSettings(void* easy);

}  // namespace net_internal

#endif  // KORVO_CORE_NET_PROXY_CONFIG_H_
