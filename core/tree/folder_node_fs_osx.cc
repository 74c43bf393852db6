#include "core/tree/folder_node_fs_osx.h"

#include <exception>

#include "core/infra/logger.h"
#include "core/text/encoding_utils.h"

namespace {

// The NFC form of |name| in |*nfc|, or |name| itself when it is in NFC
// (then |*is_nfc| is set). False when the name cannot be normalized.
bool Normalize(std::string_view name, std::string* nfc, bool* is_nfc) {
  *is_nfc = false;
  if (!unicode::NormalizeCIfNeeded(name, nfc, is_nfc)) return false;
  if (*is_nfc || *nfc == name) {
    *is_nfc = true;
    nfc->assign(name);
  }
  return true;
}

}  // namespace

// What differs between files and folders.
template <class Node>
struct OsxOps;

template <>
struct OsxOps<FileNode> {
  static auto& Map(FolderNodeFS_OSX& f) { return f.files_by_nfc_; }
  static const auto& Map(const FolderNodeFS_OSX& f) { return f.files_by_nfc_; }
  static ChildIter<const FileNode> PlainFind(const FolderNodeFS_OSX& f, std::string_view name,
                                             bool ci, bool* exact) {
    return f.FolderNode::FindFile(name, ci, exact);
  }
  static ResultInsert PlainInsert(FolderNodeFS_OSX& f, UniqueNodePtr<FileNode>&& node,
                                  ChildIter<FileNode>* where, UniqueNodePtr<FileNode>* rejected) {
    return f.FolderNode::InsertFileTry(std::move(node), where, rejected);
  }
  static FileNode* PlainRemove(FolderNodeFS_OSX& f, ChildIter<FileNode>* it) {
    return f.FolderNode::RemoveFile(it);
  }
  static ResultInsert PlainRename(FolderNodeFS_OSX& f, ChildIter<FileNode>* it,
                                  std::string&& name) {
    return f.FolderNode::RenameFileTry(it, std::move(name));
  }
  static const char* Kind() { return "file"; }
};

template <>
struct OsxOps<FolderNode> {
  static auto& Map(FolderNodeFS_OSX& f) { return f.folders_by_nfc_; }
  static const auto& Map(const FolderNodeFS_OSX& f) { return f.folders_by_nfc_; }
  static ChildIter<const FolderNode> PlainFind(const FolderNodeFS_OSX& f, std::string_view name,
                                               bool ci, bool* exact) {
    return f.FolderNode::FindFolder(name, ci, exact);
  }
  static ResultInsert PlainInsert(FolderNodeFS_OSX& f, UniqueNodePtr<FolderNode>&& node,
                                  ChildIter<FolderNode>* where,
                                  UniqueNodePtr<FolderNode>* rejected) {
    return f.FolderNode::InsertFolderTry(std::move(node), where, rejected);
  }
  static FolderNode* PlainRemove(FolderNodeFS_OSX& f, ChildIter<FolderNode>* it) {
    return f.FolderNode::RemoveFolder(it);
  }
  static ResultInsert PlainRename(FolderNodeFS_OSX& f, ChildIter<FolderNode>* it,
                                  std::string&& name) {
    return f.FolderNode::RenameFolderTry(it, std::move(name));
  }
  static const char* Kind() { return "folder"; }

  // The lookup, shared by files and folders.
  template <class Node>
  static ChildIter<const Node> Find(const FolderNodeFS_OSX& folder, std::string_view name,
                                    bool case_insensitive, bool* exact);
  template <class Node>
  static ResultInsert Insert(FolderNodeFS_OSX& folder, UniqueNodePtr<Node>&& node,
                             ChildIter<Node>* where, UniqueNodePtr<Node>* rejected);
  template <class Node>
  static Node* Remove(FolderNodeFS_OSX& folder, ChildIter<Node>* it);
  template <class Node>
  static ResultInsert Rename(FolderNodeFS_OSX& folder, ChildIter<Node>* it,
                             std::string&& new_name);
};

using Shared = OsxOps<FolderNode>;

