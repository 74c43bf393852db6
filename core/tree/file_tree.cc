#include "core/tree/file_tree.h"
#include "core/tree/inode_collection.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <new>
#include <ostream>
#include <sstream>

#include "core/infra/logger.h"
#include "core/infra/tally_logger.h"
#include "core/text/encoding_utils.h"

// ---------------------------------------------------------------- names

const char* ResultInsertToStr(ResultInsert result) {
  switch (result) {
    case ResultInsert::AlreadyExists: return "Already exists.";
    case ResultInsert::FailedLowercase: return "Failed lowercase.";
    case ResultInsert::FailedSetChanged: return "Failed set changed.";
    case ResultInsert::FailedInodes: return "Failed inodes.";
    case ResultInsert::FailedOther: return "Failed other.";
    case ResultInsert::Inserted:
    case ResultInsert::EmptyName:
      break;
  }
  return "Error.";
}

namespace tree_internal {

bool NodeName::Set(std::string_view name, std::string_view lowercase) {
  if (name.size() > kMaxLength || lowercase.size() > kMaxLength) return false;
  if (name.empty() && lowercase.empty()) {
    Clear();
    return true;
  }
  char* block = new char[4 + name.size() + lowercase.size()];
  block[0] = static_cast<char>(name.size() & 0xFF);
  block[1] = static_cast<char>(name.size() >> 8);
  block[2] = static_cast<char>(lowercase.size() & 0xFF);
  block[3] = static_cast<char>(lowercase.size() >> 8);
  std::memcpy(block + 4, name.data(), name.size());
  std::memcpy(block + 4 + name.size(), lowercase.data(), lowercase.size());
  delete[] block_;
  block_ = block;
  return true;
}

}  // namespace tree_internal

namespace {

// What a node contributes to its ancestors' counters.
struct Counts {
  int32_t changes = 0;
  int32_t reload_sync_errors = 0;
  int32_t other_errors = 0;
};

Counts CountsOf(const FileNode& file) {
  Counts counts;
  counts.changes = file.IsChanged() ? 1 : 0;
  if (!file.IsStatusOK()) {
    (FileNode::IsErrorReloadSync(file.GetStatus()) ? counts.reload_sync_errors
                                                   : counts.other_errors) = 1;
  }
  return counts;
}

Counts CountsOf(const FolderNode& folder) {
  Counts counts;
  counts.changes = folder.CountChanges();
  counts.reload_sync_errors = static_cast<int32_t>(folder.CountErrorsReloadSync());
  counts.other_errors = static_cast<int32_t>(folder.CountErrorsNotReloadSync());
  if (!folder.IsStatusOK()) {
    ++(FolderNode::IsErrorReloadSync(folder.GetStatus()) ? counts.reload_sync_errors
                                                         : counts.other_errors);
  }
  return counts;
}

template <class Node>
const char* KindOf();
template <>
const char* KindOf<FileNode>() { return "file"; }
template <>
const char* KindOf<FolderNode>() { return "folder"; }

uint32_t SaturatingAdd(uint32_t value, int32_t delta) {
  if (delta < 0 && value < static_cast<uint32_t>(-static_cast<int64_t>(delta))) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(value) + delta);
}

QString Tr(const char* text) { return QCoreApplication::translate("FileTree", text); }

QString Place(bool in_cloud) { return " " + Tr(in_cloud ? "в Veltra" : "на ПК"); }

}  // namespace

// ---------------------------------------------------------------- ChildNode

bool ChildNode::SetName(std::string&& name) { return SetName(std::string_view(name)); }

bool ChildNode::SetName(std::string_view name) {
  tree_internal::NodeName made;
  if (!MakeName(name, &made)) {
    name_.Clear();
    return false;
  }
  name_.Swap(made);
  return true;
}

bool ChildNode::MakeName(std::string_view name, tree_internal::NodeName* out) {
  std::string lowercase;
  bool already = false;
  if (!LowercaseIfNeeded(name, &lowercase, &already)) {
    KLOG(Fail) << "Failed to convert \"" << name
               << "\" to lowercase while constructing tree node.";
    TallyLogger::instance().SendMetric("failed_convert_to_lowercase", 1, std::string(name));
    return false;
  }
  if (already || lowercase == name) lowercase.clear();
  try {
    if (!out->Set(name, lowercase)) {
      KLOG(Fatal) << "Name too long for a tree node: " << name.size() << " bytes.";
      return false;
    }
  } catch (const std::bad_alloc&) {
    KLOG(Fatal) << "Failed to allocate a tree node name.";
    return false;
  }
  return true;
}

bool ChildNode::IsOfflineOrInOfflineFolder() const {
  for (const ChildNode* node = this; node != nullptr; node = node->parent_) {
    if (node->offline_) return true;
  }
  return false;
}

void ChildNode::AddChangesUp(int32_t delta) {
  if (delta == 0) return;
  for (FolderNode* folder = parent_; folder != nullptr; folder = folder->parent_) {
    folder->changed_children_ += delta;
  }
}

void ChildNode::AddErrorsUp(int32_t reload_sync, int32_t other) {
  if (reload_sync == 0 && other == 0) return;
  for (FolderNode* folder = parent_; folder != nullptr; folder = folder->parent_) {
    folder->errors_reload_sync_ = SaturatingAdd(folder->errors_reload_sync_, reload_sync);
    folder->errors_other_ = SaturatingAdd(folder->errors_other_, other);
  }
}

void ChildNode::SetChanged(bool changed) {
  if (changed_ == changed) return;
  changed_ = changed;
  AddChangesUp(changed ? 1 : -1);
}

void ChildNode::SetChanged(SetChangedListener* listener) {
  if (changed_) return;
  changed_ = true;
  AddChangesUp(1);
  if (listener == nullptr) return;
  for (FolderNode* folder = parent_; folder != nullptr; folder = folder->parent_) {
    if (folder->changed_children_ == 1 && folder->parent_ != nullptr) {
      listener->OnFolderChanged(folder);
    }
  }
}

void ChildNode::SetNotChanged(SetNotChangedListener* listener) {
  if (!changed_) return;
  changed_ = false;
  AddChangesUp(-1);
  if (listener == nullptr) return;
  for (FolderNode* folder = parent_; folder != nullptr; folder = folder->parent_) {
    if (folder->changed_children_ == 0 && folder->parent_ != nullptr) {
      listener->OnFolderNotChanged(folder);
    }
  }
}

std::string ChildNode::CollectPath() const {
  if (parent_ == nullptr) {
    if (!GetName().empty()) {
      KLOG(Fatal) << "Collect path called for folder not in tree: " << GetName();
    }
    return std::string();
  }
  size_t length = 0;
  const ChildNode* node = this;
  for (; node->parent_ != nullptr; node = node->parent_) length += node->GetName().size() + 1;
  std::string path(length - 1, '/');
  size_t end = path.size();
  for (node = this; node->parent_ != nullptr; node = node->parent_) {
    const std::string_view name = node->GetName();
    end -= name.size();
    std::memcpy(path.data() + end, name.data(), name.size());
    if (end > 0) --end;
  }
  return path;
}

// ---------------------------------------------------------------- FileNode

FileNode::FileNode(uint64_t size, const SomeHash& hash, uint64_t time, uint64_t inode,
                   bool readonly, bool offline)
    : ChildNode(inode, time, offline),
      readonly_(readonly ? kReadonly : kNotReadonly),
      hash_(hash),
      size_(size) {}

FileNode::~FileNode() {
  constexpr uint64_t kStale = std::numeric_limits<uint64_t>::max();
  inode_ = kStale;
  time_ = kStale;
  size_ = kStale;
}

bool FileNode::SetSize(uint64_t size) {
  if (size > kMaxFileSize) {
    KLOG(Fatal) << "File size is bigger than file size limit in SetSize (" << size << ").";
    return false;
  }
  size_ = size;
  return true;
}

bool FileNode::SetHash(const SomeHash& hash) {
  hash_ = hash;
  return true;
}

template <class Node>
bool ChildNode::ChangeInode(Node* node, uint64_t inode, InodeCollection* collection) {
  if (inode == node->inode_) return true;
  if (collection == nullptr) {
    node->inode_ = inode;
    return true;
  }
  if (node->inode_ != 0 && !RemoveFromInodeCollection(collection, node)) return false;
  node->inode_ = inode;
  if (inode != 0 && !AddToInodeCollection(collection, node)) {
    node->inode_ = 0;
    return false;
  }
  return true;
}

