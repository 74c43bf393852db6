#ifndef KORVO_CORE_NET_DISPATCHER_URL_H_
#define KORVO_CORE_NET_DISPATCHER_URL_H_

#include <cstdint>
#include <string>

#include "core/export.h"

// A request address, optionally with an IP address that overrides DNS for
// its host ("pinned" resolution).
class KORVO_EXPORT DispatcherUrl {
 public:
  static constexpr int kPortInvalid = -1;
  static constexpr int kPortHttp = 80;
  static constexpr int kPortHttps = 443;
  static constexpr char scheme_http[] = "http";
  static constexpr char scheme_https[] = "https";

  enum ValueEncodingMode : int32_t {
    kAsIs = 0,
    kEncodeWithSlash = 1,   // percent-encoded, "/" too
    kEncodeKeepSlash = 2,   // percent-encoded, "/" kept
  };

  DispatcherUrl() = default;
  // Pins |url|'s host to |ip|. An empty IP or a URL without host or with a
  // scheme other than http/https is logged and leaves the resolver invalid.
  DispatcherUrl(const std::string& url, const std::string& ip);
  // A URL alone, resolved by DNS.
  static DispatcherUrl FromString(const std::string& url);

  const std::string& Url() const { return url_; }
  const std::string& IP() const { return ip_; }
  int Port() const { return port_; }
  bool IsEmpty() const { return url_.empty(); }
  bool IsResolverValid() const { return resolver_valid_; }
  void Clear();
  // "host:port:ip", the engine's entry that pins the host.
  std::string Resolver() const;

  void Append(const std::string& text, ValueEncodingMode mode);
  // "?name=value" or "&name=value".
  void AppendParam(const char* name, const std::string& value, ValueEncodingMode mode);

 private:
  explicit DispatcherUrl(const std::string& url) : url_(url) {}

  std::string ip_;
  int port_ = kPortInvalid;
  bool resolver_valid_ = false;
  std::string url_;
  // Whether |url_| is known to have a query part: 0 unknown, 1 no, 2 yes.
  mutable uint8_t query_state_ = 0;
};

namespace url_utils {

// An application/x-www-form-urlencoded body.
class KORVO_EXPORT PostParamsSet {
 public:
  void Add(const char* name, const char* value);
  // With |encode| the value is percent-encoded, "/" too.
  void Add(const char* name, const std::string& value, bool encode);
  const std::string& GetString() const { return body_; }

 private:
  std::string body_;
};

}  // namespace url_utils

#endif  // KORVO_CORE_NET_DISPATCHER_URL_H_