template <class Node>
ChildIter<const Node> Shared::Find(const FolderNodeFS_OSX& folder, std::string_view name,
                                   bool case_insensitive, bool* exact) {
  ChildIter<const Node> found = OsxOps<Node>::PlainFind(folder, name, case_insensitive, exact);
  if (!found.IsEnd()) return found;
  if (exact) *exact = false;
  std::string nfc;
  bool is_nfc = false;
  if (!Normalize(name, &nfc, &is_nfc)) {
    KLOG(Fatal) << "Failed normalize name to search in folder: " << name;
    return {};
  }
  if (!is_nfc) {
    found = OsxOps<Node>::PlainFind(folder, nfc, case_insensitive, nullptr);
    if (!found.IsEnd()) return found;
  }
  const auto& map = OsxOps<Node>::Map(folder);
  auto entry = map.find(nfc);
  if (entry == map.end()) return {};
  found = OsxOps<Node>::PlainFind(folder, entry->second->GetName(), false, nullptr);
  if (found.IsEnd()) {
    KLOG(Fatal) << "Corrupted internal tree structure, failed to find: "
                << entry->second->GetName();
  }
  return found;
}

template <class Node>
ResultInsert Shared::Insert(FolderNodeFS_OSX& folder, UniqueNodePtr<Node>&& node,
                            ChildIter<Node>* where, UniqueNodePtr<Node>* rejected) {
  UniqueNodePtr<Node> owned = std::move(node);
  if (rejected) rejected->reset();
  auto give_back = [&](ResultInsert result) {
    if (rejected) *rejected = std::move(owned);
    return result;
  };
  if (!owned) return ResultInsert::FailedOther;
  std::string nfc;
  bool is_nfc = false;
  if (!Normalize(owned->GetName(), &nfc, &is_nfc)) return give_back(ResultInsert::FailedLowercase);
  // A sibling with the same composed form, stored composed or not.
  auto& map = OsxOps<Node>::Map(folder);
  if (map.count(nfc) != 0 ||
      (!is_nfc && !OsxOps<Node>::PlainFind(folder, nfc, false, nullptr).IsEnd())) {
    return give_back(ResultInsert::AlreadyExists);
  }
  ChildIter<Node> ignored;
  if (where == nullptr) where = &ignored;
  Node* raw = owned.get();
  const ResultInsert result = OsxOps<Node>::PlainInsert(folder, std::move(owned), where, rejected);
  if (result != ResultInsert::Inserted || is_nfc) return result;
  try {
    map.emplace(std::move(nfc), raw);
  } catch (const std::exception& e) {
    KLOG(Fatal) << "Failed to index " << OsxOps<Node>::Kind() << " " << raw->GetName() << ": "
                << e.what();
    UniqueNodePtr<Node> back(OsxOps<Node>::PlainRemove(folder, where));
    if (rejected) *rejected = std::move(back);
    return ResultInsert::FailedOther;
  }
  return result;
}

template <class Node>
Node* Shared::Remove(FolderNodeFS_OSX& folder, ChildIter<Node>* it) {
  if (it == nullptr || it->IsEnd()) return OsxOps<Node>::PlainRemove(folder, it);
  std::string nfc;
  bool is_nfc = false;
  if (!Normalize(it->node->GetName(), &nfc, &is_nfc)) {
    KLOG(Fatal) << "Failed normalize " << OsxOps<Node>::Kind() << " name: " << it->node->GetName();
    return nullptr;
  }
  Node* node = OsxOps<Node>::PlainRemove(folder, it);
  if (node == nullptr || is_nfc) return node;
  auto& map = OsxOps<Node>::Map(folder);
  auto entry = map.find(nfc);
  if (entry == map.end() || entry->second != node) {
    KLOG(Fatal) << "Internal FolderNodeFS_OSX structure corrupted.";
  } else {
    map.erase(entry);
  }
  return node;
}

template <class Node>
ResultInsert Shared::Rename(FolderNodeFS_OSX& folder, ChildIter<Node>* it,
                            std::string&& new_name) {
  if (it == nullptr || it->IsEnd()) return OsxOps<Node>::PlainRename(folder, it, std::move(new_name));
  Node* node = const_cast<Node*>(it->node);
  std::string old_nfc, new_nfc;
  bool old_is_nfc = false, new_is_nfc = false;
  if (!Normalize(node->GetName(), &old_nfc, &old_is_nfc)) {
    KLOG(Fatal) << "Failed to normalize: " << node->GetName();
    return ResultInsert::FailedLowercase;
  }
  if (!Normalize(new_name, &new_nfc, &new_is_nfc)) {
    KLOG(Fatal) << "Failed to normalize: " << new_name;
    return ResultInsert::FailedLowercase;
  }
  auto& map = OsxOps<Node>::Map(folder);
  // Another child may already have the new name in another form.
  auto taken = map.find(new_nfc);
  if (taken != map.end() && taken->second != node) return ResultInsert::AlreadyExists;
  if (!new_is_nfc) {
    auto plain = OsxOps<Node>::PlainFind(folder, new_nfc, false, nullptr);
    if (!plain.IsEnd() && plain.node != node) return ResultInsert::AlreadyExists;
  }
  if (!old_is_nfc) {
    auto entry = map.find(old_nfc);
    if (entry == map.end() || entry->second != node) {
      KLOG(Fatal) << "Internal structure corrupted, failed to find: " << node->GetName();
      return ResultInsert::FailedOther;
    }
    map.erase(entry);
  }
  const ResultInsert result = OsxOps<Node>::PlainRename(folder, it, std::move(new_name));
  try {
    if (result == ResultInsert::Inserted) {
      if (!new_is_nfc) map.emplace(std::move(new_nfc), node);
    } else if (!old_is_nfc) {
      map.emplace(std::move(old_nfc), node);
    }
  } catch (const std::exception& e) {
    KLOG(Fatal) << "Failed to index " << node->GetName() << ": " << e.what();
    return ResultInsert::FailedOther;
  }
  return result;
}

