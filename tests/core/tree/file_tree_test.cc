#include "core/tree/file_tree.h"
#include "core/tree/inode_collection.h"

#include <gtest/gtest.h>

#include <QString>
#include <cstdio>
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/tree/folder_node_fs_osx.h"
#include "tests/support/log_watch.h"

namespace {

using testing_env::LogWatch;

// Every consistency check of a tree; each logs what disagrees.
bool Validate(const FolderNode& root) {
  bool ok = root.ValidateChangedDown();
  ok = root.ValidateErrorCounters() && ok;
  ok = root.ValidateInodeCollection() && ok;
  ok = root.ValidateParentNotNull() && ok;
  ok = root.ValidateIndices() && ok;
  return ok;
}

struct Tree {
  Tree() : root(FolderNode::MakeRoot()), inodes(std::make_shared<InodeCollection>()) {
    EXPECT_TRUE(root->SetControlledInodeCollection(inodes));
  }
  ~Tree() { EXPECT_TRUE(Validate(*root)) << root->Dump(true); }

  FileNode* File(FolderNode* folder, std::string name, uint64_t inode = 0, uint64_t size = 0) {
    ChildIter<FileNode> where;
    EXPECT_TRUE(folder->CreateFile(std::move(name), &where, size, SomeHash(), 0, inode, false,
                                   false));
    return where.node;
  }
  FolderNode* Folder(FolderNode* folder, std::string name, uint64_t inode = 0) {
    ChildIter<FolderNode> where;
    EXPECT_TRUE(folder->CreateFolder(std::move(name), &where, inode, 0, false, false));
    return where.node;
  }

