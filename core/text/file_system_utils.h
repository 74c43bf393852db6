#ifndef KORVO_CORE_TEXT_FILE_SYSTEM_UTILS_H_
#define KORVO_CORE_TEXT_FILE_SYSTEM_UTILS_H_

#include <string>
#include <string_view>
#include <tuple>

#include "core/export.h"
#include "core/infra/tagged_bool.h"
#include "core/platform/wide_string.h"

class QString;

// Path separators. The library's own paths use "/"; the Windows form of a
// local path uses "\" and may carry the long-path prefix "\\?\".
namespace utils {

using AddWinUnicodePrefix = TaggedBool<struct AddWinUnicodePrefixTag>;

KORVO_EXPORT extern const std::string kLongPathPrefix;  // "\\?\"

// "/" to "\"; with |add|, a drive or network path gains "\\?\".
KORVO_EXPORT std::string ToWindowsSeparators(std::string path, AddWinUnicodePrefix add);
KORVO_EXPORT std::string ToNativeSeparators(const std::string& path);
KORVO_EXPORT QString ToNativeSeparators(const QString& path);
KORVO_EXPORT WString ToWindowsNativePath(std::string path, AddWinUnicodePrefix add);
// Drops a leading "\\?\", then "\" to "/".
KORVO_EXPORT std::string ToUnixSeparatorsWindows(std::string path);
KORVO_EXPORT std::string ToUnixSeparators(const std::string& path);
KORVO_EXPORT std::string ToUnixSeparators(const WString& path);
KORVO_EXPORT std::string ToUnixSeparators(const QString& path);
// "/" to "\" for display.
KORVO_EXPORT std::string PathToGUI(std::string path);
// The lowercase form paths are compared in.
KORVO_EXPORT std::string PathToCompare(const std::string& path);
KORVO_EXPORT bool PathsAreEqual(const std::string& a, const std::string& b);

// At most |max| - 1 units: the start of the name followed by "...".
KORVO_EXPORT QString GetShortenedName(const QString& name, int max);
// For display: the root (drive) and as much of the end as fits, the middle
// replaced by "\...\".
KORVO_EXPORT QString GetShortenedPath(const QString& path, int max);

// Splits at the last "/": ("a/b", "c") for "a/b/c", ("", "a") for "a" and
// "/a", ("a", "") for "a/".
KORVO_EXPORT std::tuple<std::string_view, std::string_view> SplitIntoParentPathAndName(
    std::string_view path);
KORVO_EXPORT void SplitPath(const std::string& path, std::string* parent,
                            std::string* name);

}  // namespace utils

#endif  // KORVO_CORE_TEXT_FILE_SYSTEM_UTILS_H_
