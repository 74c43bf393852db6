#include "core/net/log_masking.h"

#include <algorithm>
#include <cstring>

namespace log_masking {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IContains(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return false;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (IEquals(text.substr(i, needle.size()), needle)) return true;
  }
  return false;
}

// Ends a URL in running text.
bool IsUrlEnd(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '"' || c == '\'' || c == '<' ||
         c == '>' || c == '\0';
}

// Ends the authority part of a URL.
bool IsAuthorityEnd(char c) { return IsUrlEnd(c) || c == '/' || c == '?' || c == '#'; }

// Where a bare "user:password@host" proxy starts: at the start of |text| or
// after a blank, a quote or "=" .
bool IsWordStart(std::string_view text, size_t at) {
  if (at == 0) return true;
  const char c = text[at - 1];
  return IsUrlEnd(c) || c == '=' || c == '(';
}

// Masks the query that starts after text[question] up to the end of the URL;
// returns the position after it.
size_t MaskQuery(std::string_view text, size_t question, std::string* out) {
  size_t at = question + 1;
  out->push_back('?');
  while (at < text.size() && !IsUrlEnd(text[at]) && text[at] != '#') {
    size_t end = at;
    while (end < text.size() && !IsUrlEnd(text[end]) && text[end] != '&' && text[end] != '#') {
      ++end;
    }
    const std::string_view pair = text.substr(at, end - at);
    const size_t equals = pair.find('=');
    if (equals != std::string_view::npos && IsSecretParameter(pair.substr(0, equals))) {
      out->append(pair.substr(0, equals + 1));
      out->append(kMasked);
    } else {
      out->append(pair);
    }
    at = end;
    if (at < text.size() && text[at] == '&') {
      out->push_back('&');
      ++at;
    }
  }
  return at;
}

}  // namespace

std::string StripUserinfo(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    // The start of an authority: after "://", or a bare word.
    size_t authority = std::string_view::npos;
    if (text.compare(at, 3, "://") == 0) {
      out.append("://");
      authority = at + 3;
    } else if (IsWordStart(text, at) && !IsAuthorityEnd(text[at])) {
      authority = at;
    }
    if (authority == std::string_view::npos) {
      out.push_back(text[at++]);
      continue;
    }
    size_t end = authority;
    while (end < text.size() && !IsAuthorityEnd(text[end]) &&
           // A bare word that is a URL's scheme: its authority comes next.
           !(authority == at && text.compare(end, 3, "://") == 0)) {
      ++end;
    }
    const std::string_view part = text.substr(authority, end - authority);
    const size_t at_sign = part.rfind('@');
    // A bare word is taken for "user:password@host" only with the colon
    // before the "@": "name@example.com" in a sentence stays as it is.
    const bool bare = authority == at;
    if (at_sign != std::string_view::npos &&
        (!bare || part.substr(0, at_sign).find(':') != std::string_view::npos)) {
      out.append(part.substr(at_sign + 1));
    } else {
      out.append(part);
    }
    at = end;
  }
  return out;
}

bool IsSecretParameter(std::string_view name) {
  static const char* const kNames[] = {"e",          "iid",
                                       "password",   "secret",
                                       "x-amz-signature", "x-amz-credential",
                                       "x-amz-security-token"};
  for (const char* secret : kNames) {
    if (IEquals(name, secret)) return true;
  }
  return HoldsToken(name);
}

bool HoldsToken(std::string_view text) { return IContains(text, "token"); }

std::string MaskUrls(std::string_view text) {
  const std::string stripped = StripUserinfo(text);
  const std::string_view plain(stripped);
  std::string out;
  out.reserve(plain.size());
  size_t at = 0;
  while (at < plain.size()) {
    if (plain[at] == '?') {
      at = MaskQuery(plain, at, &out);
    } else {
      out.push_back(plain[at++]);
    }
  }
  return out;
}

std::string MaskSecretHeaders(std::string_view text) {
  static const char* const kSecret[] = {"authorization:", "proxy-authorization:", "cookie:",
                                        "set-cookie:", "x-amz-security-token:"};
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    bool masked = false;
    for (const char* name : kSecret) {
      const size_t length = std::strlen(name);
      if (line.size() >= length && IEquals(line.substr(0, length), name)) {
        out.append(line.substr(0, length));
        out += " ";
        out += kMasked;
        if (line.back() == '\r') out += '\r';
        masked = true;
        break;
      }
    }
    if (!masked) out.append(first ? MaskUrls(line) : std::string(line));
    if (end < text.size()) out += '\n';
    start = end + 1;
    first = false;
  }
  return out;
}

std::string CapForLog(std::string_view text, size_t limit) {
  if (text.size() <= limit) return std::string(text);
  std::string out(text.substr(0, limit));
  out += "... (" + std::to_string(text.size()) + " bytes)";
  return out;
}

}  // namespace log_masking
