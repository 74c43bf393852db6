#ifndef KORVO_CORE_AUTH_S3_UTILS_H_
#define KORVO_CORE_AUTH_S3_UTILS_H_

#include <chrono>
#include <string>
#include <vector>

#include "core/export.h"

// AWS Signature Version 4, header method, as the S3 file system sends it.
// Pure apart from the clock and the log: any thread, no lock.
namespace s3_utils {

// The signing header lines of one request: "date", "host",
// "x-amz-content-sha256" and "x-amz-date" (name ":" value, no blank), then
// "authorization: AWS4-HMAC-SHA256 Credential=...". |path| is the URL's
// path as sent (already percent-encoded); |query| is without the "?".
// |headers| are the caller's own lines ("name: value", lower-case names):
// they are signed but not returned, since the caller sends them. The body is
// never hashed ("UNSIGNED-PAYLOAD"). Never fails: a line without ":" is
// logged and left out of the signature.
KORVO_EXPORT std::vector<std::string> GenerateHTTPHeaders(
    const std::string& host, const std::string& path, const std::string& query,
    const std::string& method, const std::string& region, const std::string& access_key,
    const std::string& secret_key, const std::vector<std::string>& headers);

// The same at the instant |now| instead of the system clock.
KORVO_EXPORT std::vector<std::string> GenerateHTTPHeaders(
    const std::string& host, const std::string& path, const std::string& query,
    const std::string& method, const std::string& region, const std::string& access_key,
    const std::string& secret_key, const std::vector<std::string>& headers,
    std::chrono::system_clock::time_point now);

// The pieces above, exposed for tests and the benchmark.
namespace internal {

// The canonical query string: pairs decoded, sorted by key then value in
// UTF-16 code unit order, encoded again (RFC 3986 unreserved kept, "+" as
// "%2B"), a bare key as "key=".
KORVO_EXPORT std::string CanonicalQuery(const std::string& query);
// A header value trimmed at both ends, inner runs of white space cut to their
// first character outside double-quoted stretches.
KORVO_EXPORT std::string CanonicalHeaderValue(const std::string& value);
// "ddd, dd MMM yyyy hh:mm:ss 'GMT+04:00'" (English names, UTC clock time)
// and "yyyyMMddThhmmssZ" of |now|.
KORVO_EXPORT std::string DateHeaderText(std::chrono::system_clock::time_point now);
KORVO_EXPORT std::string AmzDateText(std::chrono::system_clock::time_point now);

}  // namespace internal

}  // namespace s3_utils

#endif  // KORVO_CORE_AUTH_S3_UTILS_H_