bool FileNode::SetInode(uint64_t inode) {
  return ChangeInode(this, inode, parent_ ? parent_->GetControlledInodeCollection().get() : nullptr);
}

bool FileNode::SetReadonly(bool readonly) {
  readonly_ = readonly ? kReadonly : kNotReadonly;
  return true;
}

bool FileNode::SetNeedsUpdate(bool needs_update) {
  needs_update_ = needs_update;
  return true;
}

bool FileNode::SetProperties(const SomeHash& hash, uint64_t size, uint64_t time, uint64_t inode) {
  if (!SetInode(inode)) return false;
  if (!hash_.IsBytewiseEqualTo(hash)) hash_ = hash;
  size_ = size;
  time_ = time;
  return true;
}

bool FileNode::SetProperties(const FileSystem::FileProperties& properties) {
  if (!SetSize(properties.size)) return false;
  hash_ = properties.hash;
  time_ = properties.time;
  if (!SetInode(properties.inode)) return false;
  return SetReadonly(properties.readonly);
}

FileSystem::FileProperties FileNode::GetProperties() const {
  return FileSystem::FileProperties(hash_, inode_, size_, time_, readonly_ == kReadonly);
}

void FileNode::SetStatus(FileStatus status, bool quiet) {
  if (status == status_) return;
  if (!quiet && status_ != kStatusOk) {
    IsErrorReloadSync(status_) ? AddErrorsUp(-1, 0) : AddErrorsUp(0, -1);
  }
  status_ = status;
  if (!quiet && status_ != kStatusOk) {
    IsErrorReloadSync(status_) ? AddErrorsUp(1, 0) : AddErrorsUp(0, 1);
  }
}

bool FileNode::HasError(bool* reload_sync) const {
  if (reload_sync) *reload_sync = IsErrorReloadSync(status_);
  return status_ != kStatusOk;
}

bool FileNode::IsErrorReloadSync(FileStatus status) {
  return status >= kDeleteError && status <= kUploadError;
}

QString FileNode::StatusToString(FileStatus status, bool in_cloud) {
  switch (status) {
    case kDeleteError: return Tr("Ошибка удаления файла") + Place(in_cloud);
    case kRenameError: return Tr("Ошибка переименования файла") + Place(in_cloud);
    case kOpenError: return Tr("Ошибка открытия файла") + Place(in_cloud);
    case kUpdateLocalError: return Tr("Ошибка обновления файла на ПК");
    case kCloseError: return Tr("Ошибка закрытия файла") + Place(in_cloud);
    case kUploadError:
      return Tr("Ошибка загрузки файла") + " " + Tr(in_cloud ? "в облако" : "на ПК");
    case kNoSpaceInCloud: return Tr("Недостаточно места в облаке");
    case kNoSpaceOnDisk: return Tr("Недостаточно места на диске");
    case kTooLarge: return Tr("Файл слишком большой");
    case kAccessDenied: return Tr("Доступ запрещён");
    case kContentBlocked: return Tr("Контент заблокирован");
    case kNameTooLong: return Tr("Слишком длинное название");
    case kPathTooLong: return Tr("Слишком длинный путь");
    case kBadName: return Tr("Имя содержит некорректные символы");
    case kSymlink: return Tr("Символические ссылки не могут быть синхронизированы");
    case kVirus:
      return Tr("Файл содержит вирус или потенциально нежелательное программное обеспечение");
    case kCaseConflict: return Tr("Файл с таким именем в другом регистре уже существует");
    case kFileAccessDenied: return Tr("Доступ к файлу запрещён");
    case kStatusOk:
      break;
  }
  return Tr("Ошибка");
}

UniqueNodePtr<FileNode> FileNode::Clone() const {
  auto copy = std::make_unique<FileNode>(size_, hash_, time_, inode_, readonly_ == kReadonly,
                                         offline_);
  copy->name_.Set(name_.name(), name_.lowercase());
  copy->exists_ = exists_;
  copy->changed_ = changed_;
  copy->fs_hidden_ = fs_hidden_;
  copy->needs_update_ = needs_update_;
  copy->readonly_ = readonly_;
  copy->status_ = status_;
  return copy;
}

// ---------------------------------------------------------------- FolderNode internals

template <class Node>
struct TreeOps;

template <>
struct TreeOps<FileNode> {
  static FolderNode::FileSet& Set(FolderNode& f) { return f.files_; }
  static const FolderNode::FileSet& Set(const FolderNode& f) { return f.files_; }
  static tree_internal::LowercaseIndex<FileNode>& Index(FolderNode& f) { return f.files_lowercase_; }
  static const tree_internal::LowercaseIndex<FileNode>& Index(const FolderNode& f) {
    return f.files_lowercase_;
  }
  static const char* Capitalized() { return "File"; }
};

template <>
struct TreeOps<FolderNode> {
  static FolderNode::FolderSet& Set(FolderNode& f) { return f.folders_; }
  static const FolderNode::FolderSet& Set(const FolderNode& f) { return f.folders_; }
  static tree_internal::LowercaseIndex<FolderNode>& Index(FolderNode& f) {
    return f.folders_lowercase_;
  }
  static const tree_internal::LowercaseIndex<FolderNode>& Index(const FolderNode& f) {
    return f.folders_lowercase_;
  }
  static const char* Capitalized() { return "Folder"; }
};

FolderNode::FolderNode(uint64_t inode, uint64_t time, bool readonly, bool offline)
    : ChildNode(inode, time, offline), readonly_(readonly ? kReadonly : kNotReadonly) {}

FolderNode::~FolderNode() {
  if (inodes_) UnregisterInodesDown(inodes_.get(), parent_ != nullptr);
  DestroyChildren();
}

void FolderNode::DestroyChildren() {
  for (FileNode* file : files_) delete file;
  for (FolderNode* folder : folders_) delete folder;
  files_.clear();
  folders_.clear();
  files_lowercase_.clear();
  folders_lowercase_.clear();
}

UniqueNodePtr<FolderNode> FolderNode::MakeRoot() {
  return std::make_unique<FolderNode>(0, 0, false, false);
}

UniqueNodePtr<FolderNode> FolderNode::CreateInstance() const {
  return std::make_unique<FolderNode>(0, 0, false, false);
}

template <class Node>
ChildIter<const Node> FolderNode::Find(std::string_view name, bool case_insensitive, bool* exact,
                                       std::string_view lowercase_key, bool* flag) const {
  const auto& set = TreeOps<Node>::Set(*this);
  const auto& index = TreeOps<Node>::Index(*this);
  if (exact) *exact = true;
  if (flag) *flag = true;
  auto it = set.find(name);
  if (it != set.end()) return {it, *it};
  if (!case_insensitive) return {};
  if (exact) *exact = false;

  std::string computed;
  std::string_view key = lowercase_key;
  if (key.empty()) {
    bool already = false;
    if (!LowercaseIfNeeded(name, &computed, &already)) {
      KLOG(Fatal) << "Failed to lowercase name: " << name;
      return {};
    }
    key = already ? name : std::string_view(computed);
  }
  if (key != name) {
    it = set.find(key);
    if (it != set.end()) {
      if (flag) *flag = index.find(key) != index.end();
      return {it, *it};
    }
  }
  auto entry = index.find(key);
  if (entry == index.end()) return {};
  const Node* candidate = *entry;
  if (flag) {
    auto next = std::next(entry);
    *flag = next != index.end() && (*next)->GetNameLowercase() == key
                ? false
                : set.find(key) == set.end();
  }
  it = set.find(candidate->GetName());
  if (it == set.end()) {
    KLOG(Fatal) << "Corrupted internal tree structure, " << candidate->GetName();
    return {};
  }
  return {it, *it};
}

