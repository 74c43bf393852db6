#ifndef KORVO_CORE_TREE_INODE_COLLECTION_H_
#define KORVO_CORE_TREE_INODE_COLLECTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/export.h"

class ChildNode;
class FileNode;
class FolderNode;

// The inode index of one tree: which file and which folder carry an inode.
// Nodes register themselves as they join a tree; like the tree, the
// collection has no lock of its own.
class KORVO_EXPORT InodeCollection {
 public:
  InodeCollection();
  ~InodeCollection();
  InodeCollection(const InodeCollection&) = delete;
  InodeCollection& operator=(const InodeCollection&) = delete;

  // Null for inode 0 and unknown inodes; logs when several nodes share it.
  FileNode* GetFileByInode(uint64_t inode) const;
  FolderNode* GetFolderByInode(uint64_t inode) const;
  bool HasFileWithInode(uint64_t inode) const;
  bool HasFolderWithInode(uint64_t inode) const;
  void Reserve(size_t files, size_t folders);
  bool IsEmpty() const;
  size_t FileCount() const;
  size_t FolderCount() const;

 private:
  friend class ChildNode;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

#endif  // KORVO_CORE_TREE_INODE_COLLECTION_H_