FolderNodeFS_OSX::FolderNodeFS_OSX(uint64_t inode, uint64_t time, bool readonly, bool offline)
    : FolderNode(inode, time, readonly, offline) {}

FolderNodeFS_OSX::~FolderNodeFS_OSX() = default;

UniqueNodePtr<FolderNode> FolderNodeFS_OSX::MakeRoot() {
  return std::make_unique<FolderNodeFS_OSX>(0, 0, false, false);
}

UniqueNodePtr<FolderNode> FolderNodeFS_OSX::CreateInstance() const {
  return std::make_unique<FolderNodeFS_OSX>(0, 0, false, false);
}

bool FolderNodeFS_OSX::FindFileNormInsensitive(FolderNode* folder, std::string_view name,
                                               ChildIter<FileNode>* it) {
  *it = folder->FindFile(name, false);
  return !it->IsEnd();
}

bool FolderNodeFS_OSX::FindFolderNormInsensitive(FolderNode* folder, std::string_view name,
                                                 ChildIter<FolderNode>* it) {
  *it = folder->FindFolder(name, false);
  return !it->IsEnd();
}

ResultInsert FolderNodeFS_OSX::InsertFileTry(UniqueNodePtr<FileNode>&& node,
                                             ChildIter<FileNode>* where,
                                             UniqueNodePtr<FileNode>* rejected) {
  return Shared::Insert<FileNode>(*this, std::move(node), where, rejected);
}

ResultInsert FolderNodeFS_OSX::InsertFolderTry(UniqueNodePtr<FolderNode>&& node,
                                               ChildIter<FolderNode>* where,
                                               UniqueNodePtr<FolderNode>* rejected) {
  return Shared::Insert<FolderNode>(*this, std::move(node), where, rejected);
}

ResultInsert FolderNodeFS_OSX::RenameFolderTry(ChildIter<FolderNode>* it, std::string&& name) {
  return Shared::Rename<FolderNode>(*this, it, std::move(name));
}

ResultInsert FolderNodeFS_OSX::RenameFileTry(ChildIter<FileNode>* it, std::string&& name) {
  return Shared::Rename<FileNode>(*this, it, std::move(name));
}

FileNode* FolderNodeFS_OSX::RemoveFile(ChildIter<FileNode>* it) {
  return Shared::Remove<FileNode>(*this, it);
}

FolderNode* FolderNodeFS_OSX::RemoveFolder(ChildIter<FolderNode>* it) {
  return Shared::Remove<FolderNode>(*this, it);
}

bool FolderNodeFS_OSX::DeepCopyContentFrom(const FolderNode* other) {
  const bool copied = FolderNode::DeepCopyContentFrom(other);
  return MakeNormKeysForAllChildren() && copied;
}

void FolderNodeFS_OSX::Clear() {
  FolderNode::Clear();
  files_by_nfc_.clear();
  folders_by_nfc_.clear();
}

ChildIter<const FileNode> FolderNodeFS_OSX::FindFile(std::string_view name, bool case_insensitive,
                                                     bool* exact) const {
  return Shared::Find<FileNode>(*this, name, case_insensitive, exact);
}

ChildIter<const FolderNode> FolderNodeFS_OSX::FindFolder(std::string_view name,
                                                         bool case_insensitive,
                                                         bool* exact) const {
  return Shared::Find<FolderNode>(*this, name, case_insensitive, exact);
}