template <class Node>
ResultInsert FolderNode::InsertTry(UniqueNodePtr<Node>&& node, ChildIter<Node>* where,
                                   UniqueNodePtr<Node>* rejected) {
  UniqueNodePtr<Node> owned = std::move(node);
  if (rejected) rejected->reset();
  ChildIter<Node> ignored;
  if (where == nullptr) where = &ignored;
  *where = {};
  auto give_back = [&](ResultInsert result) {
    if (rejected) *rejected = std::move(owned);
    return result;
  };
  if (!owned) return ResultInsert::FailedOther;
  if (owned->GetName().empty()) {
    KLOG(Fatal) << "Inserting " << KindOf<Node>() << " with empty name.";
    return give_back(ResultInsert::EmptyName);
  }
  auto& set = TreeOps<Node>::Set(*this);
  auto& index = TreeOps<Node>::Index(*this);
  typename tree_internal::ChildSet<Node>::iterator it;
  try {
    bool inserted = false;
    std::tie(it, inserted) = set.insert(owned.get());
    if (!inserted) {
      *where = {it, *it};
      return give_back(ResultInsert::AlreadyExists);
    }
  } catch (const std::exception& e) {
    KLOG(Fatal) << "Failed to insert " << KindOf<Node>() << " " << owned->GetName() << ": "
                << e.what();
    return give_back(ResultInsert::FailedOther);
  }
  // From here on every failure takes the node out of the name set again.
  Node* raw = owned.get();
  if constexpr (std::is_same_v<Node, FolderNode>) {
    // A detached folder that holds a collection was made a root with it, so
    // it is not registered there itself.
    if (!raw->HandInodeCollection(inodes_, /*self_in_new=*/true, /*self_in_old=*/false)) {
      KLOG(Fatal) << "Failed to manage inodes in folder (while inserting): " << raw->GetName();
      set.erase(raw->GetName());
      return give_back(ResultInsert::FailedInodes);
    }
  } else {
    if (inodes_ && raw->GetInode() != 0 && !AddToInodeCollection(inodes_.get(), raw)) {
      set.erase(raw->GetName());
      return give_back(ResultInsert::FailedInodes);
    }
  }
  if (!raw->NameIsLowercase()) {
    try {
      index.insert(raw);
    } catch (const std::exception& e) {
      KLOG(Fatal) << "Failed to index " << KindOf<Node>() << " " << raw->GetName() << ": "
                  << e.what();
      if constexpr (std::is_same_v<Node, FolderNode>) {
        raw->HandInodeCollection(nullptr, /*self_in_new=*/false, /*self_in_old=*/true);
      } else if (inodes_ && raw->GetInode() != 0) {
        RemoveFromInodeCollection(inodes_.get(), raw);
      }
      set.erase(raw->GetName());
      return give_back(ResultInsert::FailedOther);
    }
  }
  owned.release();
  raw->parent_ = this;
  const Counts counts = CountsOf(*raw);
  raw->AddChangesUp(counts.changes);
  raw->AddErrorsUp(counts.reload_sync_errors, counts.other_errors);
  *where = {it, raw};
  return ResultInsert::Inserted;
}

template <class Node>
Node* FolderNode::Remove(ChildIter<Node>* it) {
  if (it == nullptr || it->IsEnd()) {
    KLOG(Fatal) << "Failed to remove " << KindOf<Node>() << ", iterator at end.";
    return nullptr;
  }
  auto& set = TreeOps<Node>::Set(*this);
  auto& index = TreeOps<Node>::Index(*this);
  Node* node = const_cast<Node*>(it->node);
  auto position = set.find(node->GetName());
  if (position == set.end() || *position != node) {
    KLOG(Fatal) << "Corrupted internal tree structure, not a child: " << node->GetName();
    return nullptr;
  }
  if (!node->NameIsLowercase()) {
    auto [first, last] = index.equal_range(node->GetNameLowercase());
    auto entry = std::find(first, last, node);
    if (entry == last) {
      KLOG(Fatal) << TreeOps<Node>::Capitalized()
                  << "s lowercase internal structure corrupted, not found: " << node->GetName();
      return nullptr;
    }
    index.erase(entry);
  }
  const Counts counts = CountsOf(*node);
  node->AddChangesUp(-counts.changes);
  node->AddErrorsUp(-counts.reload_sync_errors, -counts.other_errors);
  if constexpr (std::is_same_v<Node, FolderNode>) {
    node->HandInodeCollection(nullptr, /*self_in_new=*/false, /*self_in_old=*/true);
  } else {
    if (inodes_ && node->GetInode() != 0) RemoveFromInodeCollection(inodes_.get(), node);
  }
  set.erase(position);
  node->parent_ = nullptr;
  *it = {};
  return node;
}

template <class Node>
ResultInsert FolderNode::RenameTry(ChildIter<Node>* it, std::string&& new_name) {
  if (it == nullptr || it->IsEnd()) {
    KLOG(Fatal) << "Failed to rename " << KindOf<Node>() << ", iterator at end.";
    return ResultInsert::FailedOther;
  }
  if (new_name.empty()) {
    KLOG(Fatal) << "Renaming " << KindOf<Node>() << " to an empty name.";
    return ResultInsert::EmptyName;
  }
  auto& set = TreeOps<Node>::Set(*this);
  auto& index = TreeOps<Node>::Index(*this);
  Node* node = const_cast<Node*>(it->node);
  auto position = set.find(node->GetName());
  if (position == set.end() || *position != node) {
    KLOG(Fatal) << "Corrupted internal tree structure, not a child: " << node->GetName();
    return ResultInsert::FailedOther;
  }
  // Everything that can refuse the rename is checked before the node leaves
  // its structures; what remains can fail only for want of memory.
  tree_internal::NodeName new_name_block;
  if (!ChildNode::MakeName(new_name, &new_name_block)) return ResultInsert::FailedLowercase;
  auto taken = set.find(new_name_block.name());
  if (taken != set.end() && *taken != node) {
    *it = {position, node};
    return ResultInsert::AlreadyExists;
  }
  auto index_entry = index.end();
  if (!node->NameIsLowercase()) {
    auto [first, last] = index.equal_range(node->GetNameLowercase());
    index_entry = std::find(first, last, node);
    if (index_entry == last) {
      KLOG(Fatal) << "Inconsistent node lowercase, not found \"" << node->GetNameLowercase()
                  << "\"";
      return ResultInsert::FailedOther;
    }
  }
  if (index_entry != index.end()) index.erase(index_entry);
  set.erase(position);
  tree_internal::NodeName old_name;
  old_name.Swap(node->name_);
  node->name_.Swap(new_name_block);
  try {
    auto renamed = set.insert(node).first;
    if (!node->NameIsLowercase()) index.insert(node);
    *it = {renamed, node};
    return ResultInsert::Inserted;
  } catch (const std::exception& e) {
    KLOG(Fatal) << "Failed to rename " << KindOf<Node>() << ": " << e.what();
  }
  // Back under the old name. A tree that cannot even do that has lost the
  // node's place for good; carrying on would lose the node silently.
  set.erase(node);
  tree_internal::LowercaseIndexErase(index, node);
  node->name_.Swap(old_name);
  try {
    set.insert(node);
    if (!node->NameIsLowercase()) index.insert(node);
    *it = {set.find(node->GetName()), node};
  } catch (...) {
    KLOG(Fatal) << "Failed to put back " << KindOf<Node>() << " after a failed rename.";
    std::terminate();
  }
  return ResultInsert::FailedOther;
}

// Insertion through the folder's own (possibly overridden) slot.
static ResultInsert VirtualInsert(FolderNode* folder, UniqueNodePtr<FileNode>&& node,
                                  ChildIter<FileNode>* where,
                                  UniqueNodePtr<FileNode>* rejected = nullptr) {
  return folder->InsertFileTry(std::move(node), where, rejected);
}
static ResultInsert VirtualInsert(FolderNode* folder, UniqueNodePtr<FolderNode>&& node,
                                  ChildIter<FolderNode>* where,
                                  UniqueNodePtr<FolderNode>* rejected = nullptr) {
  return folder->InsertFolderTry(std::move(node), where, rejected);
}