  UniqueNodePtr<FolderNode> root;
  std::shared_ptr<InodeCollection> inodes;
};

UniqueNodePtr<FileNode> NewFile(const std::string& name, uint64_t inode = 0) {
  auto file = std::make_unique<FileNode>(0, SomeHash(), 0, inode, false, false);
  // Names are set through a folder's CreateFile in production; tests build
  // detached nodes through a tiny helper folder.
  FolderNode helper(0, 0, false, false);
  ChildIter<FileNode> where;
  helper.CreateFile(std::string(name), &where, 0, SomeHash(), 0, inode, false, false);
  return helper.DetachFile(where);
}

TEST(FileTreeTest, CaseInsensitiveLookupsUseTheMainSetThenTheIndex) {
  Tree tree;
  FolderNode* root = tree.root.get();
  tree.File(root, "Report.txt");
  tree.File(root, "report.txt");
  EXPECT_EQ(2u, root->FileCount());
  EXPECT_EQ(1u, root->FileKeyCount());  // only Report.txt needs the index

  bool exact = true;
  const FileNode* found = root->GetFile("REPORT.TXT", true, &exact);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ("report.txt", found->GetName());  // the all-lowercase child wins
  EXPECT_FALSE(exact);
  EXPECT_EQ(nullptr, root->GetFile("REPORT.TXT", false));

  Tree other;
  other.File(other.root.get(), "Report.txt");
  found = other.root->GetFile("Report.TXT", true, &exact);
  ASSERT_NE(nullptr, found);
  EXPECT_EQ("Report.txt", found->GetName());
  EXPECT_FALSE(exact);
  EXPECT_TRUE(other.root->GetFile("Report.txt", true, &exact) != nullptr);
  EXPECT_TRUE(exact);

  // Non-ASCII names fold too.
  tree.Folder(root, "\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0");  // Папка
  EXPECT_NE(nullptr, root->GetFolder("\xd0\xbf\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0", true));
  EXPECT_EQ(nullptr, root->GetFolder("\xd0\xbf\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0", false));
  EXPECT_TRUE(root->HasChild("PAPKA", true) == false);

  EXPECT_EQ("abc", tree.File(root, "abc")->GetNameLowercase());
  EXPECT_TRUE(root->GetFile("abc", false)->NameIsLowercase());
  EXPECT_EQ("report.txt", root->GetFile("Report.txt", false)->GetNameLowercase());
}

TEST(FileTreeTest, InsertionFailuresReturnTheNode) {
  Tree tree;
  FolderNode* root = tree.root.get();
  tree.File(root, "same", 5);

  UniqueNodePtr<FileNode> rejected;
  ChildIter<FileNode> where;
  EXPECT_EQ(ResultInsert::AlreadyExists,
            root->InsertFileTry(NewFile("same", 6), &where, &rejected));
  ASSERT_NE(nullptr, rejected);
  EXPECT_EQ(6u, rejected->GetInode());
  EXPECT_EQ(5u, where->GetInode());  // |where| shows the child in the way
  EXPECT_STREQ("Already exists.", ResultInsertToStr(ResultInsert::AlreadyExists));
  EXPECT_FALSE(tree.inodes->HasFileWithInode(6));

  // Without a holder the node is destroyed.
  LogWatch watch;
  EXPECT_FALSE(root->InsertFile(NewFile("same", 7), &where));
  EXPECT_TRUE(watch.Contains("InsertFile: Already exists."));

  auto unnamed = std::make_unique<FileNode>(0, SomeHash(), 0, 0, false, false);
  EXPECT_EQ(ResultInsert::EmptyName, root->InsertFileTry(std::move(unnamed), &where, &rejected));
  EXPECT_NE(nullptr, rejected);
  EXPECT_STREQ("Error.", ResultInsertToStr(ResultInsert::EmptyName));
  EXPECT_TRUE(watch.Contains("Inserting file with empty name."));
  EXPECT_EQ(1u, root->FileCount());
}

TEST(FileTreeTest, SizesAboveOneTebibyteAreRefused) {
  Tree tree;
  FileNode* file = tree.File(tree.root.get(), "big", 0, 10);
  EXPECT_TRUE(file->SetSize(1099511627776));
  LogWatch watch;
  EXPECT_FALSE(file->SetSize(1099511627777));
  EXPECT_EQ(1099511627776u, file->GetSize());
  EXPECT_TRUE(
      watch.Contains("File size is bigger than file size limit in SetSize (1099511627777)."));
}

TEST(FileTreeTest, InodesAreRegisteredAndDuplicatesReported) {
  Tree tree;
  FolderNode* root = tree.root.get();
  FolderNode* sub = tree.Folder(root, "sub", 100);
  FileNode* first = tree.File(root, "first", 7);
  FileNode* second = tree.File(sub, "second", 7);
  EXPECT_EQ(sub, tree.inodes->GetFolderByInode(100));
  LogWatch watch;
  EXPECT_EQ(first, tree.inodes->GetFileByInode(7));
  EXPECT_TRUE(watch.Contains("Multiple files detected with inode ino_7 \"first\" \"sub/second\""));
  EXPECT_EQ(nullptr, tree.inodes->GetFileByInode(0));

  EXPECT_TRUE(first->SetInode(0));  // unregisters; the second one takes over
  EXPECT_EQ(second, tree.inodes->GetFileByInode(7));
  EXPECT_TRUE(second->SetInode(8));
  EXPECT_EQ(nullptr, tree.inodes->GetFileByInode(7));
  EXPECT_EQ(second, tree.inodes->GetFileByInode(8));

  // A detached subtree leaves the collection and comes back with its nodes.
  ChildIter<FolderNode> it = root->FindFolder("sub", false);
  UniqueNodePtr<FolderNode> detached = root->DetachFolder(it);
  EXPECT_EQ(nullptr, tree.inodes->GetFileByInode(8));
  EXPECT_EQ(nullptr, tree.inodes->GetFolderByInode(100));
  EXPECT_EQ(nullptr, detached->GetControlledInodeCollection());
  EXPECT_TRUE(root->InsertFolder(std::move(detached), &it));
  EXPECT_EQ(second, tree.inodes->GetFileByInode(8));
  EXPECT_EQ(it.node, tree.inodes->GetFolderByInode(100));

  root->InvalidateInodesDown();
  EXPECT_TRUE(tree.inodes->IsEmpty());
  EXPECT_EQ(0u, second->GetInode());
}

TEST(FileTreeTest, MovesAndRenamesKeepTheNodeOnFailure) {
  Tree tree;
  FolderNode* root = tree.root.get();
  FolderNode* a = tree.Folder(root, "a");
  FolderNode* b = tree.Folder(root, "b");
  tree.File(a, "x.txt", 1);
  tree.File(b, "y.txt", 2);

  ChildIter<FileNode> it = a->FindFile("x.txt", false);
  LogWatch watch;
  EXPECT_EQ(ResultInsert::AlreadyExists, FolderNode::MoveFileTry(a, b, &it, "y.txt"));
  EXPECT_EQ(it.node, a->GetFile("x.txt", false));
  EXPECT_EQ(1u, a->FileCount());
  EXPECT_EQ(it.node, tree.inodes->GetFileByInode(1));

  EXPECT_TRUE(FolderNode::MoveFile(a, b, &it, "Z.txt"));
  EXPECT_EQ(0u, a->FileCount());
  EXPECT_EQ("b/Z.txt", it->CollectPath());
  EXPECT_EQ(it.node, b->GetFile("z.TXT", true));

  // Renaming only the case moves the index entry.
  ChildIter<FileNode> lower = b->FindFile("y.txt", false);
  EXPECT_TRUE(b->RenameFile(&lower, "Y.txt"));
  EXPECT_EQ(2u, b->FileKeyCount());
  EXPECT_EQ(lower.node, b->GetFile("y.txt", true));
  EXPECT_EQ(ResultInsert::AlreadyExists, b->RenameFileTry(&lower, "Z.txt"));
  EXPECT_EQ("Y.txt", lower->GetName());
  EXPECT_EQ(ResultInsert::EmptyName, b->RenameFileTry(&lower, ""));

  // A folder cannot move below itself.
  ChildIter<FolderNode> folder_a = root->FindFolder("a", false);
  FolderNode* inner = tree.Folder(a, "inner");
  EXPECT_EQ(ResultInsert::FailedOther, FolderNode::MoveFolderTry(root, inner, &folder_a, "a"));
  EXPECT_EQ(a, root->GetFolder("a", false));
  EXPECT_TRUE(FolderNode::MoveFolder(root, b, &folder_a, "A"));
  EXPECT_EQ("b/A/inner", inner->CollectPath());

  // Detaching hands over the node and tells which child followed it.
  tree.File(b, "a.txt");
  ChildIter<FileNode> next;
  UniqueNodePtr<FileNode> detached = b->DetachFile(b->FindFile("Y.txt", false), &next);
  ASSERT_NE(nullptr, detached);
  EXPECT_FALSE(detached->IsInTree());
  ASSERT_FALSE(next.IsEnd());
  EXPECT_EQ("Z.txt", next->GetName());  // byte order: "Y.txt" < "Z.txt" < "a.txt"
  EXPECT_NE(nullptr, b->DetachFile(b->FindFile("a.txt", false), &next));
  EXPECT_TRUE(next.IsEnd());
  ChildIter<FileNode> end;
  EXPECT_EQ(nullptr, root->DetachFile(end));
  EXPECT_TRUE(watch.Contains("Failed to detach file, iter set to end."));
}

TEST(FileTreeTest, ChangeCountersFollowEveryAncestor) {
  Tree tree;
  FolderNode* root = tree.root.get();
  FolderNode* a = tree.Folder(root, "a");
  FolderNode* b = tree.Folder(a, "b");
  FileNode* file = tree.File(b, "f");
  file->SetChanged(true);
  file->SetChanged(true);
  EXPECT_EQ(1, b->CountChangedChildren());
  EXPECT_EQ(1, a->CountChangedChildren());
  EXPECT_EQ(1, root->CountChangedChildren());
  file->SetChanged(false);
  EXPECT_EQ(0, root->CountChangedChildren());

  struct Listener : SetChangedListener {
    void OnFolderChanged(FolderNode* folder) override { folders.push_back(folder); }
    std::vector<FolderNode*> folders;
  } listener;
  file->SetChanged(&listener);
  EXPECT_EQ((std::vector<FolderNode*>{b, a}), listener.folders);  // not the root

  a->SetChangedDown();
  EXPECT_EQ(3, root->CountChangedChildren());  // a, b, f
  EXPECT_TRUE(root->ValidateChangedDown());
  a->SetNotChangedDown();
  EXPECT_EQ(0, root->CountChangedChildren());
  EXPECT_TRUE(a->ValidateNotChangedDown());
  b->SetChangedFoldersDown();
  EXPECT_EQ(1, root->CountChangedChildren());
  EXPECT_FALSE(file->IsChanged());
  file->SetChanged(true);
  EXPECT_TRUE(root->HasChangedNewItems());
  root->ApplyNotChangedDown();
  EXPECT_FALSE(root->HasChanges());
  EXPECT_FALSE(root->HasChangedNewItems());
}

TEST(FileTreeTest, StatusesCountInTheirClass) {
  Tree tree;
  FolderNode* root = tree.root.get();
  FolderNode* a = tree.Folder(root, "a");
  FileNode* file = tree.File(a, "f");
  file->SetStatus(FileNode::kUploadError);
  a->SetStatus(FolderNode::kBadName);
  EXPECT_EQ(1u, a->CountErrorsReloadSync());
  EXPECT_EQ(1u, root->CountErrorsReloadSync());
  EXPECT_EQ(1u, root->CountErrorsNotReloadSync());
  bool reload = false;
  EXPECT_TRUE(root->HasError(&reload));
  EXPECT_TRUE(reload);
  file->SetStatus(FileNode::kVirus);
  EXPECT_EQ(0u, root->CountErrorsReloadSync());
  EXPECT_EQ(2u, root->CountErrors());
  a->ResetStatus();
  EXPECT_EQ(0u, root->CountErrors());
  EXPECT_TRUE(file->IsStatusOK());

  EXPECT_EQ(QString::fromUtf8("Ошибка загрузки файла в облако"),
            FileNode::StatusToString(FileNode::kUploadError, true));
  EXPECT_EQ(QString::fromUtf8("Ошибка удаления файла на ПК"),
            FileNode::StatusToString(FileNode::kDeleteError, false));
  EXPECT_EQ(QString::fromUtf8("Ошибка обновления файла на ПК"),
            FileNode::StatusToString(FileNode::kUpdateLocalError, true));
  EXPECT_EQ(QString::fromUtf8("Ошибка"), FileNode::StatusToString(FileNode::kStatusOk, true));
  EXPECT_EQ(QString::fromUtf8("Ошибка"),
            FileNode::StatusToString(static_cast<FileNode::FileStatus>(40), true));
  EXPECT_EQ(QString::fromUtf8("Ошибка обновления папки в Veltra"),
            FolderNode::StatusToString(FolderNode::kUpdateError2, true));
  EXPECT_TRUE(FolderNode::IsErrorReloadSync(FolderNode::kCreateError));
  EXPECT_FALSE(FolderNode::IsErrorReloadSync(FolderNode::kReadonlyFolder));
}

TEST(FileTreeTest, PathsAndNavigation) {
  Tree tree;
  FolderNode* root = tree.root.get();
  FolderNode* a = tree.Folder(root, "a");
  tree.File(a, "b");  // a file where the path wants a folder
  FolderNode* first_created = nullptr;
  std::string_view last;
  LogWatch watch;
  FolderNode* parent =
      root->TraversePathAndCreateDirs("a/b/c.txt", &last, false, nullptr, &first_created);
  ASSERT_NE(nullptr, parent);
  EXPECT_EQ("a/b", parent->CollectPath());
  EXPECT_EQ("c.txt", last);
  EXPECT_EQ(parent, first_created);
  EXPECT_EQ(nullptr, a->GetFile("b", false));
  EXPECT_EQ(1u, watch.fails());
  EXPECT_TRUE(watch.Contains("Deleting file named as folder while TraversePathAndCreateDirs: b"));

  FolderNode* folder = nullptr;
  FileNode* file = nullptr;
  EXPECT_FALSE(root->GetItemAtPath("", &folder, &file, false));
  EXPECT_TRUE(watch.Contains("Empty path passed to GetItemAtPath."));
  tree.File(parent, "c.txt");
  EXPECT_TRUE(root->GetItemAtPath("A/B/C.TXT", &folder, &file, true));
  EXPECT_EQ(nullptr, folder);
  EXPECT_EQ("a/b/c.txt", file->CollectPath());
  EXPECT_EQ(parent, root->GetFolderAtPath("a/b", false));
  EXPECT_EQ(nullptr, root->GetFileAtPath("a/x/c.txt", false));

  std::string_view rest;
  EXPECT_EQ(parent, root->TraversePathToLastExistingDir("a/b/d/e", &rest, false));
  EXPECT_EQ("d/e", rest);
  EXPECT_EQ(nullptr, root->TraversePathToLastExistingDir("", &rest, false));

  bool exact = true;
  auto [found, name] = root->TraversePath("A/b/x", true, &exact);
  EXPECT_EQ(parent, found);
  EXPECT_EQ("x", name);
  EXPECT_FALSE(exact);
  EXPECT_EQ("", root->CollectPath());
}

TEST(FileTreeTest, TreeInfoCopiesAndCounts) {
  Tree tree;
  FolderNode* root = tree.root.get();
  FolderNode* a = tree.Folder(root, "a");
  FolderNode* b = tree.Folder(a, "b");
  tree.File(b, "Data.bin", 11, 100);
  tree.File(b, "thumbs.db", 12, 5);
  tree.Folder(root, "$RECYCLE.BIN");
  auto info = std::make_shared<TreeInfo>(TreeId(), static_cast<TreeInfo::TreeType>(3), 1, 2, 3,
                                         static_cast<TreeAccessMode>(1));
  EXPECT_TRUE(root->SetTreeInfo(info));
  EXPECT_EQ(info, b->GetTreeInfo());
  EXPECT_TRUE(root->ApplyLocalRevDown(42));
  EXPECT_EQ(42u, info->GetRevision(TreeInfo::Local));
  auto mount = std::make_shared<TreeInfo>(TreeId(), TreeInfo::kParentTreeType, 0, 0, 0,
                                          static_cast<TreeAccessMode>(1));
  a->SetTreeInfo(mount);
  EXPECT_EQ(info, b->GetTreeInfo());  // stands for the parent's
  EXPECT_TRUE(a->IsRootMountPoint());

  EXPECT_EQ(3u, root->CountFoldersDown(WithServiceItems(true)));
  EXPECT_EQ(2u, root->CountFoldersDown(WithServiceItems(false)));
  EXPECT_EQ(105u, root->FolderSize(WithServiceItems(true)));
  EXPECT_EQ(100u, root->FolderSize(WithServiceItems(false)));
  EXPECT_EQ(5u, root->CountChildrenDown(WithServiceItems(true)));
  EXPECT_EQ(3u, root->CountChildrenDown(WithServiceItems(false)));
  EXPECT_TRUE(root->HasNonEmptyFile());

  // A deep copy into another tree has the same shape and its own nodes.
  Tree copy;
  b->GetFile("Data.bin", false)->SetChanged(true);
  ASSERT_TRUE(copy.root->DeepCopyContentFrom(root));
  EXPECT_EQ(root->Dump(true), copy.root->Dump(true));
  FileNode* copied = copy.root->GetFileAtPath("a/b/Data.bin", false);
  ASSERT_NE(nullptr, copied);
  EXPECT_NE(b->GetFile("Data.bin", false), copied);
  EXPECT_EQ(copied, copy.inodes->GetFileByInode(11));
  EXPECT_EQ(1, copy.root->CountChangedChildren());

  root->MarkChildrenNotExist();
  EXPECT_FALSE(a->Exists());
  EXPECT_TRUE(b->Exists());
  a->Clear();
  EXPECT_EQ(0u, a->FolderCount());
  EXPECT_EQ(0, root->CountChangedChildren());
  EXPECT_EQ(nullptr, tree.inodes->GetFileByInode(11));
}

TEST(FileTreeTest, ServiceItemNames) {
  for (const char* name : {".cloud-x", ".korvo1", "a.TMP", "b.~", "c.crdownload", "Thumbs.db",
                           "DESKTOP.INI", "~$doc", ".~lock"}) {
    EXPECT_TRUE(service_items::IsServiceFileName(name)) << name;
  }
  for (const char* name : {"", ".clou", "a.tmpx", "thumbs.dbx", "report.txt"}) {
    EXPECT_FALSE(service_items::IsServiceFileName(name)) << name;
  }
  EXPECT_TRUE(service_items::IsServiceFolderName("system volume information"));
  EXPECT_TRUE(service_items::IsServiceFolderName(".korvo"));
  EXPECT_TRUE(service_items::IsServiceFileName(".cloud"));
  EXPECT_FALSE(service_items::IsServiceFolderName(".cloudy"));
}

// ---------------------------------------------------------------- normalization-insensitive

const char kDecomposed[] = "e\xcc\x81.txt";  // e + COMBINING ACUTE ACCENT
const char kComposed[] = "\xc3\xa9.txt";     // é

TEST(FolderNodeFsOsxTest, LookupsIgnoreTheNormalizationForm) {
  UniqueNodePtr<FolderNode> root = FolderNodeFS_OSX::MakeRoot();
  root->SetControlledInodeCollection(std::make_shared<InodeCollection>());
  ChildIter<FileNode> where;
  ASSERT_TRUE(root->CreateFile(kDecomposed, &where, 0, SomeHash(), 0, 1, false, false));
  EXPECT_EQ(where.node, root->GetFile(kComposed, false));
  LogWatch watch;
  EXPECT_FALSE(root->CreateFile(kComposed, &where, 0, SomeHash(), 0, 2, false, false));
  EXPECT_TRUE(watch.Contains("InsertFile: Already exists."));

  UniqueNodePtr<FolderNode> other = FolderNodeFS_OSX::MakeRoot();
  ASSERT_TRUE(other->CreateFile(kComposed, &where, 0, SomeHash(), 0, 1, false, false));
  EXPECT_EQ(where.node, other->GetFile(kDecomposed, false));
  EXPECT_FALSE(other->CreateFile(kDecomposed, &where, 0, SomeHash(), 0, 2, false, false));
  // Case-insensitive: a decomposed upper-case query finds a composed child...
  EXPECT_NE(nullptr, other->GetFile("E\xcc\x81.TXT", true));
  // ...but the composed-key map is case-sensitive.
  EXPECT_EQ(nullptr, root->GetFile("\xc3\x89.txt", true));

  ChildIter<FolderNode> sub;
  ASSERT_TRUE(root->CreateFolder("sub", &sub, 0, 0, false, false));
  EXPECT_NE(nullptr, dynamic_cast<FolderNodeFS_OSX*>(sub.node));

  auto* osx = static_cast<FolderNodeFS_OSX*>(root.get());
  ChildIter<FileNode> found;
  EXPECT_TRUE(FolderNodeFS_OSX::FindFileNormInsensitive(root.get(), kComposed, &found));
  EXPECT_TRUE(root->RenameFile(&found, "plain.txt"));
  EXPECT_TRUE(osx->ValidateNormKeys());
  EXPECT_EQ(nullptr, root->GetFile(kComposed, false));

  // Two decomposed spellings of one composed name: ANGSTROM SIGN and A with
  // a combining ring both compose to U+00C5.
  UniqueNodePtr<FolderNode> angstrom = FolderNodeFS_OSX::MakeRoot();
  ASSERT_TRUE(angstrom->CreateFile("\xe2\x84\xab", &where, 0, SomeHash(), 0, 0, false, false));
  EXPECT_FALSE(angstrom->CreateFile("A\xcc\x8a", &where, 0, SomeHash(), 0, 0, false, false));
  EXPECT_TRUE(static_cast<FolderNodeFS_OSX*>(angstrom.get())->ValidateNormKeys());

  UniqueNodePtr<FolderNode> copy = FolderNodeFS_OSX::MakeRoot();
  ASSERT_TRUE(copy->CreateFile(kDecomposed, &where, 0, SomeHash(), 0, 0, false, false));
  UniqueNodePtr<FolderNode> target = FolderNodeFS_OSX::MakeRoot();
  ASSERT_TRUE(target->DeepCopyContentFrom(copy.get()));
  EXPECT_NE(nullptr, target->GetFile(kComposed, false));
  EXPECT_NE(nullptr, target->GetFile(kDecomposed, false));
  target->Clear();
  EXPECT_TRUE(static_cast<FolderNodeFS_OSX*>(target.get())->ValidateNormKeys());
  EXPECT_EQ(nullptr, target->GetFile(kComposed, false));
  EXPECT_TRUE(Validate(*root));
}

TEST(FileTreeTest, DetachingWithAStaleIteratorFindsTheFollowerByName) {
  Tree tree;
  FolderNode* root = tree.root.get();
  tree.File(root, "a");
  ChildIter<FileNode> a = root->FindFile("a", false);
  for (int i = 0; i < 200; ++i) tree.File(root, "f" + std::to_string(i));  // |a.it| goes stale
  ChildIter<FileNode> next;
  UniqueNodePtr<FileNode> detached = root->DetachFile(a, &next);
  ASSERT_NE(nullptr, detached);
  ASSERT_FALSE(next.IsEnd());
  EXPECT_EQ("f0", next->GetName());
}

TEST(FileTreeTest, DeepCopyRefusesOverlappingTrees) {
  Tree tree;
  FolderNode* root = tree.root.get();
  FolderNode* a = tree.Folder(root, "a");
  tree.File(a, "x");
  LogWatch watch;
  EXPECT_FALSE(root->DeepCopyContentFrom(a));
  EXPECT_FALSE(a->DeepCopyContentFrom(root));
  EXPECT_EQ(2u, watch.fatals());
  EXPECT_EQ(a, root->GetFolder("a", false));
  EXPECT_NE(nullptr, a->GetFile("x", false));
}

TEST(FileTreeTest, DeepCopyKeepsNestedStatuses) {
  Tree source;
  FolderNode* a = source.Folder(source.root.get(), "a");
  FolderNode* b = source.Folder(a, "b");
  b->SetStatus(FolderNode::kBadName);
  source.File(b, "f")->SetStatus(FileNode::kVirus);
  Tree copy;
  ASSERT_TRUE(copy.root->DeepCopyContentFrom(source.root.get()));
  EXPECT_EQ(FolderNode::kBadName, copy.root->GetFolderAtPath("a/b", false)->GetStatus());
  EXPECT_EQ(FileNode::kVirus, copy.root->GetFileAtPath("a/b/f", false)->GetStatus());
  EXPECT_EQ(2u, copy.root->CountErrors());
}

TEST(FileTreeTest, AFormerRootJoinsTheCollectionWithItsOwnInode) {
  Tree tree;
  // A named folder outside any tree, made the root of its own collection.
  FolderNode helper(0, 0, false, false);
  ChildIter<FolderNode> made;
  ASSERT_TRUE(helper.CreateFolder("sub", &made, 5, 0, false, false));
  UniqueNodePtr<FolderNode> sub = helper.DetachFolder(made);
  ChildIter<FileNode> file;
  ASSERT_TRUE(sub->CreateFile("f", &file, 0, SomeHash(), 0, 6, false, false));
  LogWatch watch;
  ASSERT_TRUE(sub->SetControlledInodeCollection(tree.inodes));  // a root: files only
  EXPECT_EQ(file.node, tree.inodes->GetFileByInode(6));
  EXPECT_EQ(nullptr, tree.inodes->GetFolderByInode(5));
  ChildIter<FolderNode> where;
  ASSERT_TRUE(tree.root->InsertFolder(std::move(sub), &where));
  EXPECT_EQ(where.node, tree.inodes->GetFolderByInode(5));
  EXPECT_EQ(0u, watch.fatals());
}

// ---------------------------------------------------------------- randomized

// Applies random operations to a tree and to a plain model (a map of full
// paths) and checks that they agree.
class RandomTreeTest : public ::testing::Test {
 protected:
  enum Kind { kFile = 0, kFolder = 1 };
  struct Item {
    uint64_t inode = 0;
    bool changed = false;
    int status = 0;
  };
  using Key = std::pair<Kind, std::string>;

