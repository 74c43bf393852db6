#ifndef KORVO_CORE_TREE_FILE_TREE_H_
#define KORVO_CORE_TREE_FILE_TREE_H_

#include <absl/container/btree_set.h>

#include <QString>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>

#include "core/export.h"
#include "core/hash/hashes.h"
#include "core/infra/tagged_bool.h"
#include "core/tree/file_system.h"
#include "core/tree/tree_info.h"

// The in-memory mirror of one storage's folder tree. A tree has no lock of
// its own: its owner serialises every access. Problems are logged at level
// Fatal and reported through results; nothing throws.

class ChildNode;
class FileNode;
class FolderNode;
class InodeCollection;

// A node outside a tree. Releasing a folder destroys its subtree.
template <class T>
using UniqueNodePtr = std::unique_ptr<T>;

// Whether counts include the service items of the synchronisation code.
using WithServiceItems = utils::TaggedBool<struct WithServiceItemsTag>;

// The result of an insertion, move or rename.
enum class ResultInsert : int32_t {
  Inserted = 0,
  AlreadyExists = 1,
  EmptyName = 2,
  FailedLowercase = 3,
  FailedSetChanged = 4,
  FailedInodes = 5,
  FailedOther = 6,
};
KORVO_EXPORT const char* ResultInsertToStr(ResultInsert result);

namespace tree_internal {

// A node's name and, when lowercasing changes it, its lowercase form, in one
// heap block behind one pointer: [name length][lowercase length][name][lowercase].
class NodeName {
 public:
  static constexpr size_t kMaxLength = 0xFFFF;

  NodeName() = default;
  ~NodeName() { delete[] block_; }
  NodeName(const NodeName&) = delete;
  NodeName& operator=(const NodeName&) = delete;

  // Lengths above kMaxLength are refused. |lowercase| is empty when it would
  // equal |name|.
  bool Set(std::string_view name, std::string_view lowercase);
  void Clear() {
    delete[] block_;
    block_ = nullptr;
  }
  void Swap(NodeName& other) { std::swap(block_, other.block_); }

  std::string_view name() const {
    return block_ ? std::string_view(block_ + 4, Length(0)) : std::string_view();
  }
  std::string_view lowercase() const {
    return block_ ? std::string_view(block_ + 4 + Length(0), Length(2)) : std::string_view();
  }

 private:
  size_t Length(int at) const {
    return static_cast<unsigned char>(block_[at]) | static_cast<unsigned char>(block_[at + 1]) << 8;
  }

  char* block_ = nullptr;
};

template <class Node>
struct NameLess {
  using is_transparent = void;
  static std::string_view Key(const Node* node) { return node->GetName(); }
  static std::string_view Key(std::string_view name) { return name; }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return Key(a) < Key(b);
  }
};

template <class Node>
struct LowercaseLess {
  using is_transparent = void;
  static std::string_view Key(const Node* node) { return node->GetNameLowercase(); }
  static std::string_view Key(std::string_view name) { return name; }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return Key(a) < Key(b);
  }
};

template <class Node>
using ChildSet = absl::btree_set<Node*, NameLess<Node>>;
template <class Node>
using LowercaseIndex = absl::btree_multiset<Node*, LowercaseLess<Node>>;

// Removes |node|'s own entry from |index|, if it has one.
template <class Node>
void LowercaseIndexErase(LowercaseIndex<Node>& index, Node* node) {
  auto [first, last] = index.equal_range(node->GetNameLowercase());
  for (auto it = first; it != last; ++it) {
    if (*it == node) {
      index.erase(it);
      return;
    }
  }
}

}  // namespace tree_internal

// The children of one kind of a folder, in name order, as a range of node
// pointers: what the folder's child sets are made of stays the tree's own
// business. Valid until the folder's children change.
template <class Node>
class ChildRange {
  using Set = tree_internal::ChildSet<Node>;

 public:
  class Iterator {
   public:
    using value_type = Node*;
    using difference_type = std::ptrdiff_t;
    Iterator() = default;
    Node* operator*() const { return *it_; }
    Iterator& operator++() {
      ++it_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++it_;
      return old;
    }
    bool operator==(const Iterator& other) const { return it_ == other.it_; }
    bool operator!=(const Iterator& other) const { return it_ != other.it_; }

   private:
    friend class ChildRange;
    explicit Iterator(typename Set::const_iterator it) : it_(it) {}
    typename Set::const_iterator it_{};
  };

