#ifndef KORVO_CORE_TEXT_ENCODING_UTILS_H_
#define KORVO_CORE_TEXT_ENCODING_UTILS_H_

#include <string>
#include <string_view>

#include "core/export.h"
#include "core/platform/wide_string.h"

class QString;
class QStringRef;

// UTF-8 / UTF-16 conversion, NFC normalization and case folding. All of it is
// stateless and may be called from any thread. A conversion failure is logged
// once and answered with an empty result; nothing throws.
namespace unicode {

// Strict conversions; ill-formed input logs a Fatal line and gives "".
KORVO_EXPORT WString Utf8ToUtf16(std::string_view text);
KORVO_EXPORT std::string Utf16ToUtf8(WStringView text);

// The units' bytes (little-endian) percent-encoded, slash included: a safe way
// to print broken text in a log line.
KORVO_EXPORT std::string PrintInvalidUtf16(WStringView text);

// Clears |*out|. When |text| is already in NFC sets |*already| (may be null)
// and leaves |*out| empty; otherwise stores the NFC form. False on failure.
KORVO_EXPORT bool NormalizeCIfNeeded(WStringView text, WString* out, bool* already);
KORVO_EXPORT bool NormalizeCIfNeeded(std::string_view text, std::string* out,
                                     bool* already);
// |*out| always receives the NFC text.
KORVO_EXPORT bool NormalizeC(WStringView text, WString* out);
KORVO_EXPORT bool NormalizeC(std::string_view text, std::string* out);
// In place; the text is replaced only by a successful, non-empty result.
KORVO_EXPORT bool NormalizeC(std::string* text);
// Decomposition is not offered: true for "", false (unchanged) otherwise.
KORVO_EXPORT bool NormalizeD(std::string* text);

}  // namespace unicode

namespace utils {

// UTF-16 units |text| converts to; 0 when empty or not well-formed UTF-8.
KORVO_EXPORT int Utf8StrSymbolLength(std::string_view text);

// Same length and bytes equal after upper-casing ASCII letters.
KORVO_EXPORT bool IsEqualsCaseInsensitive(const std::string& a, const std::string& b);

}  // namespace utils

// NFC, then UTF-8.
KORVO_EXPORT std::string QStrToStr(const QString& text);
// Units to UTF-8 without normalization.
KORVO_EXPORT std::string QStrToStrFast(const QString& text);
KORVO_EXPORT std::string QStrToStrFast(QStringRef text);
KORVO_EXPORT WString QStrToWStr(const QString& text);
KORVO_EXPORT QString StrToQStr(const std::string& text);
KORVO_EXPORT QString StrToQStr(std::string_view text);
KORVO_EXPORT QString StrToQStr(const char* text);
KORVO_EXPORT QString StrToQStr(const WString& text);

// The lowercase key of a name. Empty text, and text whose full Unicode
// lower-case form equals its NFC form, set |*already| and leave |*out| empty;
// otherwise |*out| receives the lower-cased NFC text. Always returns true.
// ASCII text takes a fast path without conversions.
KORVO_EXPORT bool LowercaseIfNeeded(std::string_view text, std::string* out,
                                    bool* already);
// The lowercase form; the input itself (not normalized) when
// LowercaseIfNeeded reports no change.
KORVO_EXPORT bool ToLower(std::string_view text, std::string* out);
KORVO_EXPORT std::string ToLower(const std::string& text);

// ASCII-only case-insensitive comparisons against a zero-terminated literal;
// bytes outside A..Z must match exactly.
KORVO_EXPORT bool IEqualsASCII(std::string_view text, const char* literal);
KORVO_EXPORT bool IBeginsWithASCII(std::string_view text, const char* literal);
KORVO_EXPORT bool IEndsWithASCII(std::string_view text, const char* literal);

#endif  // KORVO_CORE_TEXT_ENCODING_UTILS_H_
