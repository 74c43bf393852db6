#include "core/text/file_system_utils.h"

#include <gtest/gtest.h>

#include <QString>

namespace {

using utils::AddWinUnicodePrefix;

TEST(FileSystemUtilsTest, ToWindowsSeparators) {
  struct Case {
    const char* path;
    bool prefix;
    const char* expected;
  } const kCases[] = {
      {"C:/a/b", true, "\\\\?\\C:\\a\\b"},
      {"C:/a/b", false, "C:\\a\\b"},
      {"a/b", true, "a\\b"},
      {"//server/share/x", true, "\\\\?\\\\\\server\\share\\x"},
      {"\\\\?\\C:\\x", true, "\\\\?\\C:\\x"},
      {"", true, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.expected, utils::ToWindowsSeparators(c.path, AddWinUnicodePrefix(c.prefix)));
  }
  EXPECT_EQ("\\\\?\\D:\\x", utils::ToNativeSeparators(std::string("D:/x")));
  EXPECT_EQ(QString("\\\\?\\D:\\x"), utils::ToNativeSeparators(QString("D:/x")));
  EXPECT_EQ(u"C:\\\u00e9", utils::ToWindowsNativePath("C:/\xc3\xa9", AddWinUnicodePrefix(false)));
}

TEST(FileSystemUtilsTest, ToUnixSeparators) {
  EXPECT_EQ("C:/x", utils::ToUnixSeparatorsWindows("\\\\?\\C:\\x"));
  EXPECT_EQ("a/b/c", utils::ToUnixSeparators(std::string("a\\b/c")));
  EXPECT_EQ("C:/\xc3\xa9", utils::ToUnixSeparators(WString(u"C:\\\u00e9")));
  EXPECT_EQ("C:/\xc3\xa9", utils::ToUnixSeparators(QString::fromUtf8("C:\\e\xcc\x81")));
  EXPECT_EQ("a\\b\\c", utils::PathToGUI("a/b\\c"));
}

TEST(FileSystemUtilsTest, PathComparison) {
  EXPECT_EQ("/docs/\xd0\xbe\xd1\x82\xd1\x87\xd0\xb5\xd1\x82.txt",
            utils::PathToCompare("/Docs/\xd0\x9e\xd1\x82\xd1\x87\xd0\xb5\xd1\x82.TXT"));
  EXPECT_TRUE(utils::PathsAreEqual("/A/B.txt", "/a/b.TXT"));
  EXPECT_FALSE(utils::PathsAreEqual("/a/b", "/a/c"));
}

TEST(FileSystemUtilsTest, SplitPath) {
  struct Case {
    const char* path;
    const char* parent;
    const char* name;
  } const kCases[] = {
      {"a/b/c", "a/b", "c"}, {"a", "", "a"}, {"/a", "", "a"}, {"a/", "a", ""}, {"", "", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    const auto [parent, name] = utils::SplitIntoParentPathAndName(c.path);
    EXPECT_EQ(c.parent, parent);
    EXPECT_EQ(c.name, name);
    std::string parent_copy, name_copy;
    utils::SplitPath(c.path, &parent_copy, &name_copy);
    EXPECT_EQ(c.parent, parent_copy);
    EXPECT_EQ(c.name, name_copy);
    utils::SplitPath(c.path, nullptr, &name_copy);
    EXPECT_EQ(c.name, name_copy);
  }
}

TEST(FileSystemUtilsTest, ShortenedNamesAndPaths) {
  EXPECT_EQ(QString("short"), utils::GetShortenedName("short", 5));
  EXPECT_EQ(QString("abcdef..."), utils::GetShortenedName("abcdefghijklmnop", 10));
  EXPECT_EQ(9, utils::GetShortenedName("abcdefghijklmnop", 10).size());

  const QString path = "C:\\Users\\someone\\Documents\\Projects\\report.txt";
  EXPECT_EQ(path, utils::GetShortenedPath(path, path.size()));
  const QString shortened = utils::GetShortenedPath(path, 30);
  EXPECT_LT(shortened.size(), 30);
  EXPECT_TRUE(shortened.startsWith("C:\\...\\")) << shortened.toStdString();
  EXPECT_TRUE(shortened.endsWith("report.txt")) << shortened.toStdString();
  EXPECT_TRUE(utils::GetShortenedPath("\\\\server\\share\\a\\very\\long\\path\\file.bin", 30)
                  .startsWith("\\\\server\\share\\...\\"));
}

}  // namespace
