#include "core/platform/utf_codec.h"

#include <cstdint>
#include <cstring>

namespace platform {

const char kIllFormedText[] =
    "No mapping for the Unicode character exists in the target code page.";

namespace {

// Decodes one scalar value starting at |in[*pos]| (which must not be ASCII
// for the fast path to matter). Returns false on an ill-formed sequence.
inline bool DecodeOne(std::string_view in, size_t* pos, char32_t* value) {
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  size_t i = *pos;
  const unsigned char b0 = s[i];
  if (b0 < 0x80) {
    *value = b0;
    *pos = i + 1;
    return true;
  }
  int extra;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return false;  // Continuation byte, C0/C1 (always overlong) or F5..FF.
  }
  if (n - i - 1 < static_cast<size_t>(extra)) return false;
  for (int k = 1; k <= extra; ++k) {
    const unsigned char b = s[i + k];
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  *value = cp;
  *pos = i + 1 + extra;
  return true;
}

}  // namespace

bool IsAscii(std::string_view in) {
  const char* p = in.data();
  size_t n = in.size();
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ULL) return false;
    p += 8;
    n -= 8;
  }
  for (; n > 0; --n, ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  }
  return true;
}

bool Utf16LengthOfUtf8(std::string_view in, size_t* units) {
  *units = 0;
  size_t count = 0;
  size_t pos = 0;
  while (pos < in.size()) {
    if (static_cast<unsigned char>(in[pos]) < 0x80) {
      ++pos;
      ++count;
      continue;
    }
    char32_t cp;
    if (!DecodeOne(in, &pos, &cp)) return false;
    count += cp > 0xFFFF ? 2 : 1;
  }
  *units = count;
  return true;
}

bool Utf8ToUtf16(std::string_view in, WString* out, size_t* error_at) {
  out->clear();
  out->reserve(in.size());
  size_t pos = 0;
  while (pos < in.size()) {
    const unsigned char b = static_cast<unsigned char>(in[pos]);
    if (b < 0x80) {
      out->push_back(static_cast<char16_t>(b));
      ++pos;
      continue;
    }
    const size_t start = pos;
    char32_t cp;
    if (!DecodeOne(in, &pos, &cp)) {
      out->clear();
      *error_at = start;
      return false;
    }
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
  }
  return true;
}

bool Utf16ToUtf8(WStringView in, std::string* out, size_t* error_at) {
  out->clear();
  out->reserve(in.size() + in.size() / 2);
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp < 0x80) {
      out->push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) {
        out->clear();
        *error_at = i;
        return false;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      out->clear();
      *error_at = i;
      return false;
    }
    if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return true;
}

}  // namespace platform