  explicit ChildRange(const Set& set) : set_(&set) {}
  Iterator begin() const { return Iterator(set_->begin()); }
  Iterator end() const { return Iterator(set_->end()); }
  size_t size() const { return set_->size(); }
  bool empty() const { return set_->empty(); }

 private:
  const Set* set_;
};

// A child found by a lookup: its position in the parent's name set and the
// node. The end iterator (no node) means there is no such child.
template <class T>
struct ChildIter {
  using Node = std::remove_const_t<T>;
  typename tree_internal::ChildSet<Node>::const_iterator it{};
  T* node = nullptr;

  bool IsEnd() const { return node == nullptr; }
  explicit operator bool() const { return node != nullptr; }
  T* operator->() const { return node; }
  T& operator*() const { return *node; }
};

class SetChangedListener {
 public:
  virtual ~SetChangedListener() = default;
  // |folder| just got its first changed descendant.
  virtual void OnFolderChanged(FolderNode* folder) = 0;
};

class SetNotChangedListener {
 public:
  virtual ~SetNotChangedListener() = default;
  // |folder| just lost its last changed descendant.
  virtual void OnFolderNotChanged(FolderNode* folder) = 0;
};

// What files and folders share: name, inode, time, parent and flags.
class KORVO_EXPORT ChildNode {
 public:
  ChildNode(const ChildNode&) = delete;
  ChildNode& operator=(const ChildNode&) = delete;

  std::string_view GetName() const { return name_.name(); }
  // The lowercase NFC form of the name.
  std::string_view GetNameLowercase() const {
    const std::string_view lowercase = name_.lowercase();
    return lowercase.empty() ? name_.name() : lowercase;
  }
  bool NameIsLowercase() const { return name_.lowercase().empty(); }

  uint64_t GetInode() const { return inode_; }
  bool IsValidInode() const { return inode_ != 0; }
  uint64_t GetTime() const { return time_; }
  void SetTime(uint64_t time) { time_ = time; }
  FolderNode* Parent() const { return parent_; }
  bool IsInTree() const { return parent_ != nullptr; }

  // Cleared by MarkChildrenNotExist, set again by code applying a listing.
  bool Exists() const { return exists_; }
  void SetExists(bool exists) { exists_ = exists; }
  bool IsFSHiddenAttributeSet() const { return fs_hidden_; }
  void SetFSHiddenAttribute(bool hidden) { fs_hidden_ = hidden; }
  bool IsOffline() const { return offline_; }
  void SetOffline(bool offline) { offline_ = offline; }
  bool IsOfflineOrInOfflineFolder() const;

  // Change tracking: every ancestor counts the changed nodes below it.
  bool IsChanged() const { return changed_; }
  void SetChanged(bool changed);
  void SetChanged(SetChangedListener* listener);
  void SetNotChanged(SetNotChangedListener* listener);
  void SetNotChanged() { SetChanged(false); }

  // The names from the root down to this node, joined by "/".
  std::string CollectPath() const;

 protected:
  friend class FolderNode;
  friend class InodeCollection;

  ChildNode(uint64_t inode, uint64_t time, bool offline)
      : inode_(inode), time_(time), offline_(offline) {}
  ~ChildNode() = default;

  // Stores the name and its lowercase form; false (logged) when lowercasing
  // fails, which leaves the node without a name.
  bool SetName(std::string&& name);
  bool SetName(std::string_view name);
  // The name block SetName would store, without touching the node.
  static bool MakeName(std::string_view name, tree_internal::NodeName* out);

  static bool AddToInodeCollection(InodeCollection* collection, FileNode* node);
  static bool AddToInodeCollection(InodeCollection* collection, FolderNode* node);
  static bool RemoveFromInodeCollection(InodeCollection* collection, FileNode* node);
  static bool RemoveFromInodeCollection(InodeCollection* collection, FolderNode* node);
  static void ForgetInode(InodeCollection* collection, FileNode* node);
  // Moves |node|'s registration in |collection| (may be null) to |inode|.
  template <class Node>
  static bool ChangeInode(Node* node, uint64_t inode, InodeCollection* collection);
  static void ForgetInode(InodeCollection* collection, FolderNode* node);

  // Adds |delta| to the changed-children counters from the parent up.
  void AddChangesUp(int32_t delta);
  // Adds to the error counters from the parent up.
  void AddErrorsUp(int32_t reload_sync, int32_t other);

