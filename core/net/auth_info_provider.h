#ifndef KORVO_CORE_NET_AUTH_INFO_PROVIDER_H_
#define KORVO_CORE_NET_AUTH_INFO_PROVIDER_H_

#include <string>
#include <vector>

#include "core/export.h"

// What the request engine asks of an account's credential for each request
// that uses authentication.
class KORVO_EXPORT AuthInfoProvider {
 public:
  // One complete header line ("Authorization: Bearer ..."), or empty.
  virtual std::string HttpHeader() const = 0;
  // Header lines for credentials that sign whole requests; |url| is the full
  // request URL and |headers| the lines already set.
  virtual std::vector<std::string> HttpHeaders(const std::string& url, const std::string& method,
                                               const std::vector<std::string>& headers) {
    return {};
  }
  // Query parameters to append to the request URL.
  virtual std::string UrlParams(const std::string& client_id) const = 0;
  // A user agent to use instead of the processor's; empty keeps it.
  virtual std::string ReplaceUserAgent() const { return std::string(); }

 protected:
  ~AuthInfoProvider() = default;
};

#endif  // KORVO_CORE_NET_AUTH_INFO_PROVIDER_H_
