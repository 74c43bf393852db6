#include "core/auth/s3_utils.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <utility>

#include "core/hash/digest.h"
#include "core/infra/logger.h"

namespace s3_utils {

namespace {

constexpr char kPayloadHash[] = "UNSIGNED-PAYLOAD";
constexpr char kAlgorithm[] = "AWS4-HMAC-SHA256";
constexpr char kService[] = "s3";
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr size_t kShaSize = 32;
constexpr size_t kShaBlock = 64;

struct UtcTime {
  int64_t year;
  int month;  // 1..12
  int day;    // 1..31
  int weekday;  // 0 = Sunday
  int hour;
  int minute;
  int second;
};

// Civil date of a day count since 1970-01-01 (H. Hinnant's algorithm), so the
// formats need neither the C library's time zone state nor a locale.
UtcTime ToUtc(std::chrono::system_clock::time_point now) {
  const int64_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  int64_t days = seconds / 86400;
  int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  UtcTime t;
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest % 3600 / 60);
  t.second = static_cast<int>(rest % 60);
  t.weekday = static_cast<int>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = yoe + era * 400 + (t.month <= 2 ? 1 : 0);
  return t;
}

void AppendNumber(std::string* out, int64_t value, int width) {
  char digits[24];
  int n = 0;
  const bool negative = value < 0;
  uint64_t v = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (negative) out->push_back('-');
  for (int i = n; i < width; ++i) out->push_back('0');
  while (n > 0) out->push_back(digits[--n]);
}

void AppendYmd(std::string* out, const UtcTime& t) {
  AppendNumber(out, t.year, 4);
  AppendNumber(out, t.month, 2);
  AppendNumber(out, t.day, 2);
}

void AppendHex(std::string* out, const uint8_t* bytes, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    out->push_back(kHexDigits[bytes[i] >> 4]);
    out->push_back(kHexDigits[bytes[i] & 15]);
  }
}

// HMAC-SHA256 (RFC 2104) over one reusable digest.
class Hmac {
 public:
  Hmac() : digest_(hash_internal::DigestKind::kSha256) {}

  void Sign(std::string_view key, std::string_view message, uint8_t* out) {
    uint8_t block[kShaBlock] = {};
    if (key.size() > kShaBlock) {
      Hash(key, block);
    } else {
      std::memcpy(block, key.data(), key.size());
    }
    uint8_t pad[kShaBlock];
    for (size_t i = 0; i < kShaBlock; ++i) pad[i] = block[i] ^ 0x36;
    uint8_t inner[kShaSize];
    digest_.Init();
    digest_.Update(pad, kShaBlock);
    digest_.Update(reinterpret_cast<const uint8_t*>(message.data()), message.size());
    digest_.Final(inner);
    for (size_t i = 0; i < kShaBlock; ++i) pad[i] = block[i] ^ 0x5c;
    digest_.Update(pad, kShaBlock);
    digest_.Update(inner, kShaSize);
    digest_.Final(out);
  }