  tree_internal::NodeName name_;
  uint64_t inode_;
  uint64_t time_;
  FolderNode* parent_ = nullptr;
  bool exists_ : 1 = true;
  bool changed_ : 1 = false;
  bool offline_ : 1 = false;
  bool fs_hidden_ : 1 = false;
  bool needs_update_ : 1 = false;
};

class KORVO_EXPORT FileNode : public ChildNode {
 public:
  enum ReadonlyStatus : uint8_t { kNotReadonly = 0, kReadonly = 1 };
  enum FileStatus : uint8_t {
    kStatusOk = 0,
    kDeleteError = 1,
    kRenameError = 2,
    kOpenError = 3,
    kUpdateLocalError = 4,
    kCloseError = 5,
    kUploadError = 6,
    kNoSpaceInCloud = 7,
    kNoSpaceOnDisk = 8,
    kTooLarge = 9,
    kAccessDenied = 10,
    kContentBlocked = 11,
    kNameTooLong = 12,
    kPathTooLong = 13,
    kBadName = 14,
    kSymlink = 15,
    kVirus = 16,
    kCaseConflict = 17,
    kFileAccessDenied = 18,
  };
  static constexpr uint64_t kMaxFileSize = 1099511627776;  // 1 TiB

  FileNode(uint64_t size, const SomeHash& hash, uint64_t time, uint64_t inode, bool readonly,
           bool offline);
  // Leaves all-ones inode, time and size behind, so a stale pointer shows.
  ~FileNode();

  uint64_t GetSize() const { return size_; }
  // Up to kMaxFileSize; a larger size logs and keeps the old one.
  bool SetSize(uint64_t size);
  const SomeHash& GetHash() const { return hash_; }
  bool IsHashSet() const { return !hash_.IsEmpty(); }
  bool SetHash(const SomeHash& hash);
  void ClearHash() { hash_.Reset(); }
  bool SetInode(uint64_t inode);
  bool ResetInode() { return SetInode(0); }
  bool IsReadonly() const { return readonly_ == kReadonly; }
  bool SetReadonly(bool readonly);
  bool DoesNeedUpdate() const { return needs_update_; }
  bool SetNeedsUpdate(bool needs_update);

  bool SetProperties(const SomeHash& hash, uint64_t size, uint64_t time, uint64_t inode);
  bool SetProperties(const FileSystem::FileProperties& properties);
  FileSystem::FileProperties GetProperties() const;
  FileSystem::FileHashSize GetHashSize() const { return {hash_, size_}; }

  FileStatus GetStatus() const { return status_; }
  bool IsStatusOK() const { return status_ == kStatusOk; }
  // Keeps the error counters of every ancestor right unless |quiet|.
  void SetStatus(FileStatus status, bool quiet = false);
  bool HasError(bool* reload_sync) const;
  static bool IsErrorReloadSync(FileStatus status);
  // The user-visible text of |status|, " в Veltra" or " на ПК" where it names
  // a place.
  static QString StatusToString(FileStatus status, bool in_cloud);

 private:
  friend class FolderNode;
  UniqueNodePtr<FileNode> Clone() const;

  ReadonlyStatus readonly_ = kNotReadonly;
  FileStatus status_ = kStatusOk;
  SomeHash hash_;
  uint64_t size_ = 0;
};

class KORVO_EXPORT FolderNode : public ChildNode {
 public:
  enum ReadonlyStatus : uint8_t { kNotReadonly = 0, kReadonly = 1 };
  enum FolderStatus : uint8_t {
    kStatusOk = 0,
    kDeleteError = 1,
    kRenameError = 2,
    kUpdateError = 3,
    kUpdateError2 = 4,
    kCreateError = 5,
    kReadonlyFolder = 6,
    kNameTooLong = 7,
    kPathTooLong = 8,
    kBadName = 9,
    kCyclicSymlink = 10,
    kSymlink = 11,
    kCaseConflict = 12,
    kAccessDenied = 13,
  };
  using FileSet = tree_internal::ChildSet<FileNode>;
  using FolderSet = tree_internal::ChildSet<FolderNode>;

  FolderNode(uint64_t inode, uint64_t time, bool readonly, bool offline);
  virtual ~FolderNode();

  // A new folder with no name, inode 0 and time 0.
  static UniqueNodePtr<FolderNode> MakeRoot();