template <class Node>
ResultInsert FolderNode::MoveFromTry(FolderNode* from, ChildIter<Node>* it,
                                     std::string&& new_name) {
  const char* const kReturnFailed = std::is_same_v<Node, FileNode>
                                        ? "Failed to return back file after unsuccessfull moving."
                                        : "Failed to return back folder after unsuccessful moving.";
  if (from == nullptr || it == nullptr || it->IsEnd()) {
    KLOG(Fatal) << "Failed to remove old " << KindOf<Node>() << ": nothing to move.";
    return ResultInsert::FailedOther;
  }
  if constexpr (std::is_same_v<Node, FolderNode>) {
    // A folder cannot go below itself: the subtree would leave the tree.
    for (const FolderNode* folder = this; folder != nullptr; folder = folder->parent_) {
      if (folder == it->node) {
        KLOG(Fatal) << "Cannot move folder into itself: " << it->node->GetName();
        return ResultInsert::FailedOther;
      }
    }
  }
  const std::string name_for_log(it->node->GetName());
  UniqueNodePtr<Node> node;
  if constexpr (std::is_same_v<Node, FileNode>) {
    node.reset(from->RemoveFile(it));
  } else {
    node.reset(from->RemoveFolder(it));
  }
  if (!node) {
    KLOG(Fatal) << "Failed to remove old " << KindOf<Node>() << ": " << name_for_log;
    return ResultInsert::FailedOther;
  }
  tree_internal::NodeName old_name;
  old_name.Swap(node->name_);
  auto return_back = [&](UniqueNodePtr<Node> back, ResultInsert result) {
    back->name_.Swap(old_name);
    if (VirtualInsert(from, std::move(back), it) != ResultInsert::Inserted) {
      KLOG(Fatal) << kReturnFailed;
    }
    return result;
  };
  if (!node->SetName(std::move(new_name))) {
    return return_back(std::move(node), ResultInsert::FailedLowercase);
  }
  UniqueNodePtr<Node> rejected;
  ChildIter<Node> where;
  const ResultInsert result = VirtualInsert(this, std::move(node), &where, &rejected);
  if (result == ResultInsert::Inserted) {
    *it = where;
    return result;
  }
  if (!rejected) {
    KLOG(Fatal) << kReturnFailed;
    return result;
  }
  return return_back(std::move(rejected), result);
}

// ---------------------------------------------------------------- FolderNode: public forms

ResultInsert FolderNode::InsertFileTry(UniqueNodePtr<FileNode>&& node, ChildIter<FileNode>* where,
                                       UniqueNodePtr<FileNode>* rejected) {
  return InsertTry(std::move(node), where, rejected);
}

ResultInsert FolderNode::InsertFolderTry(UniqueNodePtr<FolderNode>&& node,
                                         ChildIter<FolderNode>* where,
                                         UniqueNodePtr<FolderNode>* rejected) {
  return InsertTry(std::move(node), where, rejected);
}

ResultInsert FolderNode::RenameFolderTry(ChildIter<FolderNode>* it, std::string&& new_name) {
  return RenameTry(it, std::move(new_name));
}

ResultInsert FolderNode::RenameFileTry(ChildIter<FileNode>* it, std::string&& new_name) {
  return RenameTry(it, std::move(new_name));
}

FileNode* FolderNode::RemoveFile(ChildIter<FileNode>* it) { return Remove(it); }
FolderNode* FolderNode::RemoveFolder(ChildIter<FolderNode>* it) { return Remove(it); }

bool FolderNode::InsertFile(UniqueNodePtr<FileNode>&& node, ChildIter<FileNode>* where,
                            UniqueNodePtr<FileNode>* rejected) {
  const ResultInsert result = InsertFileTry(std::move(node), where, rejected);
  if (result == ResultInsert::Inserted) return true;
  KLOG(Fatal) << "InsertFile: " << ResultInsertToStr(result);
  return false;
}

bool FolderNode::InsertFolder(UniqueNodePtr<FolderNode>&& node, ChildIter<FolderNode>* where,
                              UniqueNodePtr<FolderNode>* rejected) {
  const ResultInsert result = InsertFolderTry(std::move(node), where, rejected);
  if (result == ResultInsert::Inserted) return true;
  KLOG(Fatal) << "InsertFolder: " << ResultInsertToStr(result);
  KLOG(Fatal) << "Parent dump: \n" << Dump(false);
  return false;
}

bool FolderNode::CreateFile(std::string&& name, ChildIter<FileNode>* where, uint64_t size,
                            const SomeHash& hash, uint64_t time, uint64_t inode, bool readonly,
                            bool offline) {
  ChildIter<FileNode> ignored;
  if (where == nullptr) where = &ignored;
  *where = {};
  UniqueNodePtr<FileNode> node;
  try {
    node = std::make_unique<FileNode>(size, hash, time, inode, readonly, offline);
  } catch (const std::bad_alloc&) {
    KLOG(Fatal) << "Failed allocate node.";
    return false;
  }
  if (!node->SetName(std::move(name))) {
    KLOG(Fatal) << "Failed set name.";
    return false;
  }
  if (!InsertFile(std::move(node), where)) {
    *where = {};
    return false;
  }
  return true;
}

bool FolderNode::CreateFolder(std::string&& name, ChildIter<FolderNode>* where, uint64_t inode,
                              uint64_t time, bool readonly, bool offline) {
  ChildIter<FolderNode> ignored;
  if (where == nullptr) where = &ignored;
  *where = {};
  UniqueNodePtr<FolderNode> node;
  try {
    node = CreateInstance();
  } catch (const std::bad_alloc&) {
    KLOG(Fatal) << "Failed allocate node.";
    return false;
  }
  node->inode_ = inode;
  node->time_ = time;
  node->readonly_ = readonly ? kReadonly : kNotReadonly;
  node->offline_ = offline;
  if (!node->SetName(std::move(name))) {
    KLOG(Fatal) << "Failed set name.";
    return false;
  }
  if (!InsertFolder(std::move(node), where)) {
    *where = {};
    return false;
  }
  return true;
}

bool FolderNode::DeleteFile(ChildIter<FileNode>* it) {
  UniqueNodePtr<FileNode> node(RemoveFile(it));
  return node != nullptr;
}

bool FolderNode::DeleteFolder(ChildIter<FolderNode>* it) {
  UniqueNodePtr<FolderNode> node(RemoveFolder(it));
  return node != nullptr;
}

template <class Node>
UniqueNodePtr<Node> FolderNode::Detach(ChildIter<Node> it, ChildIter<Node>* next) {
  if (next) *next = {};
  if (it.IsEnd()) {
    KLOG(Fatal) << "Failed to detach " << KindOf<Node>() << ", iter set to end.";
    return nullptr;
  }
  UniqueNodePtr<Node> node;
  if constexpr (std::is_same_v<Node, FileNode>) {
    node.reset(RemoveFile(&it));
  } else {
    node.reset(RemoveFolder(&it));
  }
  // The caller's iterator may be stale; the follower is found by name.
  if (next && node) {
    const auto& set = TreeOps<Node>::Set(*this);
    auto following = set.upper_bound(node->GetName());
    if (following != set.end()) *next = {following, *following};
  }
  return node;
}

UniqueNodePtr<FileNode> FolderNode::DetachFile(ChildIter<FileNode> it, ChildIter<FileNode>* next) {
  return Detach(it, next);
}

UniqueNodePtr<FolderNode> FolderNode::DetachFolder(ChildIter<FolderNode> it,
                                                   ChildIter<FolderNode>* next) {
  return Detach(it, next);
}

ResultInsert FolderNode::MoveFileFromTry(FolderNode* from, ChildIter<FileNode>* it,
                                         std::string&& new_name) {
  return MoveFromTry(from, it, std::move(new_name));
}

ResultInsert FolderNode::MoveFolderFromTry(FolderNode* from, ChildIter<FolderNode>* it,
                                           std::string&& new_name) {
  return MoveFromTry(from, it, std::move(new_name));
}

bool FolderNode::MoveFileFrom(FolderNode* from, ChildIter<FileNode>* it, std::string&& new_name) {
  const ResultInsert result = MoveFileFromTry(from, it, std::move(new_name));
  if (result == ResultInsert::Inserted) return true;
  KLOG(Fatal) << "MoveFileFrom: " << ResultInsertToStr(result);
  return false;
}

bool FolderNode::MoveFolderFrom(FolderNode* from, ChildIter<FolderNode>* it,
                                std::string&& new_name) {
  const ResultInsert result = MoveFolderFromTry(from, it, std::move(new_name));
  if (result == ResultInsert::Inserted) return true;
  KLOG(Fatal) << "MoveFolderFrom: " << ResultInsertToStr(result);
  return false;
}

ResultInsert FolderNode::MoveFileTry(FolderNode* from, FolderNode* to, ChildIter<FileNode>* it,
                                     std::string&& new_name) {
  return to->MoveFileFromTry(from, it, std::move(new_name));
}

bool FolderNode::MoveFile(FolderNode* from, FolderNode* to, ChildIter<FileNode>* it,
                          std::string&& new_name) {
  return to->MoveFileFrom(from, it, std::move(new_name));
}

ResultInsert FolderNode::MoveFolderTry(FolderNode* from, FolderNode* to,
                                       ChildIter<FolderNode>* it, std::string&& new_name) {
  return to->MoveFolderFromTry(from, it, std::move(new_name));
}

bool FolderNode::MoveFolder(FolderNode* from, FolderNode* to, ChildIter<FolderNode>* it,
                            std::string&& new_name) {
  return to->MoveFolderFrom(from, it, std::move(new_name));
}

