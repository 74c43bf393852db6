#ifndef KORVO_CORE_PLATFORM_UTF_CODEC_H_
#define KORVO_CORE_PLATFORM_UTF_CODEC_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "core/platform/wide_string.h"

// Strict conversions between UTF-8 and UTF-16: the code-page services the
// text helpers are built on. Nothing is replaced: overlong forms, surrogates
// encoded in UTF-8, values above U+10FFFF, truncated sequences, stray
// continuation bytes and unpaired UTF-16 surrogates all fail.
namespace platform {

// On success replaces |*out| with the converted text and returns true. On
// failure returns false, leaves |*out| empty and stores in |*error_at| the
// offset (bytes, resp. units) of the first ill-formed sequence.
bool Utf8ToUtf16(std::string_view in, WString* out, size_t* error_at);
bool Utf16ToUtf8(WStringView in, std::string* out, size_t* error_at);

// The number of UTF-16 units |in| converts to; false if it is not
// well-formed UTF-8 (|*units| is then 0).
bool Utf16LengthOfUtf8(std::string_view in, size_t* units);

// True when every byte is below 0x80.
bool IsAscii(std::string_view in);

// The text an error code of these conversions stands for.
extern const char kIllFormedText[];

}  // namespace platform

#endif  // KORVO_CORE_PLATFORM_UTF_CODEC_H_
