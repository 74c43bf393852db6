#ifndef KORVO_CORE_NET_LOG_MASKING_H_
#define KORVO_CORE_NET_LOG_MASKING_H_

// What the request engine and its callers write into log lines (and hence
// into metrics) in place of secrets and personal data. Pure text functions.

#include <cstddef>
#include <string>
#include <string_view>

namespace log_masking {

constexpr char kMasked[] = "<masked>";
// The most of a response body that goes into one log line.
constexpr size_t kLoggedBodyLimit = 4096;

// Drops the "user:password@" of every URL in |text| ("scheme://user@host"
// and a bare "user:password@host:port" proxy alike).
std::string StripUserinfo(std::string_view text);

// Whether a query parameter of this name carries a secret or personal data:
// e, iid, password, secret, X-Amz-Signature, X-Amz-Credential, and any name
// holding "token". Case-insensitive.
bool IsSecretParameter(std::string_view name);

// Whether |text| holds "token" in any case.
bool HoldsToken(std::string_view text);

// Every URL in |text| without userinfo and with the values of secret query
// parameters replaced by kMasked.
std::string MaskUrls(std::string_view text);

// Header lines whose values are secrets (Authorization, Proxy-Authorization,
// Cookie, Set-Cookie, X-Amz-Security-Token) with the value masked; the
// request line's query goes through MaskUrls.
std::string MaskSecretHeaders(std::string_view text);

// |text| when it is at most |limit| bytes; else its first |limit| bytes and
// "... (<size> bytes)".
std::string CapForLog(std::string_view text, size_t limit = kLoggedBodyLimit);

}  // namespace log_masking

#endif  // KORVO_CORE_NET_LOG_MASKING_H_
