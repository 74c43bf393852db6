#ifndef KORVO_CORE_TEXT_CLOUD_UTILS_H_
#define KORVO_CORE_TEXT_CLOUD_UTILS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "core/export.h"
#include "core/platform/wide_string.h"

class QString;

// Escaping, value formatting and small parsers. Stateless; any thread.
namespace utils {

// Appends |in| to |*out| with every byte but A-Z a-z 0-9 - . _ ~ (and "/"
// unless |encode_slash|) written as %XX, upper-case hex.
KORVO_EXPORT void PercentEncode(std::string_view in, std::string* out,
                                bool encode_slash);
KORVO_EXPORT std::string PercentEncoded(std::string_view in, bool encode_slash);
// Appends the decoded bytes. "%%" gives "%"; "+" gives a blank once a "?" has
// been seen. A broken escape is dropped and the input logged; what was
// decoded stands.
KORVO_EXPORT void PercentDecode(const std::string& in, std::string* out);
KORVO_EXPORT std::string PercentDecoded(const std::string& in);

// Valid UTF-8 as it is; anything else percent-encoded (slash included).
KORVO_EXPORT std::string SafePrintBinary(std::string_view in);

// The body of a JSON string literal, without the quotes.
KORVO_EXPORT std::string JSONEncodedString(const std::string& text,
                                           bool escape_non_ascii);

// Seconds since the Unix epoch of an ISO 8601 date-time (local time when it
// has no zone). Unparsable text logs a Fail line and gives the current time.
KORVO_EXPORT int64_t ParseISODateTime(const std::string& text);

// Sizes for people: "1.5 КБ", "1023 байт"; the suffixes are translated.
KORVO_EXPORT QString ConvertBytesToText(uint64_t bytes, int precision);
KORVO_EXPORT QString ConvertNumToText(uint64_t value, int precision);
// Both values in the unit of the larger one; only the second has the suffix.
KORVO_EXPORT std::pair<QString, QString> ConvertBytesToText(uint64_t first,
                                                            uint64_t second,
                                                            int precision);

// The first of "name (1).ext", "name (2).ext", ... for which |exists| is
// false. |exists| must be callable.
KORVO_EXPORT std::string ChooseUniqueNamePostfix(
    std::function<bool(const std::string&)> exists, const std::string& name);

}  // namespace utils

// RFC 4648 Base64 with padding.
KORVO_EXPORT std::string ConvertToBase64(const std::string& data);
// Returns |text|: nothing needs escaping on this platform.
KORVO_EXPORT WString EscapeSpaces(WString text);
// "1.10.2" gives 1102: the dots are removed and the rest read with atoi.
KORVO_EXPORT int VersionToInt(std::string version);
// The host of |url|: after "://" (if any) up to the next "/" or ":".
KORVO_EXPORT std::string ExtractHostnameFromURL(const std::string& url);

// The trimmed value of header |name| (case-insensitive) in a raw header block
// of one or more responses, or "". Lines without a colon (status lines, blank
// lines) are skipped. |first_only| picks the first occurrence, else the last.
KORVO_EXPORT std::string GetValueFromHTTPHeaders(const std::string& headers,
                                                 const std::string& name,
                                                 bool first_only);
// The decimal size of the whole resource: the total of Content-Range when
// present, else Content-Length. "" (and a Fatal line) for a broken range.
KORVO_EXPORT std::string GetTotalPayloadSizeFromHTTPHeaders(const std::string& headers);

// "report.txt" -> "report(1).txt" -> "report(2).txt"; the result is in NFC.
KORVO_EXPORT void IncrementFileIndex(std::string* name);

#endif  // KORVO_CORE_TEXT_CLOUD_UTILS_H_