  void Hash(std::string_view data, uint8_t* out) {
    digest_.Init();
    digest_.Update(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    digest_.Final(out);
  }

 private:
  hash_internal::Digest digest_;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Every %XX decoded; a "%" without two hex digits after it stays as it is.
// "+" is a plus sign here, not a blank.
std::string Decode(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size()) {
      const int high = HexValue(in[i + 1]);
      const int low = HexValue(in[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(in[i]);
  }
  return out;
}

void Encode(std::string_view in, std::string* out) {
  static constexpr char kUpperHex[] = "0123456789ABCDEF";
  for (const char c : in) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
        u == '-' || u == '.' || u == '_' || u == '~') {
      out->push_back(c);
    } else {
      out->push_back('%');
      out->push_back(kUpperHex[u >> 4]);
      out->push_back(kUpperHex[u & 15]);
    }
  }
}

// The code point that starts at |s[at]|, or the byte itself (as a value the
// sort keeps apart) when the bytes there are not UTF-8.
uint32_t CodePointAt(std::string_view s, size_t at, bool* valid) {
  const unsigned char lead = static_cast<unsigned char>(s[at]);
  *valid = true;
  size_t length = 0;
  uint32_t cp = 0;
  if (lead < 0x80) return lead;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
  } else {
    *valid = false;
    return lead;
  }
  if (at + length > s.size()) {
    *valid = false;
    return lead;
  }
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(s[at + i]);
    if ((next & 0xC0) != 0x80) {
      *valid = false;
      return lead;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  return cp;
}

// Where a code point sorts among UTF-16 code units: supplementary characters
// (surrogate pairs, D800..DBFF first) come before U+E000..U+FFFF.
uint32_t Utf16Rank(uint32_t cp) {
  if (cp < 0xD800) return cp;
  if (cp >= 0x10000) return 0xD800 + (cp - 0x10000);
  if (cp >= 0xE000) return cp + 0x200000;
  return cp;  // a lone surrogate, not valid UTF-8 anyway
}

// UTF-8 texts compared as their UTF-16 forms would be.
int CompareUtf16(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < common && a[i] == b[i]) ++i;
  if (i == common) return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  // Back to the start of the character where they differ.
  size_t start = i;
  while (start > 0 && (static_cast<unsigned char>(a[start]) & 0xC0) == 0x80) --start;
  bool valid_a = false, valid_b = false;
  const uint32_t cp_a = CodePointAt(a, start, &valid_a);
  const uint32_t cp_b = CodePointAt(b, start, &valid_b);
  if (valid_a && valid_b) {
    const uint32_t rank_a = Utf16Rank(cp_a), rank_b = Utf16Rank(cp_b);
    if (rank_a != rank_b) return rank_a < rank_b ? -1 : 1;
  }
  return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// Name before the first ":", value after it, untouched. False for a line
// without ":".
bool SplitHeader(const std::string& line, std::string_view* name, std::string_view* value) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  *name = std::string_view(line).substr(0, colon);
  *value = std::string_view(line).substr(colon + 1);
  return true;
}

}  // namespace

namespace internal {

std::string CanonicalQuery(const std::string& query) {
  std::string out;
  if (query.empty()) return out;
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string_view rest(query);
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view item = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (item.empty()) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      pairs.emplace_back(Decode(item), std::string());
    } else {
      pairs.emplace_back(Decode(item.substr(0, eq)), Decode(item.substr(eq + 1)));
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) {
    const int keys = CompareUtf16(x.first, y.first);
    if (keys != 0) return keys < 0;
    return CompareUtf16(x.second, y.second) < 0;
  });
  out.reserve(query.size() + 16);
  for (const auto& [key, value] : pairs) {
    if (!out.empty()) out.push_back('&');
    Encode(key, &out);
    out.push_back('=');
    Encode(value, &out);
  }
  return out;
}

std::string CanonicalHeaderValue(const std::string& value) {
  size_t begin = 0, end = value.size();
  while (begin < end && IsSpace(value[begin])) ++begin;
  while (end > begin && IsSpace(value[end - 1])) --end;
  std::string out;
  out.reserve(end - begin);
  bool quoted = false;
  for (size_t i = begin; i < end; ++i) {
    const char c = value[i];
    if (c == '"' && (i == begin || value[i - 1] != '\\')) quoted = !quoted;
    if (!quoted && IsSpace(c) && i > begin && IsSpace(value[i - 1])) continue;
    out.push_back(c);
  }
  return out;
}

std::string DateHeaderText(std::chrono::system_clock::time_point now) {
  static constexpr char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const UtcTime t = ToUtc(now);
  std::string out;
  out.reserve(40);
  out.append(kDays[t.weekday]).append(", ");
  AppendNumber(&out, t.day, 2);
  out.push_back(' ');
  out.append(kMonths[t.month - 1]).push_back(' ');
  AppendNumber(&out, t.year, 4);
  out.push_back(' ');
  AppendNumber(&out, t.hour, 2);
  out.push_back(':');
  AppendNumber(&out, t.minute, 2);
  out.push_back(':');
  AppendNumber(&out, t.second, 2);
  // A fixed text after the UTC clock time, which is not shifted: peers read
  // the time from x-amz-date.
  out.append(" GMT+04:00");
  return out;
}