bool FolderNode::RenameFile(ChildIter<FileNode>* it, std::string&& new_name) {
  const ResultInsert result = RenameFileTry(it, std::move(new_name));
  if (result == ResultInsert::Inserted) return true;
  KLOG(Fatal) << "RenameFile: " << ResultInsertToStr(result);
  return false;
}

bool FolderNode::RenameFolder(ChildIter<FolderNode>* it, std::string&& new_name) {
  const ResultInsert result = RenameFolderTry(it, std::move(new_name));
  if (result == ResultInsert::Inserted) return true;
  KLOG(Fatal) << "RenameFolder: " << ResultInsertToStr(result);
  return false;
}

// ---------------------------------------------------------------- lookups

ChildIter<const FileNode> FolderNode::FindFile(std::string_view name, bool case_insensitive,
                                               bool* exact) const {
  return Find<FileNode>(name, case_insensitive, exact, {}, nullptr);
}

ChildIter<const FolderNode> FolderNode::FindFolder(std::string_view name, bool case_insensitive,
                                                   bool* exact) const {
  return Find<FolderNode>(name, case_insensitive, exact, {}, nullptr);
}

ChildIter<FileNode> FolderNode::FindFile(std::string_view name, bool case_insensitive,
                                         bool* exact) {
  const auto found = std::as_const(*this).FindFile(name, case_insensitive, exact);
  return {found.it, const_cast<FileNode*>(found.node)};
}

ChildIter<FolderNode> FolderNode::FindFolder(std::string_view name, bool case_insensitive,
                                             bool* exact) {
  const auto found = std::as_const(*this).FindFolder(name, case_insensitive, exact);
  return {found.it, const_cast<FolderNode*>(found.node)};
}

const FileNode* FolderNode::GetFile(std::string_view name, bool case_insensitive,
                                    bool* exact) const {
  return FindFile(name, case_insensitive, exact).node;
}

const FolderNode* FolderNode::GetFolder(std::string_view name, bool case_insensitive,
                                        bool* exact) const {
  return FindFolder(name, case_insensitive, exact).node;
}

FileNode* FolderNode::GetFile(std::string_view name, bool case_insensitive, bool* exact) {
  return const_cast<FileNode*>(std::as_const(*this).GetFile(name, case_insensitive, exact));
}

FolderNode* FolderNode::GetFolder(std::string_view name, bool case_insensitive, bool* exact) {
  return const_cast<FolderNode*>(std::as_const(*this).GetFolder(name, case_insensitive, exact));
}

bool FolderNode::HasFile(std::string_view name, bool case_insensitive, bool* flag) const {
  return !Find<FileNode>(name, case_insensitive, nullptr, {}, flag).IsEnd();
}

bool FolderNode::HasFolder(std::string_view name, bool case_insensitive, bool* flag) const {
  return !Find<FolderNode>(name, case_insensitive, nullptr, {}, flag).IsEnd();
}

bool FolderNode::HasFileNamedLike(const ChildNode* node, bool case_insensitive,
                                  bool* flag) const {
  return !Find<FileNode>(node->GetName(), case_insensitive, nullptr, node->GetNameLowercase(),
                         flag)
              .IsEnd();
}

bool FolderNode::HasFolderNamedLike(const ChildNode* node, bool case_insensitive,
                                    bool* flag) const {
  return !Find<FolderNode>(node->GetName(), case_insensitive, nullptr,
                           node->GetNameLowercase(), flag)
              .IsEnd();
}

bool FolderNode::HasChild(std::string_view name, bool case_insensitive) const {
  return HasFile(name, case_insensitive) || HasFolder(name, case_insensitive);
}

bool FolderNode::HasChildNamedLike(const ChildNode* node, bool case_insensitive,
                                   bool* flag) const {
  return HasFileNamedLike(node, case_insensitive, flag) ||
         HasFolderNamedLike(node, case_insensitive, flag);
}

// ---------------------------------------------------------------- navigation

std::tuple<const FolderNode*, std::string_view> FolderNode::TraversePath(
    std::string_view path, bool case_insensitive, bool* exact) const {
  if (exact) *exact = true;
  const FolderNode* folder = this;
  size_t slash;
  while ((slash = path.find('/')) != std::string_view::npos) {
    bool component_exact = true;
    folder = folder->GetFolder(path.substr(0, slash), case_insensitive, &component_exact);
    if (folder == nullptr) return {nullptr, std::string_view()};
    if (exact && !component_exact) *exact = false;
    path.remove_prefix(slash + 1);
  }
  return {folder, path};
}

std::tuple<FolderNode*, std::string_view> FolderNode::TraversePath(std::string_view path,
                                                                   bool case_insensitive,
                                                                   bool* exact) {
  auto [folder, last] = std::as_const(*this).TraversePath(path, case_insensitive, exact);
  return {const_cast<FolderNode*>(folder), last};
}

bool FolderNode::GetItemAtPath(std::string_view path, FolderNode** folder, FileNode** file,
                               bool case_insensitive) {
  if (folder) *folder = nullptr;
  if (file) *file = nullptr;
  if (path.empty()) {
    KLOG(Fatal) << "Empty path passed to GetItemAtPath.";
    return false;
  }
  auto [parent, last] = TraversePath(path, case_insensitive);
  if (parent == nullptr) return false;
  if (folder) {
    *folder = parent->GetFolder(last, case_insensitive);
    if (*folder) return true;
  }
  if (file) {
    *file = parent->GetFile(last, case_insensitive);
    if (*file) return true;
  }
  return false;
}

FolderNode* FolderNode::GetFolderAtPath(std::string_view path, bool case_insensitive) {
  FolderNode* folder = nullptr;
  GetItemAtPath(path, &folder, nullptr, case_insensitive);
  return folder;
}

FileNode* FolderNode::GetFileAtPath(std::string_view path, bool case_insensitive) {
  FileNode* file = nullptr;
  GetItemAtPath(path, nullptr, &file, case_insensitive);
  return file;
}

FolderNode* FolderNode::TraversePathToLastExistingDir(std::string_view path,
                                                      std::string_view* rest,
                                                      bool case_insensitive, bool* exact) {
  if (exact) *exact = true;
  if (rest) *rest = std::string_view();
  if (path.empty()) {
    KLOG(Fatal) << "Empty path.";
    return nullptr;
  }
  FolderNode* folder = this;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    bool component_exact = true;
    FolderNode* next = folder->GetFolder(path.substr(0, slash), case_insensitive,
                                         &component_exact);
    if (next == nullptr) break;
    if (exact && !component_exact) *exact = false;
    folder = next;
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
  }
  if (rest) *rest = path;
  return folder;
}

FolderNode* FolderNode::TraversePathAndCreateDirs(std::string_view path,
                                                  std::string_view* last_name,
                                                  bool case_insensitive, bool* exact,
                                                  FolderNode** first_created) {
  if (exact) *exact = true;
  if (first_created) *first_created = nullptr;
  if (last_name) *last_name = std::string_view();
  FolderNode* folder = this;
  size_t slash;
  while ((slash = path.find('/')) != std::string_view::npos) {
    const std::string_view name = path.substr(0, slash);
    bool component_exact = true;
    FolderNode* next = folder->GetFolder(name, case_insensitive, &component_exact);
    if (next == nullptr) {
      ChildIter<FileNode> file = folder->FindFile(name, case_insensitive);
      if (!file.IsEnd()) {
        KLOG(Fail) << "Deleting file named as folder while TraversePathAndCreateDirs: " << name;
        if (!folder->DeleteFile(&file)) {
          KLOG(Fatal) << "Failed to delete file.";
          return nullptr;
        }
      }
      ChildIter<FolderNode> created;
      if (!folder->CreateFolder(std::string(name), &created, 0, 0, false, false)) {
        KLOG(Fatal) << "Failed to create folder: " << name;
        return nullptr;
      }
      next = created.node;
      if (first_created && *first_created == nullptr) *first_created = next;
    } else if (exact && !component_exact) {
      *exact = false;
    }
    folder = next;
    path.remove_prefix(slash + 1);
  }
  if (last_name) *last_name = path;
  return folder;
}

// ---------------------------------------------------------------- counts

namespace {

template <class Visit>
void ForEachFolderDown(const FolderNode* folder, const Visit& visit) {
  visit(folder);
  for (const FolderNode* child : folder->IterFolders()) ForEachFolderDown(child, visit);
}

}  // namespace