const FileNode* FolderNodeFS_OSX::GetFile(std::string_view name, bool case_insensitive,
                                          bool* exact) const {
  return FindFile(name, case_insensitive, exact).node;
}

const FolderNode* FolderNodeFS_OSX::GetFolder(std::string_view name, bool case_insensitive,
                                              bool* exact) const {
  return FindFolder(name, case_insensitive, exact).node;
}

bool FolderNodeFS_OSX::HasFile(std::string_view name, bool case_insensitive, bool* flag) const {
  if (flag) *flag = true;
  return !FindFile(name, case_insensitive).IsEnd();
}

bool FolderNodeFS_OSX::HasFolder(std::string_view name, bool case_insensitive,
                                 bool* flag) const {
  if (flag) *flag = true;
  return !FindFolder(name, case_insensitive).IsEnd();
}

bool FolderNodeFS_OSX::HasFileNamedLike(const ChildNode* node, bool case_insensitive,
                                        bool* flag) const {
  return HasFile(node->GetName(), case_insensitive, flag);
}

bool FolderNodeFS_OSX::HasFolderNamedLike(const ChildNode* node, bool case_insensitive,
                                          bool* flag) const {
  return HasFolder(node->GetName(), case_insensitive, flag);
}

bool FolderNodeFS_OSX::MakeNormKeysForAllChildren() {
  files_by_nfc_.clear();
  folders_by_nfc_.clear();
  bool ok = true;
  std::string nfc;
  bool is_nfc = false;
  for (FileNode* file : IterFiles()) {
    if (!Normalize(file->GetName(), &nfc, &is_nfc)) {
      KLOG(Fatal) << "Failed normalize.";
      ok = false;
    } else if (!is_nfc) {
      files_by_nfc_.emplace(nfc, file);
    }
  }
  for (FolderNode* folder : IterFolders()) {
    if (!Normalize(folder->GetName(), &nfc, &is_nfc)) {
      KLOG(Fatal) << "Failed to normalize.";
      ok = false;
    } else if (!is_nfc) {
      folders_by_nfc_.emplace(nfc, folder);
    }
  }
  return ok;
}

bool FolderNodeFS_OSX::ValidateNormKeys() const {
  size_t files = 0, folders = 0;
  bool ok = true;
  std::string nfc;
  bool is_nfc = false;
  for (const FileNode* file : IterFiles()) {
    if (!Normalize(file->GetName(), &nfc, &is_nfc) || is_nfc) continue;
    ++files;
    auto entry = files_by_nfc_.find(nfc);
    ok = ok && entry != files_by_nfc_.end() && entry->second == file;
  }
  for (const FolderNode* folder : IterFolders()) {
    if (!Normalize(folder->GetName(), &nfc, &is_nfc) || is_nfc) continue;
    ++folders;
    auto entry = folders_by_nfc_.find(nfc);
    ok = ok && entry != folders_by_nfc_.end() && entry->second == folder;
  }
  ok = ok && files == files_by_nfc_.size() && folders == folders_by_nfc_.size();
  if (!ok) KLOG(Fatal) << "ValidateNormKeys: \"" << CollectPath() << "\" disagrees.";
  return ok;
}

ResultInsert FolderNodeFS_OSX::BaseInsertFileTry(UniqueNodePtr<FileNode>&& node,
                                                 ChildIter<FileNode>* where,
                                                 UniqueNodePtr<FileNode>* rejected) {
  return FolderNode::InsertFileTry(std::move(node), where, rejected);
}

ResultInsert FolderNodeFS_OSX::BaseInsertFolderTry(UniqueNodePtr<FolderNode>&& node,
                                                   ChildIter<FolderNode>* where,
                                                   UniqueNodePtr<FolderNode>* rejected) {
  return FolderNode::InsertFolderTry(std::move(node), where, rejected);
}

FileNode* FolderNodeFS_OSX::BaseRemoveFile(ChildIter<FileNode>* it) {
  return FolderNode::RemoveFile(it);
}

FolderNode* FolderNodeFS_OSX::BaseRemoveFolder(ChildIter<FolderNode>* it) {
  return FolderNode::RemoveFolder(it);
}

ResultInsert FolderNodeFS_OSX::BaseRenameFileTry(ChildIter<FileNode>* it, std::string&& name) {
  return FolderNode::RenameFileTry(it, std::move(name));
}

ResultInsert FolderNodeFS_OSX::BaseRenameFolderTry(ChildIter<FolderNode>* it,
                                                   std::string&& name) {
  return FolderNode::RenameFolderTry(it, std::move(name));
}