  // ---- insertion; a node that is not inserted comes back in |rejected|
  // when that is given, and is destroyed otherwise.
  virtual ResultInsert InsertFileTry(UniqueNodePtr<FileNode>&& node, ChildIter<FileNode>* where,
                                     UniqueNodePtr<FileNode>* rejected);
  virtual ResultInsert InsertFolderTry(UniqueNodePtr<FolderNode>&& node,
                                       ChildIter<FolderNode>* where,
                                       UniqueNodePtr<FolderNode>* rejected);
  virtual ResultInsert RenameFolderTry(ChildIter<FolderNode>* it, std::string&& new_name);
  virtual ResultInsert RenameFileTry(ChildIter<FileNode>* it, std::string&& new_name);
  // Makes this folder's content a deep copy of |other|'s.
  virtual bool DeepCopyContentFrom(const FolderNode* other);
  // Destroys every child and zeroes the counters and the status; keeps this
  // folder's identity and inode collection.
  virtual void Clear();

  // ---- lookups. |*exact| becomes false for a case-insensitive match only.
  virtual ChildIter<const FileNode> FindFile(std::string_view name, bool case_insensitive,
                                             bool* exact = nullptr) const;
  virtual ChildIter<const FolderNode> FindFolder(std::string_view name, bool case_insensitive,
                                                 bool* exact = nullptr) const;
  ChildIter<FileNode> FindFile(std::string_view name, bool case_insensitive,
                               bool* exact = nullptr);
  ChildIter<FolderNode> FindFolder(std::string_view name, bool case_insensitive,
                                   bool* exact = nullptr);
  virtual const FileNode* GetFile(std::string_view name, bool case_insensitive,
                                  bool* exact = nullptr) const;
  virtual const FolderNode* GetFolder(std::string_view name, bool case_insensitive,
                                      bool* exact = nullptr) const;
  FileNode* GetFile(std::string_view name, bool case_insensitive, bool* exact = nullptr);
  FolderNode* GetFolder(std::string_view name, bool case_insensitive, bool* exact = nullptr);
  virtual bool HasFile(std::string_view name, bool case_insensitive, bool* flag = nullptr) const;
  virtual bool HasFolder(std::string_view name, bool case_insensitive,
                         bool* flag = nullptr) const;
  virtual bool HasFileNamedLike(const ChildNode* node, bool case_insensitive,
                                bool* flag = nullptr) const;
  virtual bool HasFolderNamedLike(const ChildNode* node, bool case_insensitive,
                                  bool* flag = nullptr) const;
  bool HasChild(std::string_view name, bool case_insensitive) const;
  bool HasChildNamedLike(const ChildNode* node, bool case_insensitive,
                         bool* flag = nullptr) const;

  // ---- insertion helpers that log failures.
  bool InsertFile(UniqueNodePtr<FileNode>&& node, ChildIter<FileNode>* where,
                  UniqueNodePtr<FileNode>* rejected = nullptr);
  bool InsertFolder(UniqueNodePtr<FolderNode>&& node, ChildIter<FolderNode>* where,
                    UniqueNodePtr<FolderNode>* rejected = nullptr);
  bool CreateFile(std::string&& name, ChildIter<FileNode>* where, uint64_t size,
                  const SomeHash& hash, uint64_t time, uint64_t inode, bool readonly,
                  bool offline);
  bool CreateFolder(std::string&& name, ChildIter<FolderNode>* where, uint64_t inode,
                    uint64_t time, bool readonly, bool offline);

  // ---- removal: the child leaves the tree and belongs to the caller.
  virtual FileNode* RemoveFile(ChildIter<FileNode>* it);
  bool DeleteFile(ChildIter<FileNode>* it);
  bool DeleteFolder(ChildIter<FolderNode>* it);
  // |*next| (if given) receives the following child.
  UniqueNodePtr<FileNode> DetachFile(ChildIter<FileNode> it, ChildIter<FileNode>* next = nullptr);
  UniqueNodePtr<FolderNode> DetachFolder(ChildIter<FolderNode> it,
                                         ChildIter<FolderNode>* next = nullptr);