size_t FolderNode::CountChildrenDown(WithServiceItems with_service_items) const {
  return CountFilesDown(with_service_items) + CountFoldersDown(with_service_items);
}

size_t FolderNode::CountFilesDown(WithServiceItems with_service_items) const {
  size_t count = 0;
  for (const FileNode* file : files_) {
    if (with_service_items || !service_items::IsServiceFileName(file->GetName())) ++count;
  }
  for (const FolderNode* folder : folders_) {
    if (!with_service_items && service_items::IsServiceFolderName(folder->GetName())) continue;
    count += folder->CountFilesDown(with_service_items);
  }
  return count;
}

size_t FolderNode::CountFoldersDown(WithServiceItems with_service_items) const {
  size_t count = 0;
  for (const FolderNode* folder : folders_) {
    if (!with_service_items && service_items::IsServiceFolderName(folder->GetName())) continue;
    count += 1 + folder->CountFoldersDown(with_service_items);
  }
  return count;
}

uint64_t FolderNode::FolderSize(WithServiceItems with_service_items) const {
  uint64_t size = 0;
  for (const FileNode* file : files_) {
    if (with_service_items || !service_items::IsServiceFileName(file->GetName())) {
      size += file->GetSize();
    }
  }
  for (const FolderNode* folder : folders_) {
    if (!with_service_items && service_items::IsServiceFolderName(folder->GetName())) continue;
    size += folder->FolderSize(with_service_items);
  }
  return size;
}

bool FolderNode::HasNonEmptyFile() const {
  for (const FileNode* file : files_) {
    if (file->GetSize() > 0) return true;
  }
  for (const FolderNode* folder : folders_) {
    if (folder->HasNonEmptyFile()) return true;
  }
  return false;
}

// ---------------------------------------------------------------- flags

bool FolderNode::SetReadonly(bool readonly) {
  readonly_ = readonly ? kReadonly : kNotReadonly;
  return true;
}

bool FolderNode::SetNeedsUpdate(bool needs_update) {
  needs_update_ = needs_update;
  return true;
}

bool FolderNode::SetInode(uint64_t inode) {
  return ChangeInode(this, inode, parent_ ? parent_->inodes_.get() : nullptr);
}

FileSystem::FolderProperties FolderNode::GetProperties() const {
  return {inode_, time_, readonly_ != kNotReadonly};
}

void FolderNode::SetOfflineDown(bool offline) {
  offline_ = offline;
  for (FileNode* file : files_) file->offline_ = offline;
  for (FolderNode* folder : folders_) folder->SetOfflineDown(offline);
}

// ---------------------------------------------------------------- change tracking

int32_t FolderNode::RecountChanges() const {
  int32_t count = 0;
  for (const FileNode* file : files_) count += file->IsChanged() ? 1 : 0;
  for (const FolderNode* folder : folders_) {
    count += (folder->IsChanged() ? 1 : 0) + folder->RecountChanges();
  }
  return count;
}

void FolderNode::SetChangedDown() {
  const int32_t before = CountChanges();
  ForEachFolderDown(this, [](const FolderNode* f) {
    auto* folder = const_cast<FolderNode*>(f);
    folder->changed_ = true;
    for (FileNode* file : folder->files_) file->changed_ = true;
  });
  ForEachFolderDown(this, [](const FolderNode* f) {
    const_cast<FolderNode*>(f)->changed_children_ = f->RecountChanges();
  });
  AddChangesUp(CountChanges() - before);
}

void FolderNode::SetChangedFoldersDown() {
  const int32_t before = CountChanges();
  ForEachFolderDown(this, [](const FolderNode* f) { const_cast<FolderNode*>(f)->changed_ = true; });
  ForEachFolderDown(this, [](const FolderNode* f) {
    const_cast<FolderNode*>(f)->changed_children_ = f->RecountChanges();
  });
  AddChangesUp(CountChanges() - before);
}

void FolderNode::SetNotChangedDown() {
  if (!HasChanges()) return;
  AddChangesUp(-CountChanges());
  ForEachFolderDown(this, [](const FolderNode* f) {
    auto* folder = const_cast<FolderNode*>(f);
    folder->changed_ = false;
    folder->changed_children_ = 0;
    for (FileNode* file : folder->files_) file->changed_ = false;
  });
}

void FolderNode::ApplyNotChangedDown() {
  for (FileNode* file : files_) file->SetChanged(false);
  for (FolderNode* folder : folders_) folder->ApplyNotChangedDown();
  SetChanged(false);
}

void FolderNode::SetNeedsUpdateAndChanged() {
  SetChanged(true);
  needs_update_ = true;
}

bool FolderNode::HasChangedNewItems() const {
  for (const FileNode* file : files_) {
    if (file->IsChanged()) return true;
  }
  for (const FolderNode* folder : folders_) {
    if (folder->IsChanged()) return true;
    if (folder->changed_children_ > 0 && folder->HasChangedNewItems()) return true;
  }
  return false;
}

// ---------------------------------------------------------------- statuses

void FolderNode::SetStatus(FolderStatus status, bool quiet) {
  if (status == status_) return;
  if (!quiet && status_ != kStatusOk) {
    IsErrorReloadSync(status_) ? AddErrorsUp(-1, 0) : AddErrorsUp(0, -1);
  }
  status_ = status;
  if (!quiet && status_ != kStatusOk) {
    IsErrorReloadSync(status_) ? AddErrorsUp(1, 0) : AddErrorsUp(0, 1);
  }
}

void FolderNode::ResetStatus() {
  const Counts counts = CountsOf(*this);
  AddErrorsUp(-counts.reload_sync_errors, -counts.other_errors);
  ForEachFolderDown(this, [](const FolderNode* f) {
    auto* folder = const_cast<FolderNode*>(f);
    folder->status_ = kStatusOk;
    folder->errors_reload_sync_ = 0;
    folder->errors_other_ = 0;
    for (FileNode* file : folder->files_) file->status_ = FileNode::kStatusOk;
  });
}

bool FolderNode::HasError(bool* reload_sync) const {
  if (reload_sync) *reload_sync = errors_reload_sync_ > 0;
  return CountErrors() > 0;
}

bool FolderNode::IsErrorReloadSync(FolderStatus status) {
  return status >= kDeleteError && status <= kCreateError;
}

QString FolderNode::StatusToString(FolderStatus status, bool in_cloud) {
  switch (status) {
    case kDeleteError: return Tr("Ошибка удаления папки") + Place(in_cloud);
    case kRenameError: return Tr("Ошибка переименования папки") + Place(in_cloud);
    case kUpdateError:
    case kUpdateError2: return Tr("Ошибка обновления папки") + Place(in_cloud);
    case kCreateError: return Tr("Ошибка создания папки") + Place(in_cloud);
    case kReadonlyFolder: return Tr("Невозможно записать в папку, доступную только на чтение");
    case kNameTooLong: return Tr("Слишком длинное название");
    case kPathTooLong: return Tr("Слишком длинный путь");
    case kBadName: return Tr("Имя содержит некорректные символы");
    case kCyclicSymlink: return Tr("Циклическая символическая ссылка");
    case kSymlink: return Tr("Символические ссылки не могут быть синхронизированы");
    case kCaseConflict: return Tr("Папка с таким именем в другом регистре уже существует");
    case kAccessDenied: return Tr("Доступ к папке запрещён");
    case kStatusOk:
      break;
  }
  return Tr("Ошибка");
}

// ---------------------------------------------------------------- revisions, tree info, inodes

std::shared_ptr<TreeInfo> FolderNode::GetTreeInfo() const {
  if (tree_info_ && tree_info_->GetType() == TreeInfo::kParentTreeType && parent_ != nullptr) {
    return parent_->GetTreeInfo();
  }
  return tree_info_;
}

bool FolderNode::SetTreeInfo(std::shared_ptr<TreeInfo> tree_info) {
  if (tree_info_ != tree_info) tree_info_ = tree_info;
  bool ok = true;
  for (FolderNode* folder : folders_) {
    if (!folder->SetTreeInfo(tree_info)) {
      KLOG(Fatal) << "Failed to update rev info in folder child record in SetTreeInfo.";
      ok = false;
    }
  }
  return ok;
}