  std::string RandomName() {
    static const char* const kNames[] = {"a", "A", "b", "B", "ab", "Ab", "aB", "x.txt", "X.TXT",
                                         "\xc3\xa4", "\xc3\x84", "\xd0\xb4", "\xd0\x94", "n"};
    std::string name = kNames[random_() % std::size(kNames)];
    const int suffix = static_cast<int>(random_() % 6);
    if (suffix < 4) name += static_cast<char>('0' + suffix);
    return name;
  }
  static std::string Join(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
  }
  static std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
  }
  std::vector<std::string> Folders() const {
    std::vector<std::string> folders = {""};
    for (const auto& [key, item] : model_) {
      if (key.first == kFolder) folders.push_back(key.second);
    }
    return folders;
  }
  template <class T>
  const T& Pick(const std::vector<T>& items) { return items[random_() % items.size()]; }
  std::vector<Key> Keys(Kind kind) const {
    std::vector<Key> keys;
    for (const auto& [key, item] : model_) {
      if (key.first == kind) keys.push_back(key);
    }
    return keys;
  }
  FolderNode* FolderAt(const std::string& path) {
    return path.empty() ? tree_.root.get() : tree_.root->GetFolderAtPath(path, false);
  }
  // Moves every model entry under |from| (the folder itself included) to |to|.
  void MoveSubtree(const std::string& from, const std::string& to) {
    std::map<Key, Item> moved;
    for (auto it = model_.begin(); it != model_.end();) {
      const std::string& path = it->first.second;
      const bool below = path.size() > from.size() && path.compare(0, from.size(), from) == 0 &&
                         path[from.size()] == '/';
      if ((it->first.first == kFolder && path == from) || below) {
        moved[{it->first.first, to + path.substr(from.size())}] = it->second;
        it = model_.erase(it);
      } else {
        ++it;
      }
    }
    model_.insert(moved.begin(), moved.end());
  }
  void EraseSubtree(const std::string& from) {
    MoveSubtree(from, "\x01gone");
    for (auto it = model_.begin(); it != model_.end();) {
      it = it->first.second.starts_with("\x01gone") ? model_.erase(it) : std::next(it);
    }
  }

