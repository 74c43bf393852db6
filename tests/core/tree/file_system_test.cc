#include "core/tree/file_system.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(FileSystemTest, ResultTexts) {
  struct Case {
    int value;
    const char* text;
  } const kCases[] = {{0, "Succeeded"}, {6, "Authorization invalid"}, {9, "Public link limit"},
                      {10, "Too early to process"}, {18, "Item missed"}, {19, "Unknown result"},
                      {-1, "Unknown result"}};
  for (const Case& c : kCases) {
    std::ostringstream out;
    out << static_cast<FileSystem::Result>(c.value);
    EXPECT_EQ(c.text, out.str());
  }
}

TEST(FileSystemTest, PropertiesEqualityIgnoresHashesOfEmptyFiles) {
  const SomeHash a = SomeHash::EmptyFileHash(SomeHash::Google);
  const SomeHash b = SomeHash(HashBase<16>::FromHexString("00112233445566778899AABBCCDDEEFF"));
  EXPECT_EQ(FileSystem::FileProperties(a, 1, 0, 5, false),
            FileSystem::FileProperties(b, 1, 0, 5, false));
  EXPECT_NE(FileSystem::FileProperties(a, 1, 1, 5, false),
            FileSystem::FileProperties(b, 1, 1, 5, false));
  EXPECT_NE(FileSystem::FileProperties(a, 1, 0, 5, false),
            FileSystem::FileProperties(a, 1, 0, 5, true));
  EXPECT_EQ("(D41D8CD98F00B204E9800998ECF8427E 7b 5 ino_3 rdonly)",
            FileSystem::FileProperties(a, 3, 7, 5, true).ToString());
  EXPECT_EQ("(9 ino_4)", (FileSystem::FolderProperties{4, 9, false}).ToString());

  const FileSystem::FileHashSize small{b, 1}, large{a, 2};
  EXPECT_TRUE(small < large);
  EXPECT_FALSE(large < small);
  EXPECT_NE(small, large);
}

TEST(FileSystemTest, CanonicalPaths) {
  struct Case {
    std::string path;
    bool canonical, relative;
  } const kCases[] = {
      {"a/b", true, true},    {"/a/b", true, false}, {"a", true, true},
      {"a//b", false, false}, {"a/", false, false},  {"a\\b", false, false},
      {"a/./b", false, false}, {"../a", false, false}, {"", false, false},
      {"/", false, false},    {"a/..", false, false}, {std::string("a\0b", 3), false, false},
      {"a/.b/..c", true, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.canonical, FileSystem::IsCanonicalPath(c.path));
    EXPECT_EQ(c.relative, FileSystem::IsRelativeCanonicalPath(c.path));
  }
}

TEST(FileSystemTest, ChangeRecords) {
  FileSystem::Change change;
  change.type = FileSystem::Change::FILE_RENAME;
  change.path = "x";
  change.path2 = "y";
  EXPECT_EQ("FILE_RENAME \"x\", path2=\"y\"", change.ToString());
  change.size = 12;
  change.hash = SomeHash::EmptyFileHash(SomeHash::Google);
  change.revision = 7;
  const uint8_t id[12] = {1};
  change.treeId = TreeId(id);
  EXPECT_EQ("FILE_RENAME \"x\", path2=\"y\", size=12, hash=D41D8CD98F00B204E9800998ECF8427E, "
            "treeid:010000000000000000000000, rev:7",
            change.ToString());
  EXPECT_TRUE(change.IsFileChange());
  EXPECT_STREQ("Unknown type", FileSystem::Change::TypeToString(
                                   static_cast<FileSystem::Change::Type>(29)));

  for (int t = 0; t <= 28; ++t) {
    const auto type = static_cast<FileSystem::Change::Type>(t);
    const bool changed = t <= 5 || t == 7 || t == 8 || t == 10 || t == 11;
    EXPECT_EQ(changed, FileSystem::HasSomethingChanged(type)) << t;
  }
  FileSystem::Change quota;
  quota.type = FileSystem::Change::TOTAL_SIZE_SET;
  EXPECT_FALSE(quota.AffectsTreeInfo(TreeId()));
  EXPECT_TRUE(quota.AffectsTreeInfo(TreeId(id)));
  quota.type = FileSystem::Change::UNSHARE;
  EXPECT_TRUE(quota.AffectsTreeInfo(TreeId()));
}

TEST(FileSystemTest, RevisionNone) {
  const FileSystem::Revision none = FileSystem::Revision::RevisionNone();
  EXPECT_EQ(0u, static_cast<uint64_t>(none));
  EXPECT_EQ("FF0000000000000000000000", none.tree_id1.ToHexString());
  EXPECT_EQ("FF0000000000000000000000", none.tree_id2.ToHexString());
  EXPECT_FALSE(none.HasFirst());
  const FileSystem::Revision one(TreeId(), 5);
  EXPECT_EQ(5u, static_cast<uint64_t>(one));
  EXPECT_TRUE(one.HasFirst());
  EXPECT_FALSE(one.HasSecond());
  EXPECT_TRUE(FileSystem::Revision(TreeId(), 1, TreeId(), 2).HasSecond());
}

}  // namespace
