#include "core/text/file_system_utils.h"

#include <QString>
#include <algorithm>

#include "core/infra/logger.h"
#include "core/text/encoding_utils.h"

namespace utils {

const std::string kLongPathPrefix = "\\\\?\\";

std::string ToWindowsSeparators(std::string path, AddWinUnicodePrefix add) {
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.compare(0, kLongPathPrefix.size(), kLongPathPrefix) == 0) return path;
  if (!add) return path;
  const bool drive = path.size() >= 2 && path[1] == ':';
  const bool network = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  if (drive || network) return kLongPathPrefix + path;
  return path;
}

std::string ToNativeSeparators(const std::string& path) {
  return ToWindowsSeparators(path, AddWinUnicodePrefix(true));
}

QString ToNativeSeparators(const QString& path) {
  return StrToQStr(ToWindowsSeparators(QStrToStr(path), AddWinUnicodePrefix(true)));
}

WString ToWindowsNativePath(std::string path, AddWinUnicodePrefix add) {
  return unicode::Utf8ToUtf16(ToWindowsSeparators(std::move(path), add));
}

std::string ToUnixSeparatorsWindows(std::string path) {
  if (path.compare(0, kLongPathPrefix.size(), kLongPathPrefix) == 0) {
    path.erase(0, kLongPathPrefix.size());
  }
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string ToUnixSeparators(const std::string& path) {
  return ToUnixSeparatorsWindows(path);
}

std::string ToUnixSeparators(const WString& path) {
  return ToUnixSeparatorsWindows(unicode::Utf16ToUtf8(path));
}

std::string ToUnixSeparators(const QString& path) {
  return ToUnixSeparatorsWindows(QStrToStr(path));
}

std::string PathToGUI(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string PathToCompare(const std::string& path) {
  std::string lower;
  if (!ToLower(path, &lower)) {
    KLOG(Fatal) << "Failed convert folder name, name: \"" << path << "\".";
    return path;
  }
  return lower;
}

bool PathsAreEqual(const std::string& a, const std::string& b) {
  return PathToCompare(a) == PathToCompare(b);
}

QString GetShortenedName(const QString& name, int max) {
  if (name.size() <= max) return name;
  return name.left(std::max(max - 4, 0)) + QStringLiteral("...");
}

QString GetShortenedPath(const QString& path, int max) {
  if (path.size() <= max) return path;
  const auto is_separator = [](QChar c) { return c == '\\' || c == '/'; };
  // The root name: "C:" or "\\server\share".
  int root = 0;
  if (path.size() >= 2 && path[1] == ':') {
    root = 2;
  } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    int separators = 0;
    for (root = 2; root < path.size(); ++root) {
      if (is_separator(path[root]) && ++separators == 2) break;
    }
  }
  const int room = max - root - 5;
  if (room <= 0) return GetShortenedName(path, max);
  int start = path.size() - (room - 1);
  // Begin the kept end at a separator where one is in reach.
  for (int i = start; i < path.size(); ++i) {
    if (is_separator(path[i])) {
      if (i + 1 < path.size()) start = i + 1;
      break;
    }
  }
  return path.left(root) + QStringLiteral("\\...\\") + path.mid(start);
}

std::tuple<std::string_view, std::string_view> SplitIntoParentPathAndName(
    std::string_view path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {std::string_view(), path};
  return {path.substr(0, slash), path.substr(slash + 1)};
}

void SplitPath(const std::string& path, std::string* parent, std::string* name) {
  const auto [parent_view, name_view] = SplitIntoParentPathAndName(path);
  if (parent != nullptr) parent->assign(parent_view);
  if (name != nullptr) name->assign(name_view);
}

}  // namespace utils