  void Step() {
    // Creation outweighs removal, so that the tree grows to hundreds of nodes.
    static constexpr int kOps[20] = {0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 3, 3, 4, 4, 5, 6, 6, 7, 8, 9};
    const int op = kOps[random_() % 20];
    const std::vector<std::string> folders = Folders();
    switch (op) {
      case 0:
      case 1: {  // create a file or a folder
        const Kind kind = op == 0 ? kFile : kFolder;
        const std::string parent = Pick(folders);
        const std::string name = RandomName();
        const uint64_t inode = random_() % 3 == 0 ? 0 : next_inode_++;
        FolderNode* folder = FolderAt(parent);
        ASSERT_NE(nullptr, folder) << parent;
        const bool taken = model_.count({kind, Join(parent, name)}) != 0;
        bool created;
        if (kind == kFile) {
          ChildIter<FileNode> where;
          created = folder->CreateFile(std::string(name), &where, random_() % 1000, SomeHash(), 0,
                                       inode, false, false);
        } else {
          ChildIter<FolderNode> where;
          created = folder->CreateFolder(std::string(name), &where, inode, 0, false, false);
        }
        ASSERT_EQ(!taken, created) << Join(parent, name);
        if (created) model_[{kind, Join(parent, name)}] = Item{inode};
        break;
      }
      case 2:
      case 3: {  // move or rename a file
        const std::vector<Key> files = Keys(kFile);
        if (files.empty()) break;
        const std::string path = Pick(files).second;
        const std::string target = op == 2 ? ParentOf(path) : Pick(folders);
        const std::string name = RandomName();
        FolderNode* from = FolderAt(ParentOf(path));
        FolderNode* to = FolderAt(target);
        ChildIter<FileNode> it = from->FindFile(path.substr(path.rfind('/') + 1), false);
        ASSERT_FALSE(it.IsEnd()) << path;
        const std::string dest = Join(target, name);
        const bool ok = dest == path || model_.count({kFile, dest}) == 0;
        const ResultInsert result = op == 2 ? from->RenameFileTry(&it, std::string(name))
                                            : FolderNode::MoveFileTry(from, to, &it, std::string(name));
        ASSERT_EQ(ok, result == ResultInsert::Inserted) << path << " -> " << dest;
        ASSERT_FALSE(it.IsEnd());
        if (ok && dest != path) {
          model_[{kFile, dest}] = model_[{kFile, path}];
          model_.erase({kFile, path});
        }
        ASSERT_EQ(ok ? dest : path, it->CollectPath());
        break;
      }
      case 4: {  // move or rename a folder
        const std::vector<Key> subfolders = Keys(kFolder);
        if (subfolders.empty()) break;
        const std::string path = Pick(subfolders).second;
        const std::string target = Pick(folders);
        const std::string name = RandomName();
        FolderNode* from = FolderAt(ParentOf(path));
        FolderNode* to = FolderAt(target);
        ChildIter<FolderNode> it = from->FindFolder(path.substr(path.rfind('/') + 1), false);
        ASSERT_FALSE(it.IsEnd());
        const std::string dest = Join(target, name);
        const bool into_itself = target == path || target.starts_with(path + "/");
        const bool ok = !into_itself && (dest == path || model_.count({kFolder, dest}) == 0);
        const ResultInsert result = FolderNode::MoveFolderTry(from, to, &it, std::string(name));
        ASSERT_EQ(ok, result == ResultInsert::Inserted) << path << " -> " << dest;
        if (ok && dest != path) MoveSubtree(path, dest);
        break;
      }
      case 5: {  // remove a file or a folder
        const Kind kind = random_() % 4 ? kFile : kFolder;
        const std::vector<Key> keys = Keys(kind);
        if (keys.empty()) break;
        const std::string path = Pick(keys).second;
        FolderNode* parent = FolderAt(ParentOf(path));
        const std::string name = path.substr(path.rfind('/') + 1);
        if (kind == kFile) {
          ChildIter<FileNode> it = parent->FindFile(name, false);
          ASSERT_TRUE(parent->DeleteFile(&it));
          model_.erase({kFile, path});
        } else {
          ChildIter<FolderNode> it = parent->FindFolder(name, false);
          ASSERT_TRUE(parent->DeleteFolder(&it));
          EraseSubtree(path);
        }
        break;
      }
      case 6:
      case 7: {  // change flags and statuses
        const Kind kind = random_() % 2 ? kFile : kFolder;
        const std::vector<Key> keys = Keys(kind);
        if (keys.empty()) break;
        const Key key = Pick(keys);
        Item& item = model_[key];
        FolderNode* parent = FolderAt(ParentOf(key.second));
        const std::string name = key.second.substr(key.second.rfind('/') + 1);
        const bool changed = random_() % 2;
        const int status = static_cast<int>(random_() % 4 == 0 ? 0 : random_() % 14);
        if (kind == kFile) {
          FileNode* file = parent->GetFile(name, false);
          file->SetChanged(changed);
          file->SetStatus(static_cast<FileNode::FileStatus>(status));
        } else {
          FolderNode* folder = parent->GetFolder(name, false);
          folder->SetChanged(changed);
          folder->SetStatus(static_cast<FolderNode::FolderStatus>(status));
        }
        item.changed = changed;
        item.status = status;
        break;
      }
      case 8: {  // a new inode, sometimes one already in use
        const std::vector<Key> files = Keys(kFile);
        if (files.empty()) break;
        const Key key = Pick(files);
        const uint64_t inode = random_() % 5 == 0 ? model_[Pick(files)].inode : next_inode_++;
        FileNode* file = tree_.root->GetFileAtPath(key.second, false);
        ASSERT_TRUE(file->SetInode(inode));
        model_[key].inode = inode;
        break;
      }
      case 9: {  // subtree-wide change marks
        const std::string path = Pick(folders);
        FolderNode* folder = FolderAt(path);
        const bool set = random_() % 2;
        set ? folder->SetChangedDown() : folder->SetNotChangedDown();
        for (auto& [key, item] : model_) {
          const bool itself = key.first == kFolder && key.second == path;
          if (path.empty() || itself || key.second.starts_with(path + "/")) item.changed = set;
        }
        break;
      }
    }
  }