std::string AmzDateText(std::chrono::system_clock::time_point now) {
  const UtcTime t = ToUtc(now);
  std::string out;
  out.reserve(16);
  AppendYmd(&out, t);
  out.push_back('T');
  AppendNumber(&out, t.hour, 2);
  AppendNumber(&out, t.minute, 2);
  AppendNumber(&out, t.second, 2);
  out.push_back('Z');
  return out;
}

}  // namespace internal

std::vector<std::string> GenerateHTTPHeaders(const std::string& host, const std::string& path,
                                             const std::string& query, const std::string& method,
                                             const std::string& region,
                                             const std::string& access_key,
                                             const std::string& secret_key,
                                             const std::vector<std::string>& headers) {
  return GenerateHTTPHeaders(host, path, query, method, region, access_key, secret_key, headers,
                             std::chrono::system_clock::now());
}

std::vector<std::string> GenerateHTTPHeaders(const std::string& host, const std::string& path,
                                             const std::string& query, const std::string& method,
                                             const std::string& region,
                                             const std::string& access_key,
                                             const std::string& secret_key,
                                             const std::vector<std::string>& headers,
                                             std::chrono::system_clock::time_point now) {
  const std::string amz_date = internal::AmzDateText(now);
  const std::string_view ymd = std::string_view(amz_date).substr(0, 8);
  std::map<std::string, std::string, std::less<>> map;
  map.emplace("date", internal::DateHeaderText(now));
  map.emplace("host", host);
  map.emplace("x-amz-content-sha256", kPayloadHash);
  map.emplace("x-amz-date", amz_date);

  std::vector<std::string> result;
  result.reserve(5);
  for (const auto& [name, value] : map) result.push_back(name + ":" + value);

  for (const std::string& line : headers) {
    std::string_view name, value;
    if (!SplitHeader(line, &name, &value)) {
      if (!line.empty()) KLOG(Fatal) << "Empty valud headers no supported.";
      continue;
    }
    auto at = map.find(name);
    if (at == map.end()) {
      map.emplace(std::string(name), std::string(value));
    } else {
      at->second.assign(value);
    }
  }

  std::string signed_headers;
  std::string canonical;
  canonical.reserve(512 + path.size() + query.size());
  canonical.append(method).push_back('\n');
  canonical.append(path).push_back('\n');
  canonical.append(internal::CanonicalQuery(query)).push_back('\n');
  for (const auto& [name, value] : map) {
    for (const char c : name) {
      canonical.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    canonical.push_back(':');
    canonical.append(internal::CanonicalHeaderValue(value)).push_back('\n');
    if (!signed_headers.empty()) signed_headers.push_back(';');
    signed_headers.append(name);
  }
  canonical.push_back('\n');
  canonical.append(signed_headers).push_back('\n');
  canonical.append(kPayloadHash);

  std::string scope;
  scope.reserve(64);
  scope.append(ymd).append("/").append(region).append("/s3/aws4_request");

  Hmac hmac;
  uint8_t digest[kShaSize];
  hmac.Hash(canonical, digest);
  std::string to_sign;
  to_sign.reserve(160);
  to_sign.append(kAlgorithm).append("\n").append(amz_date).append("\n").append(scope).append(
      "\n");
  AppendHex(&to_sign, digest, kShaSize);

  uint8_t key[kShaSize];
  hmac.Sign("AWS4" + secret_key, ymd, key);
  hmac.Sign(std::string_view(reinterpret_cast<char*>(key), kShaSize), region, key);
  hmac.Sign(std::string_view(reinterpret_cast<char*>(key), kShaSize), kService, key);
  hmac.Sign(std::string_view(reinterpret_cast<char*>(key), kShaSize), "aws4_request", key);
  hmac.Sign(std::string_view(reinterpret_cast<char*>(key), kShaSize), to_sign, digest);

  std::string authorization;
  authorization.reserve(200 + signed_headers.size());
  authorization.append("authorization: ")
      .append(kAlgorithm)
      .append(" Credential=")
      .append(access_key)
      .append("/")
      .append(scope)
      .append(", SignedHeaders=")
      .append(signed_headers)
      .append(", Signature=");
  AppendHex(&authorization, digest, kShaSize);
  result.push_back(std::move(authorization));
  return result;
}

}  // namespace s3_utils