  // ---- moves and renames keep the node where it was when they fail.
  ResultInsert MoveFileFromTry(FolderNode* from, ChildIter<FileNode>* it, std::string&& new_name);
  ResultInsert MoveFolderFromTry(FolderNode* from, ChildIter<FolderNode>* it,
                                 std::string&& new_name);
  bool MoveFileFrom(FolderNode* from, ChildIter<FileNode>* it, std::string&& new_name);
  bool MoveFolderFrom(FolderNode* from, ChildIter<FolderNode>* it, std::string&& new_name);
  static ResultInsert MoveFileTry(FolderNode* from, FolderNode* to, ChildIter<FileNode>* it,
                                  std::string&& new_name);
  static bool MoveFile(FolderNode* from, FolderNode* to, ChildIter<FileNode>* it,
                       std::string&& new_name);
  static ResultInsert MoveFolderTry(FolderNode* from, FolderNode* to, ChildIter<FolderNode>* it,
                                    std::string&& new_name);
  static bool MoveFolder(FolderNode* from, FolderNode* to, ChildIter<FolderNode>* it,
                         std::string&& new_name);
  bool RenameFile(ChildIter<FileNode>* it, std::string&& new_name);
  bool RenameFolder(ChildIter<FolderNode>* it, std::string&& new_name);

  // ---- navigation over paths relative to this folder ("a/b/c").
  std::tuple<FolderNode*, std::string_view> TraversePath(std::string_view path,
                                                         bool case_insensitive,
                                                         bool* exact = nullptr);
  std::tuple<const FolderNode*, std::string_view> TraversePath(std::string_view path,
                                                               bool case_insensitive,
                                                               bool* exact = nullptr) const;
  bool GetItemAtPath(std::string_view path, FolderNode** folder, FileNode** file,
                     bool case_insensitive);
  FolderNode* GetFolderAtPath(std::string_view path, bool case_insensitive);
  FileNode* GetFileAtPath(std::string_view path, bool case_insensitive);
  FolderNode* TraversePathToLastExistingDir(std::string_view path, std::string_view* rest,
                                            bool case_insensitive, bool* exact = nullptr);
  FolderNode* TraversePathAndCreateDirs(std::string_view path, std::string_view* last_name,
                                        bool case_insensitive, bool* exact = nullptr,
                                        FolderNode** first_created = nullptr);

  // ---- children, in name order.
  ChildRange<FileNode> IterFiles() const { return ChildRange<FileNode>(files_); }
  ChildRange<FolderNode> IterFolders() const { return ChildRange<FolderNode>(folders_); }
  size_t FileCount() const { return files_.size(); }
  size_t FolderCount() const { return folders_.size(); }
  size_t FileKeyCount() const { return files_lowercase_.size(); }
  size_t FolderKeyCount() const { return folders_lowercase_.size(); }
  size_t CountChildrenDown(WithServiceItems with_service_items) const;
  size_t CountFilesDown(WithServiceItems with_service_items) const;
  size_t CountFoldersDown(WithServiceItems with_service_items) const;
  uint64_t FolderSize(WithServiceItems with_service_items) const;
  bool HasNonEmptyFile() const;

  // ---- flags.
  bool IsReadonly() const { return readonly_ != kNotReadonly; }
  bool SetReadonly(bool readonly);
  bool DoesNeedUpdate() const { return needs_update_; }
  bool SetNeedsUpdate(bool needs_update);
  bool SetInode(uint64_t inode);
  bool ResetInode() { return SetInode(0); }
  FileSystem::FolderProperties GetProperties() const;
  void SetOfflineDown(bool offline);

  // ---- change tracking.
  bool HasChanges() const { return changed_ || changed_children_ > 0; }
  int32_t CountChangedChildren() const { return changed_children_; }
  int32_t CountChanges() const { return changed_children_ + (changed_ ? 1 : 0); }
  void SetChangedDown();
  void SetChangedFoldersDown();
  void SetNotChangedDown();
  void ApplyNotChangedDown();
  void SetNeedsUpdateAndChanged();
  bool HasChangedNewItems() const;

  // ---- statuses and error counters.
  FolderStatus GetStatus() const { return status_; }
  bool IsStatusOK() const { return status_ == kStatusOk; }
  void SetStatus(FolderStatus status, bool quiet = false);
  void ResetStatus();
  uint32_t CountErrors() const { return errors_reload_sync_ + errors_other_; }
  uint32_t CountErrorsReloadSync() const { return errors_reload_sync_; }
  uint32_t CountErrorsNotReloadSync() const { return errors_other_; }
  bool HasError(bool* reload_sync) const;
  bool HasErrorReloadSync() const { return errors_reload_sync_ > 0; }
  bool HasErrorNotReloadSync() const { return errors_other_ > 0; }
  static bool IsErrorReloadSync(FolderStatus status);
  static QString StatusToString(FolderStatus status, bool in_cloud);