  void CheckAgainstModel() {
    ASSERT_TRUE(Validate(*tree_.root)) << "seed " << seed_;
    size_t files = 0, folders = 0, changed = 0, errors = 0;
    std::map<uint64_t, int> file_inodes;
    for (const auto& [key, item] : model_) {
      const std::string& path = key.second;
      if (key.first == kFile) {
        ++files;
        const FileNode* file = tree_.root->GetFileAtPath(path, false);
        ASSERT_NE(nullptr, file) << path;
        ASSERT_EQ(item.inode, file->GetInode()) << path;
        ASSERT_EQ(item.changed, file->IsChanged()) << path;
        ASSERT_EQ(item.status, file->GetStatus()) << path;
        ASSERT_EQ(path, file->CollectPath());
        if (item.inode) ++file_inodes[item.inode];
      } else {
        ++folders;
        const FolderNode* folder = tree_.root->GetFolderAtPath(path, false);
        ASSERT_NE(nullptr, folder) << path;
        ASSERT_EQ(item.changed, folder->IsChanged()) << path;
        ASSERT_EQ(item.status, folder->GetStatus()) << path;
        if (item.inode) {
          ASSERT_NE(nullptr, tree_.inodes->GetFolderByInode(item.inode));
        }
      }
      changed += item.changed ? 1 : 0;
      errors += item.status != 0 ? 1 : 0;
    }
    ASSERT_EQ(files, tree_.root->CountFilesDown(WithServiceItems(true)));
    ASSERT_EQ(folders, tree_.root->CountFoldersDown(WithServiceItems(true)));
    ASSERT_EQ(static_cast<int32_t>(changed), tree_.root->CountChangedChildren());
    ASSERT_EQ(errors, tree_.root->CountErrors());
    for (const auto& [inode, count] : file_inodes) {
      if (count == 1) {
        const FileNode* file = tree_.inodes->GetFileByInode(inode);
        ASSERT_NE(nullptr, file);
        ASSERT_EQ(inode, file->GetInode());
      }
    }
  }

  Tree tree_;
  std::map<Key, Item> model_;
  uint64_t seed_ = 20261210;
  std::mt19937_64 random_{seed_};
  uint64_t next_inode_ = 1;
};

TEST_F(RandomTreeTest, AgreesWithAPathModel) {
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed_));
  size_t largest = 0;
  for (int batch = 0; batch < 60; ++batch) {
    for (int i = 0; i < 500; ++i) {
      ASSERT_NO_FATAL_FAILURE(Step()) << "seed " << seed_ << " batch " << batch << " step " << i;
    }
    ASSERT_NO_FATAL_FAILURE(CheckAgainstModel()) << "batch " << batch;
    largest = std::max(largest, model_.size());
  }
  // The tree must have grown and shrunk for the run to mean something.
  EXPECT_GT(largest, 100u);
  std::printf("largest tree: %zu nodes, final: %zu\n", largest, model_.size());
}

}  // namespace
