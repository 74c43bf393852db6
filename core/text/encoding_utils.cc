#include "core/text/encoding_utils.h"

#include <QString>
#include <QStringRef>
#include <cstring>

#include "core/infra/logger.h"
#include "core/platform/utf_codec.h"
#include "core/text/cloud_utils.h"

namespace {

// Borrows the units of |text| without copying them.
QString WrapUnits(WStringView text) {
  return QString::fromRawData(reinterpret_cast<const QChar*>(text.data()),
                              static_cast<int>(text.size()));
}

WString UnitsOf(const QString& text) {
  return WString(reinterpret_cast<const char16_t*>(text.utf16()),
                 static_cast<size_t>(text.size()));
}

// No character below U+0300 composes with what precedes it or changes under
// NFC, so such text is normalized as it stands.
bool BelowCombiningMarks(WStringView text) {
  for (char16_t unit : text) {
    if (unit >= 0x300) return false;
  }
  return true;
}

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

namespace unicode {

WString Utf8ToUtf16(std::string_view text) {
  WString out;
  if (text.empty()) return out;
  size_t error_at = 0;
  if (!platform::Utf8ToUtf16(text, &out, &error_at)) {
    KLOG(Fatal) << "Cannot convert from UTF8 to UTF16. " << platform::kIllFormedText
                << " [error at " << error_at << "]. Source: " << text;
  }
  return out;
}

std::string Utf16ToUtf8(WStringView text) {
  std::string out;
  if (text.empty()) return out;
  size_t error_at = 0;
  if (!platform::Utf16ToUtf8(text, &out, &error_at)) {
    KLOG(Fatal) << "Cannot convert from UTF16 to UTF8. " << platform::kIllFormedText
                << " [error at " << error_at << "], Source: " << PrintInvalidUtf16(text);
  }
  return out;
}

std::string PrintInvalidUtf16(WStringView text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return utils::PercentEncoded(bytes, true);
}

bool NormalizeCIfNeeded(WStringView text, WString* out, bool* already) {
  out->clear();
  if (text.empty() || BelowCombiningMarks(text)) {
    if (already != nullptr) *already = true;
    return true;
  }
  const QString source = WrapUnits(text);
  const QString normalized = source.normalized(QString::NormalizationForm_C);
  if (normalized == source) {
    if (already != nullptr) *already = true;
    return true;
  }
  if (already != nullptr) *already = false;
  if (normalized.isEmpty()) {
    KLOG(Fatal) << "Failed to normalize string, error: 0; \"" << Utf16ToUtf8(text)
                << "\" (" << PrintInvalidUtf16(text) << ") [error at 0]";
    return false;
  }
  *out = UnitsOf(normalized);
  return true;
}

bool NormalizeCIfNeeded(std::string_view text, std::string* out, bool* already) {
  out->clear();
  if (platform::IsAscii(text)) {
    if (already != nullptr) *already = true;
    return true;
  }
  const WString wide = Utf8ToUtf16(text);
  WString normalized;
  bool is_normalized = false;
  if (!NormalizeCIfNeeded(wide, &normalized, &is_normalized)) return false;
  if (already != nullptr) *already = is_normalized;
  if (!is_normalized) *out = Utf16ToUtf8(normalized);
  return true;
}

bool NormalizeC(WStringView text, WString* out) {
  bool already = false;
  if (!NormalizeCIfNeeded(text, out, &already)) return false;
  if (already) out->assign(text);
  return true;
}

bool NormalizeC(std::string_view text, std::string* out) {
  bool already = false;
  if (!NormalizeCIfNeeded(text, out, &already)) return false;
  if (already) out->assign(text);
  return true;
}

bool NormalizeC(std::string* text) {
  if (text->empty()) return true;
  std::string normalized;
  bool already = false;
  if (!NormalizeCIfNeeded(*text, &normalized, &already)) return false;
  if (!already && !normalized.empty()) text->swap(normalized);
  return true;
}

bool NormalizeD(std::string* text) { return text->empty(); }

}  // namespace unicode

namespace utils {

int Utf8StrSymbolLength(std::string_view text) {
  size_t units = 0;
  if (!platform::Utf16LengthOfUtf8(text, &units)) return 0;
  return static_cast<int>(units);
}

bool IsEqualsCaseInsensitive(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace utils

std::string QStrToStr(const QString& text) {
  return QStrToStrFast(text.normalized(QString::NormalizationForm_C));
}

std::string QStrToStrFast(const QString& text) {
  return unicode::Utf16ToUtf8(
      WStringView(reinterpret_cast<const char16_t*>(text.utf16()),
                  static_cast<size_t>(text.size())));
}

std::string QStrToStrFast(QStringRef text) {
  return unicode::Utf16ToUtf8(
      WStringView(reinterpret_cast<const char16_t*>(text.unicode()),
                  static_cast<size_t>(text.size())));
}

WString QStrToWStr(const QString& text) { return UnitsOf(text); }

QString StrToQStr(std::string_view text) {
  const WString wide = unicode::Utf8ToUtf16(text);
  return QString::fromUtf16(wide.data(), static_cast<int>(wide.size()));
}

QString StrToQStr(const std::string& text) { return StrToQStr(std::string_view(text)); }

QString StrToQStr(const char* text) { return StrToQStr(std::string_view(text)); }

QString StrToQStr(const WString& text) {
  return QString::fromUtf16(text.data(), static_cast<int>(text.size()));
}

bool LowercaseIfNeeded(std::string_view text, std::string* out, bool* already) {
  out->clear();
  if (platform::IsAscii(text)) {
    size_t first_upper = 0;
    while (first_upper < text.size() &&
           !(text[first_upper] >= 'A' && text[first_upper] <= 'Z')) {
      ++first_upper;
    }
    if (first_upper == text.size()) {
      if (already != nullptr) *already = true;
      return true;
    }
    out->assign(text);
    for (size_t i = first_upper; i < out->size(); ++i) (*out)[i] = AsciiLower((*out)[i]);
    if (already != nullptr) *already = false;
    return true;
  }
  const WString wide = unicode::Utf8ToUtf16(text);
  WString normalized;
  bool is_normalized = true;
  unicode::NormalizeCIfNeeded(wide, &normalized, &is_normalized);
  const WString& nfc = is_normalized ? wide : normalized;
  const QString lower = WrapUnits(nfc).toLower();
  if (WStringView(reinterpret_cast<const char16_t*>(lower.utf16()),
                  static_cast<size_t>(lower.size())) == nfc) {
    if (already != nullptr) *already = true;
    return true;
  }
  *out = QStrToStrFast(lower);
  if (already != nullptr) *already = false;
  return true;
}

bool ToLower(std::string_view text, std::string* out) {
  bool already = false;
  LowercaseIfNeeded(text, out, &already);
  if (already) out->assign(text);
  return true;
}

std::string ToLower(const std::string& text) {
  std::string out;
  ToLower(text, &out);
  return out;
}

bool IEqualsASCII(std::string_view text, const char* literal) {
  const size_t size = std::strlen(literal);
  if (text.size() != size) return false;
  for (size_t i = 0; i < size; ++i) {
    if (AsciiLower(text[i]) != AsciiLower(literal[i])) return false;
  }
  return true;
}

bool IBeginsWithASCII(std::string_view text, const char* literal) {
  const size_t size = std::strlen(literal);
  return size <= text.size() && IEqualsASCII(text.substr(0, size), literal);
}

bool IEndsWithASCII(std::string_view text, const char* literal) {
  const size_t size = std::strlen(literal);
  return size <= text.size() && IEqualsASCII(text.substr(text.size() - size), literal);
}