  // ---- revisions, tree information and inodes.
  // The tree info, or for one of the parent type the parent's.
  std::shared_ptr<TreeInfo> GetTreeInfo() const;
  const std::shared_ptr<TreeInfo>& TruthTreeInfo() const { return tree_info_; }
  bool SetTreeInfo(std::shared_ptr<TreeInfo> tree_info);
  bool ApplyLocalRevDown(uint64_t revision);
  bool ApplyUpdateFalse();
  bool IsRootMountPoint() const;
  bool SetControlledInodeCollection(std::shared_ptr<InodeCollection> collection);
  const std::shared_ptr<InodeCollection>& GetControlledInodeCollection() const {
    return inodes_;
  }
  void InvalidateInodesDown();
  void MarkChildrenNotExist();

  // ---- consistency checks: they recount the subtree, log what disagrees and
  // change nothing.
  bool ValidateChangedDown() const;
  bool ValidateNotChangedDown() const;
  bool ValidateErrorCounters() const;
  bool ValidateInodeCollection() const;
  bool ValidateParentNotNull() const;
  bool ValidateUpdateFalse() const;
  bool ValidateAccessMode() const;
  // The lowercase indices hold exactly the children with a lowercase form.
  bool ValidateIndices() const;

  // One line per node, indented by depth.
  void Print(std::ostream& out, bool with_files, bool with_details, unsigned indent) const;
  std::string Dump(bool with_files) const;

 protected:
  virtual UniqueNodePtr<FolderNode> CreateInstance() const;
  virtual FolderNode* RemoveFolder(ChildIter<FolderNode>* it);

 private:
  friend class ChildNode;
  template <class Node>
  friend struct TreeOps;

  template <class Node>
  ResultInsert InsertTry(UniqueNodePtr<Node>&& node, ChildIter<Node>* where,
                         UniqueNodePtr<Node>* rejected);
  template <class Node>
  Node* Remove(ChildIter<Node>* it);
  template <class Node>
  ResultInsert RenameTry(ChildIter<Node>* it, std::string&& new_name);
  template <class Node>
  UniqueNodePtr<Node> Detach(ChildIter<Node> it, ChildIter<Node>* next);
  template <class Node>
  ResultInsert MoveFromTry(FolderNode* from, ChildIter<Node>* it, std::string&& new_name);
  template <class Node>
  ChildIter<const Node> Find(std::string_view name, bool case_insensitive, bool* exact,
                             std::string_view lowercase_key, bool* flag) const;

  // Hands |collection| to this folder and every folder below, moving the
  // registrations of the subtree's nodes (this folder's own too when
  // |include_self|) from the collection held so far.
  bool HandInodeCollection(const std::shared_ptr<InodeCollection>& collection,
                           bool self_in_new, bool self_in_old);
  // Copies the children of |other| below this folder (nothing is cleared).
  bool CopyChildrenFrom(const FolderNode* other);
  bool RegisterInodesDown(InodeCollection* collection, bool include_self);
  void UnregisterInodesDown(InodeCollection* collection, bool include_self);
  // Drops whatever of the subtree |collection| holds, without complaint.
  void ForgetInodesDown(InodeCollection* collection, bool include_self);
  void DestroyChildren();
  // Counts of the subtree: changed nodes, errors.
  int32_t RecountChanges() const;

  uint32_t errors_reload_sync_ = 0;
  uint32_t errors_other_ = 0;
  int32_t changed_children_ = 0;
  ReadonlyStatus readonly_ = kNotReadonly;
  FolderStatus status_ = kStatusOk;
  std::shared_ptr<TreeInfo> tree_info_;
  std::shared_ptr<InodeCollection> inodes_;
  FileSet files_;
  FolderSet folders_;
  tree_internal::LowercaseIndex<FileNode> files_lowercase_;
  tree_internal::LowercaseIndex<FolderNode> folders_lowercase_;
};

// Service items are never synchronized and may be left out of counts.
namespace service_items {
KORVO_EXPORT bool IsServiceFileName(std::string_view name);
KORVO_EXPORT bool IsServiceFolderName(std::string_view name);
}  // namespace service_items

#endif  // KORVO_CORE_TREE_FILE_TREE_H_
