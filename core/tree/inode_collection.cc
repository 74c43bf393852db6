#include "core/tree/inode_collection.h"

#include <google/sparse_hash_map>

#include <exception>
#include <unordered_map>

#include "core/infra/logger.h"
#include "core/tree/file_tree.h"

namespace {

// The first node registered under each inode in a memory-compact sparse
// table, every further one in a multimap (duplicates are rare).
template <class Node>
struct InodeIndex {
  InodeIndex() { primary.set_deleted_key(0); }

  google::sparse_hash_map<uint64_t, Node*> primary;
  std::unordered_multimap<uint64_t, Node*> further;

  bool Add(uint64_t inode, Node* node) {
    try {
      auto [it, inserted] = primary.insert({inode, node});
      if (!inserted) further.emplace(inode, node);
      return true;
    } catch (const std::exception& e) {
      KLOG(Fatal) << "Failed to register inode ino_" << inode << ": " << e.what();
      return false;
    }
  }

  // Removes this exact node's entry.
  bool Remove(uint64_t inode, Node* node) {
    auto [first, last] = further.equal_range(inode);
    for (auto it = first; it != last; ++it) {
      if (it->second == node) {
        further.erase(it);
        return true;
      }
    }
    auto it = primary.find(inode);
    if (it == primary.end() || it->second != node) return false;
    // Promote a further node, so that the inode stays findable.
    if (first != last) {
      it->second = first->second;
      further.erase(first);
    } else {
      primary.erase(it);
    }
    return true;
  }

  Node* Get(uint64_t inode, const char* kind) const {
    if (inode == 0) return nullptr;
    auto it = primary.find(inode);
    if (it == primary.end()) return nullptr;
    auto [first, last] = further.equal_range(inode);
    if (first != last) {
      LoggerWrapper log(LoggerWrapper::Fatal);
      log << "Multiple " << kind << " detected with inode ino_" << inode << " \""
          << it->second->CollectPath() << "\"";
      for (auto other = first; other != last; ++other) {
        log << " \"" << other->second->CollectPath() << "\"";
      }
    }
    return it->second;
  }

  size_t Count() const { return primary.size() + further.size(); }
};

}  // namespace

struct InodeCollection::Impl {
  InodeIndex<FileNode> files;
  InodeIndex<FolderNode> folders;
};

InodeCollection::InodeCollection() : impl_(std::make_unique<Impl>()) {}
InodeCollection::~InodeCollection() = default;

FileNode* InodeCollection::GetFileByInode(uint64_t inode) const {
  return impl_->files.Get(inode, "files");
}

FolderNode* InodeCollection::GetFolderByInode(uint64_t inode) const {
  return impl_->folders.Get(inode, "folders");
}

bool InodeCollection::HasFileWithInode(uint64_t inode) const {
  return inode != 0 && impl_->files.primary.count(inode) != 0;
}

bool InodeCollection::HasFolderWithInode(uint64_t inode) const {
  return inode != 0 && impl_->folders.primary.count(inode) != 0;
}

void InodeCollection::Reserve(size_t files, size_t folders) {
  try {
    impl_->files.primary.resize(files);
    impl_->folders.primary.resize(folders);
  } catch (const std::exception& e) {
    KLOG(Fatal) << "Failed to reserve inode collection: " << e.what();
  }
}

bool InodeCollection::IsEmpty() const {
  return impl_->files.primary.empty() && impl_->folders.primary.empty();
}

size_t InodeCollection::FileCount() const { return impl_->files.Count(); }
size_t InodeCollection::FolderCount() const { return impl_->folders.Count(); }

bool ChildNode::AddToInodeCollection(InodeCollection* collection, FileNode* node) {
  return collection->impl_->files.Add(node->GetInode(), node);
}

bool ChildNode::AddToInodeCollection(InodeCollection* collection, FolderNode* node) {
  return collection->impl_->folders.Add(node->GetInode(), node);
}

bool ChildNode::RemoveFromInodeCollection(InodeCollection* collection, FileNode* node) {
  if (collection->impl_->files.Remove(node->GetInode(), node)) return true;
  KLOG(Fatal) << "File inode not found in collection to remove: ino_" << node->GetInode()
              << ";  \"" << node->CollectPath() << "\"";
  return false;
}

bool ChildNode::RemoveFromInodeCollection(InodeCollection* collection, FolderNode* node) {
  if (collection->impl_->folders.Remove(node->GetInode(), node)) return true;
  KLOG(Fatal) << "Folder inode not found in collection to remove: ino_" << node->GetInode()
              << ";  \"" << node->CollectPath() << "\"";
  return false;
}

void ChildNode::ForgetInode(InodeCollection* collection, FileNode* node) {
  collection->impl_->files.Remove(node->GetInode(), node);
}

void ChildNode::ForgetInode(InodeCollection* collection, FolderNode* node) {
  collection->impl_->folders.Remove(node->GetInode(), node);
}
