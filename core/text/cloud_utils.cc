#include "core/text/cloud_utils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>
#include <QString>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "core/infra/logger.h"
#include "core/platform/utf_codec.h"
#include "core/text/encoding_utils.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

struct SizeUnit {
  uint64_t factor;
  QString suffix;
};
using SizeTable = std::vector<SizeUnit>;

QString Translate(const char* text) {
  return QCoreApplication::translate("utils", text);
}

const SizeTable& ByteTable() {
  static const SizeTable table = {
      {1ULL, Translate(" байт")},
      {1ULL << 10, Translate(" КБ")},
      {1ULL << 20, Translate(" МБ")},
      {1ULL << 30, Translate(" ГБ")},
      {1ULL << 40, Translate(" ТБ")},
  };
  return table;
}

const SizeTable& NumberTable() {
  static const SizeTable table = {
      {1ULL, QString()},
      {1ULL << 10, Translate(" К")},
      {1ULL << 20, Translate(" М")},
      {1ULL << 30, Translate(" Г")},
      {1ULL << 40, Translate(" Т")},
  };
  return table;
}

size_t ChooseUnit(const SizeTable& table, uint64_t a, uint64_t b) {
  size_t unit = 0;
  while (unit + 1 < table.size() &&
         (a >= table[unit + 1].factor || b >= table[unit + 1].factor)) {
    ++unit;
  }
  return unit;
}

QString FormatInUnit(uint64_t value, int precision, uint64_t factor) {
  uint64_t scale = 1;
  for (int i = 0; i < precision; ++i) scale *= 10;
  // 128 bits: value * scale * 10 overflows 64 bits for sizes of petabytes.
  const unsigned __int128 scaled =
      static_cast<unsigned __int128>(value) * scale * 10 / factor;
  const double v = std::round(static_cast<double>(scaled) / 10.0) /
                   static_cast<double>(scale);
  return QString::number(v, 'g', 6);
}

QString SizeToText(const SizeTable& table, uint64_t value, int precision) {
  if (table.empty()) {
    KLOG(Fatal) << "Error formatting bytes to text.";
    return QStringLiteral("<err>");
  }
  const SizeUnit& unit = table[ChooseUnit(table, value, value)];
  return FormatInUnit(value, precision, unit.factor) + unit.suffix;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

namespace utils {

void PercentEncode(std::string_view in, std::string* out, bool encode_slash) {
  out->reserve(out->size() + 1 + in.size() * 3 / 2);
  for (const char c : in) {
    const unsigned char b = static_cast<unsigned char>(c);
    const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
                       (b >= '0' && b <= '9') || b == '-' || b == '.' || b == '_' ||
                       b == '~' || (b == '/' && !encode_slash);
    if (plain) {
      out->push_back(c);
    } else {
      const char escape[3] = {'%', kHexDigits[b >> 4], kHexDigits[b & 0xF]};
      out->append(escape, 3);
    }
  }
}

std::string PercentEncoded(std::string_view in, bool encode_slash) {
  std::string out;
  PercentEncode(in, &out, encode_slash);
  return out;
}

void PercentDecode(const std::string& in, std::string* out) {
  out->reserve(out->size() + in.size());
  bool in_escape = false;
  bool have_digit = false;
  int high = 0;
  bool seen_question = false;
  bool error = false;
  for (const char c : in) {
    if (!in_escape) {
      if (c == '%') {
        in_escape = true;
        have_digit = false;
      } else if (c == '+') {
        out->push_back(seen_question ? ' ' : '+');
      } else {
        if (c == '?') seen_question = true;
        out->push_back(c);
      }
      continue;
    }
    if (c == '%' && !have_digit) {
      out->push_back('%');
      in_escape = false;
    } else if (IsHexDigit(c)) {
      if (!have_digit) {
        high = HexValue(c);
        have_digit = true;
      } else {
        out->push_back(static_cast<char>((high << 4) | HexValue(c)));
        in_escape = false;
      }
    } else {
      error = true;
      in_escape = false;
    }
  }
  if (in_escape || error) KLOG(Fail) << "Invalid percent-encoded string: " << in;
}

std::string PercentDecoded(const std::string& in) {
  std::string out;
  PercentDecode(in, &out);
  return out;
}

std::string SafePrintBinary(std::string_view in) {
  size_t units = 0;
  if (in.empty() || platform::Utf16LengthOfUtf8(in, &units)) return std::string(in);
  return PercentEncoded(in, true);
}

std::string JSONEncodedString(const std::string& text, bool escape_non_ascii) {
  std::string out;
  out.reserve(text.size() * 3 / 2);
  auto escape_common = [&out](unsigned int unit) {
    switch (unit) {
      case '"': out.append("\\\""); return true;
      case '\\': out.append("\\\\"); return true;
      case '\t': out.append("\\t"); return true;
      case '\r': out.append("\\r"); return true;
      case '\n': out.append("\\n"); return true;
    }
    return false;
  };
  if (!escape_non_ascii) {
    // Bytes other than the five escapes pass as they are, so UTF-8 text stays
    // UTF-8.
    for (const char c : text) {
      if (!escape_common(static_cast<unsigned char>(c))) out.push_back(c);
    }
    return out;
  }
  for (const char16_t unit : unicode::Utf8ToUtf16(text)) {
    if (escape_common(unit)) continue;
    if (unit < 0x20 || unit >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned int>(unit));
      out.append(escape, 6);
    } else {
      out.push_back(static_cast<char>(unit));
    }
  }
  return out;
}

int64_t ParseISODateTime(const std::string& text) {
  const QDateTime time = QDateTime::fromString(QString::fromStdString(text), Qt::ISODate);
  if (!time.isValid()) {
    KLOG(Fail) << "Failed to parse time string: \"" << text << "\".";
    return QDateTime::currentSecsSinceEpoch();
  }
  return time.toSecsSinceEpoch();
}

QString ConvertBytesToText(uint64_t bytes, int precision) {
  return SizeToText(ByteTable(), bytes, precision);
}

QString ConvertNumToText(uint64_t value, int precision) {
  return SizeToText(NumberTable(), value, precision);
}

std::pair<QString, QString> ConvertBytesToText(uint64_t first, uint64_t second,
                                               int precision) {
  const SizeTable& table = ByteTable();
  if (table.empty()) {
    KLOG(Fatal) << "Error formatting bytes to text.";
    return {QStringLiteral("<err>"), QStringLiteral("<err>")};
  }
  const SizeUnit& unit = table[ChooseUnit(table, first, second)];
  return {FormatInUnit(first, precision, unit.factor),
          FormatInUnit(second, precision, unit.factor) + unit.suffix};
}

std::string ChooseUniqueNamePostfix(std::function<bool(const std::string&)> exists,
                                    const std::string& name) {
  const size_t dot = name.rfind('.');
  for (uint64_t n = 1;; ++n) {
    const std::string postfix = " (" + std::to_string(n) + ")";
    const std::string candidate =
        dot == std::string::npos
            ? name + postfix
            : name.substr(0, dot) + postfix + name.substr(dot);
    if (!exists || !exists(candidate)) return candidate;
  }
}

}  // namespace utils