bool FolderNode::ApplyLocalRevDown(uint64_t revision) {
  if (tree_info_ && !tree_info_->SetRevision(TreeInfo::Local, revision)) {
    KLOG(Fatal) << "Failed to set revision folder ignored flag in ApplyLocalRevDown.";
    return false;
  }
  bool ok = true;
  for (FolderNode* folder : folders_) {
    if (!folder->ApplyLocalRevDown(revision)) {
      KLOG(Fatal) << "Failed to applyLocalRevDown for folder child in ApplyLocalRevDown.";
      ok = false;
    }
  }
  return ok;
}

bool FolderNode::ApplyUpdateFalse() {
  bool ok = true;
  for (FileNode* file : files_) file->needs_update_ = false;
  for (FolderNode* folder : folders_) {
    folder->needs_update_ = false;
    if (!folder->ApplyUpdateFalse()) {
      KLOG(Fatal) << "Failed to applyUpdateFalse for folder child in ApplyUpdateFalse.";
      ok = false;
    }
  }
  return ok;
}

bool FolderNode::IsRootMountPoint() const {
  return parent_ != nullptr && tree_info_ && parent_->tree_info_ &&
         tree_info_ != parent_->tree_info_;
}

bool FolderNode::RegisterInodesDown(InodeCollection* collection, bool include_self) {
  if (include_self && inode_ != 0 && !AddToInodeCollection(collection, this)) return false;
  for (FileNode* file : files_) {
    if (file->inode_ != 0 && !AddToInodeCollection(collection, file)) return false;
  }
  for (FolderNode* folder : folders_) {
    if (!folder->RegisterInodesDown(collection, true)) return false;
  }
  return true;
}

void FolderNode::UnregisterInodesDown(InodeCollection* collection, bool include_self) {
  if (include_self && inode_ != 0) RemoveFromInodeCollection(collection, this);
  for (FileNode* file : files_) {
    if (file->inode_ != 0) RemoveFromInodeCollection(collection, file);
  }
  for (FolderNode* folder : folders_) folder->UnregisterInodesDown(collection, true);
  inodes_.reset();
}

bool FolderNode::HandInodeCollection(const std::shared_ptr<InodeCollection>& collection,
                                     bool self_in_new, bool self_in_old) {
  if (collection == inodes_) {
    // Same collection: only this folder's own registration may change.
    if (collection && inode_ != 0 && self_in_new != self_in_old) {
      if (self_in_new && !AddToInodeCollection(collection.get(), this)) return false;
      if (!self_in_new) RemoveFromInodeCollection(collection.get(), this);
    }
    ForEachFolderDown(this, [&](const FolderNode* f) {
      const_cast<FolderNode*>(f)->inodes_ = collection;
    });
    return true;
  }
  if (inodes_) UnregisterInodesDown(inodes_.get(), self_in_old);
  if (collection && !RegisterInodesDown(collection.get(), self_in_new)) {
    // Leave the subtree registered nowhere rather than half registered.
    ForgetInodesDown(collection.get(), self_in_new);
    return false;
  }
  ForEachFolderDown(this, [&](const FolderNode* f) {
    const_cast<FolderNode*>(f)->inodes_ = collection;
  });
  return true;
}

bool FolderNode::SetControlledInodeCollection(std::shared_ptr<InodeCollection> collection) {
  // A folder in a tree is registered in its collection; a root is not.
  return HandInodeCollection(collection, parent_ != nullptr, parent_ != nullptr);
}

void FolderNode::InvalidateInodesDown() {
  const std::shared_ptr<InodeCollection> keep = inodes_;
  if (keep) UnregisterInodesDown(keep.get(), parent_ != nullptr);
  ForEachFolderDown(this, [&keep](const FolderNode* f) {
    auto* folder = const_cast<FolderNode*>(f);
    folder->inodes_ = keep;
    folder->inode_ = 0;
    for (FileNode* file : folder->files_) file->inode_ = 0;
  });
}

void FolderNode::ForgetInodesDown(InodeCollection* collection, bool include_self) {
  if (include_self && inode_ != 0) ForgetInode(collection, this);
  for (FileNode* file : files_) {
    if (file->inode_ != 0) ForgetInode(collection, file);
  }
  for (FolderNode* folder : folders_) folder->ForgetInodesDown(collection, true);
}

void FolderNode::MarkChildrenNotExist() {
  for (FileNode* file : files_) file->exists_ = false;
  for (FolderNode* folder : folders_) folder->exists_ = false;
}

// ---------------------------------------------------------------- clear and copy

void FolderNode::Clear() {
  const Counts before = CountsOf(*this);
  AddChangesUp(-(before.changes - (changed_ ? 1 : 0)));
  AddErrorsUp(-before.reload_sync_errors, -before.other_errors);
  if (inodes_) {
    for (FileNode* file : files_) {
      if (file->inode_ != 0) RemoveFromInodeCollection(inodes_.get(), file);
    }
    for (FolderNode* folder : folders_) folder->UnregisterInodesDown(inodes_.get(), true);
  }
  DestroyChildren();
  changed_children_ = 0;
  errors_reload_sync_ = 0;
  errors_other_ = 0;
  status_ = kStatusOk;
}

bool FolderNode::DeepCopyContentFrom(const FolderNode* other) {
  if (other == this) return true;
  // A copy into its own subtree would never end, and clearing an ancestor
  // of the source would destroy it.
  for (const FolderNode* f = this; f != nullptr; f = f->parent_) {
    if (f == other) {
      KLOG(Fatal) << "DeepCopyContentFrom: the source holds the target.";
      return false;
    }
  }
  for (const FolderNode* f = other; f != nullptr; f = f->parent_) {
    if (f == this) {
      KLOG(Fatal) << "DeepCopyContentFrom: the target holds the source.";
      return false;
    }
  }
  Clear();
  return CopyChildrenFrom(other);
}

bool FolderNode::CopyChildrenFrom(const FolderNode* other) {
  bool ok = true;
  for (const FileNode* file : other->files_) {
    UniqueNodePtr<FileNode> copy;
    try {
      copy = file->Clone();
    } catch (const std::bad_alloc&) {
      KLOG(Fatal) << "Failed allocate node.";
      return false;
    }
    ok = InsertFile(std::move(copy), nullptr) && ok;
  }
  for (const FolderNode* folder : other->folders_) {
    UniqueNodePtr<FolderNode> copy;
    try {
      copy = CreateInstance();
    } catch (const std::bad_alloc&) {
      KLOG(Fatal) << "Failed allocate node.";
      return false;
    }
    copy->inode_ = folder->inode_;
    copy->time_ = folder->time_;
    copy->exists_ = folder->exists_;
    copy->changed_ = folder->changed_;
    copy->offline_ = folder->offline_;
    copy->fs_hidden_ = folder->fs_hidden_;
    copy->needs_update_ = folder->needs_update_;
    copy->readonly_ = folder->readonly_;
    copy->status_ = folder->status_;
    // A folder sharing its parent's tree info shares the copy's parent's;
    // a tree info of its own (a mount point) is copied.
    if (folder->tree_info_ == other->tree_info_) {
      copy->tree_info_ = tree_info_;
    } else if (folder->tree_info_) {
      copy->tree_info_ = folder->tree_info_->Clone();
    }
    if (!copy->SetName(folder->GetName())) return false;
    ChildIter<FolderNode> where;
    if (!InsertFolder(std::move(copy), &where)) {
      ok = false;
      continue;
    }
    ok = where.node->CopyChildrenFrom(folder) && ok;
  }
  return ok;
}

// ---------------------------------------------------------------- checks

namespace {

// Logs one disagreement of a check.
bool Mismatch(const char* check, const FolderNode* folder, const char* what, int64_t stored,
              int64_t counted) {
  KLOG(Fatal) << check << ": " << what << " of \"" << folder->CollectPath() << "\" is "
              << stored << ", counted " << counted << ".";
  return false;
}

}  // namespace

bool FolderNode::ValidateChangedDown() const {
  bool ok = true;
  ForEachFolderDown(this, [&ok](const FolderNode* folder) {
    const int32_t counted = folder->RecountChanges();
    if (counted != folder->changed_children_) {
      ok = Mismatch("ValidateChangedDown", folder, "changed children", folder->changed_children_,
                    counted);
    }
  });
  return ok;
}

bool FolderNode::ValidateNotChangedDown() const {
  bool ok = true;
  ForEachFolderDown(this, [&ok](const FolderNode* folder) {
    int64_t changed = folder->changed_children_;
    for (const FileNode* file : folder->files_) changed += file->IsChanged() ? 1 : 0;
    for (const FolderNode* child : folder->folders_) changed += child->IsChanged() ? 1 : 0;
    if (changed != 0) ok = Mismatch("ValidateNotChangedDown", folder, "changes", changed, 0);
  });
  return ok;
}

bool FolderNode::ValidateErrorCounters() const {
  bool ok = true;
  struct Recount {
    static void Errors(const FolderNode* folder, int64_t* reload, int64_t* other) {
      for (const FileNode* file : folder->IterFiles()) {
        if (!file->IsStatusOK()) ++*(FileNode::IsErrorReloadSync(file->GetStatus()) ? reload : other);
      }
      for (const FolderNode* child : folder->IterFolders()) {
        if (!child->IsStatusOK()) {
          ++*(FolderNode::IsErrorReloadSync(child->GetStatus()) ? reload : other);
        }
        Errors(child, reload, other);
      }
    }
  };
  ForEachFolderDown(this, [&ok](const FolderNode* folder) {
    int64_t reload = 0, other = 0;
    Recount::Errors(folder, &reload, &other);
    if (reload != folder->errors_reload_sync_) {
      ok = Mismatch("ValidateErrorCounters", folder, "reload sync errors",
                    folder->errors_reload_sync_, reload);
    }
    if (other != folder->errors_other_) {
      ok = Mismatch("ValidateErrorCounters", folder, "other errors", folder->errors_other_, other);
    }
  });
  return ok;
}

bool FolderNode::ValidateInodeCollection() const {
  bool ok = true;
  const InodeCollection* collection = inodes_.get();
  size_t files = 0, folders = 0;
  ForEachFolderDown(this, [&](const FolderNode* folder) {
    if (folder->inodes_.get() != collection) {
      KLOG(Fatal) << "ValidateInodeCollection: \"" << folder->CollectPath()
                  << "\" holds another inode collection.";
      ok = false;
    }
    if (collection == nullptr) return;
    if (folder != this || parent_ != nullptr) {
      if (folder->inode_ != 0) {
        ++folders;
        if (!collection->HasFolderWithInode(folder->inode_)) {
          KLOG(Fatal) << "ValidateInodeCollection: folder \"" << folder->CollectPath()
                      << "\" ino_" << folder->inode_ << " is not registered.";
          ok = false;
        }
      }
    }
    for (const FileNode* file : folder->files_) {
      if (file->inode_ == 0) continue;
      ++files;
      if (!collection->HasFileWithInode(file->inode_)) {
        KLOG(Fatal) << "ValidateInodeCollection: file \"" << file->CollectPath() << "\" ino_"
                    << file->inode_ << " is not registered.";
        ok = false;
      }
    }
  });
  // A whole tree: the collection holds exactly its nodes.
  if (collection != nullptr && parent_ == nullptr &&
      (collection->FileCount() != files || collection->FolderCount() != folders)) {
    KLOG(Fatal) << "ValidateInodeCollection: the collection holds " << collection->FileCount()
                << " files and " << collection->FolderCount() << " folders, the tree "
                << files << " and " << folders << ".";
    ok = false;
  }
  return ok;
}

bool FolderNode::ValidateParentNotNull() const {
  bool ok = true;
  ForEachFolderDown(this, [&ok](const FolderNode* folder) {
    for (const FileNode* file : folder->files_) {
      if (file->parent_ != folder) {
        KLOG(Fatal) << "ValidateParentNotNull: file " << file->GetName() << " of \""
                    << folder->CollectPath() << "\" has another parent.";
        ok = false;
      }
    }
    for (const FolderNode* child : folder->folders_) {
      if (child->parent_ != folder) {
        KLOG(Fatal) << "ValidateParentNotNull: folder " << child->GetName() << " of \""
                    << folder->CollectPath() << "\" has another parent.";
        ok = false;
      }
    }
  });
  return ok;
}

bool FolderNode::ValidateUpdateFalse() const {
  bool ok = true;
  ForEachFolderDown(this, [&](const FolderNode* folder) {
    if (folder != this && folder->needs_update_) {
      KLOG(Fatal) << "ValidateUpdateFalse: folder \"" << folder->CollectPath()
                  << "\" needs update.";
      ok = false;
    }
    for (const FileNode* file : folder->files_) {
      if (file->needs_update_) {
        KLOG(Fatal) << "ValidateUpdateFalse: file \"" << file->CollectPath() << "\" needs update.";
        ok = false;
      }
    }
  });
  return ok;
}

bool FolderNode::ValidateAccessMode() const {
  // Every folder below one with tree information must reach tree information.
  bool ok = true;
  const bool expected = GetTreeInfo() != nullptr;
  ForEachFolderDown(this, [&](const FolderNode* folder) {
    if ((folder->GetTreeInfo() != nullptr) != expected) {
      KLOG(Fatal) << "ValidateAccessMode: \"" << folder->CollectPath()
                  << "\" disagrees on tree information.";
      ok = false;
    }
  });
  return ok;
}

bool FolderNode::ValidateIndices() const {
  bool ok = true;
  ForEachFolderDown(this, [&ok](const FolderNode* folder) {
    size_t files = 0, folders = 0;
    for (const FileNode* file : folder->files_) {
      if (file->NameIsLowercase()) continue;
      ++files;
      auto [first, last] = folder->files_lowercase_.equal_range(file->GetNameLowercase());
      if (std::find(first, last, file) == last) {
        KLOG(Fatal) << "ValidateIndices: file " << file->GetName() << " is not indexed.";
        ok = false;
      }
    }
    for (const FolderNode* child : folder->folders_) {
      if (child->NameIsLowercase()) continue;
      ++folders;
      auto [first, last] = folder->folders_lowercase_.equal_range(child->GetNameLowercase());
      if (std::find(first, last, child) == last) {
        KLOG(Fatal) << "ValidateIndices: folder " << child->GetName() << " is not indexed.";
        ok = false;
      }
    }
    if (files != folder->files_lowercase_.size() || folders != folder->folders_lowercase_.size()) {
      KLOG(Fatal) << "ValidateIndices: \"" << folder->CollectPath()
                  << "\" has stray lowercase entries.";
      ok = false;
    }
  });
  return ok;
}

// ---------------------------------------------------------------- printing

void FolderNode::Print(std::ostream& out, bool with_files, bool with_details,
                       unsigned indent) const {
  const std::string pad(2 * indent, ' ');
  out << pad << "[" << (GetName().empty() ? std::string_view("/") : GetName()) << "] ino_"
      << inode_;
  if (with_details) {
    out << " changes=" << changed_children_ << (changed_ ? " changed" : "")
        << " errors=" << CountErrors() << " status=" << static_cast<int>(status_);
  }
  out << "\n";
  for (const FolderNode* folder : folders_) folder->Print(out, with_files, with_details, indent + 1);
  if (!with_files) return;
  for (const FileNode* file : files_) {
    out << pad << "  " << file->GetName() << " ino_" << file->GetInode();
    if (with_details) {
      out << " " << file->GetSize() << "b " << file->GetHash().ToDisplayString()
          << (file->IsChanged() ? " changed" : "") << " status=" << static_cast<int>(file->GetStatus());
    }
    out << "\n";
  }
}

std::string FolderNode::Dump(bool with_files) const {
  std::ostringstream out;
  Print(out, with_files, true, 0);
  return out.str();
}

// ---------------------------------------------------------------- service items

namespace service_items {

bool IsServiceFileName(std::string_view name) {
  if (name.empty()) return false;
  if (name.size() >= 6 && (name.starts_with(".cloud") || name.starts_with(".korvo"))) return true;
  if (IEndsWithASCII(name, ".tmp") || name.ends_with(".~") || IEndsWithASCII(name, ".crdownload")) {
    return true;
  }
  if (IEqualsASCII(name, "default.ini") || IEqualsASCII(name, "thumbs.db") ||
      IEqualsASCII(name, "desktop.ini") || IEqualsASCII(name, "$RECYCLE.BIN")) {
    return true;
  }
  return name.starts_with("~$") || name.starts_with(".~");
}

bool IsServiceFolderName(std::string_view name) {
  if (name.size() < 6) return false;
  return name.starts_with(".korvo") || IEqualsASCII(name, "System Volume Information") ||
         IEqualsASCII(name, "$RECYCLE.BIN");
}

}  // namespace service_items

// Explicit instantiations used by derived folders.
template ChildIter<const FileNode> FolderNode::Find<FileNode>(std::string_view, bool, bool*,
                                                              std::string_view, bool*) const;
template ChildIter<const FolderNode> FolderNode::Find<FolderNode>(std::string_view, bool, bool*,
                                                                  std::string_view, bool*) const;