std::string ConvertToBase64(const std::string& data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  const size_t rest = data.size() - i;
  if (rest > 0) {
    const uint32_t v = (p[i] << 16) | (rest == 2 ? p[i + 1] << 8 : 0);
    out.push_back(kAlphabet[v >> 18]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

WString EscapeSpaces(WString text) { return text; }

int VersionToInt(std::string version) {
  std::erase(version, '.');
  return std::atoi(version.c_str());
}

std::string ExtractHostnameFromURL(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
  const size_t end = url.find_first_of("/:", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string GetValueFromHTTPHeaders(const std::string& headers, const std::string& name,
                                    bool first_only) {
  std::string_view value;
  bool found = false;
  size_t pos = 0;
  while (pos < headers.size()) {
    const size_t eol = headers.find('\n', pos);
    const size_t line_end = eol == std::string::npos ? headers.size() : eol;
    const size_t colon = headers.find(':', pos);
    if (colon < line_end &&
        utils::IsEqualsCaseInsensitive(headers.substr(pos, colon - pos), name)) {
      value = std::string_view(headers).substr(colon + 1, line_end - colon - 1);
      found = true;
      if (first_only) break;
    }
    if (eol == std::string::npos) break;
    pos = eol + 1;
  }
  if (!found) return std::string();
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
  return std::string(value);
}

std::string GetTotalPayloadSizeFromHTTPHeaders(const std::string& headers) {
  const std::string range = GetValueFromHTTPHeaders(headers, "Content-Range", false);
  if (range.empty()) return GetValueFromHTTPHeaders(headers, "Content-Length", false);
  const size_t slash = range.rfind('/');
  if (slash == std::string::npos) {
    KLOG(Fatal) << "Failed to parse content range: " << range;
    return std::string();
  }
  const std::string total = range.substr(slash + 1);
  const bool decimal = !total.empty() && total.size() <= 20 &&
                       total.find_first_not_of("0123456789") == std::string::npos;
  if (!decimal) {
    KLOG(Fatal) << "Failed to parse content range total bytes str: " << total;
    return std::string();
  }
  return total;
}

void IncrementFileIndex(std::string* name) {
  QString text = StrToQStr(*name);
  static const QRegularExpression kIndex(QStringLiteral("\\((\\d+)\\)"));
  const QRegularExpressionMatch match = kIndex.match(text);
  if (match.hasMatch()) {
    const QString digits = match.captured(1);
    const qulonglong n = digits.toULongLong();
    const QString from = QLatin1Char('(') + digits + QLatin1Char(')');
    const QString to = QLatin1Char('(') + QString::number(n + 1) + QLatin1Char(')');
    text.replace(text.lastIndexOf(from), from.size(), to);
  } else {
    const int dot = text.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) {
      text.append(QStringLiteral("(1)"));
    } else {
      text.insert(dot, QStringLiteral("(1)"));
    }
  }
  *name = QStrToStr(text);
}
