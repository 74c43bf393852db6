#ifndef KORVO_CORE_TREE_TREE_INFO_H_
#define KORVO_CORE_TREE_TREE_INFO_H_

#include <cstdint>
#include <memory>
#include <string>

#include "core/export.h"
#include "core/tree/tree_id.h"

// How the account may use a tree. The values belong to the remote file
// systems that create tree infos; the tree only stores and compares them.
enum TreeAccessMode : int32_t {};

// One tree's revisions, type, access mode and quota. Attached by shared
// pointer to the tree's root folder and to mount-point folders.
class KORVO_EXPORT TreeInfo {
 public:
  // Stored and printed as a number; the remote file systems name the values.
  enum TreeType : int32_t {
    // Stands for the parent folder's tree info.
    kParentTreeType = 2,
    kDefaultTreeType = 3,
  };
  enum RevisionType : int32_t { Local = 0, New = 1, Old = 2 };

  TreeInfo(const TreeId& id, TreeType type, uint64_t local_revision, uint64_t old_revision,
           uint64_t new_revision, TreeAccessMode mode);
  TreeInfo(const TreeInfo&) = default;
  TreeInfo(TreeInfo&&) = default;
  TreeInfo& operator=(const TreeInfo&) = default;
  TreeInfo& operator=(TreeInfo&&) = default;

  // Every field except the tree id.
  void CopyFrom(const TreeInfo& other);
  std::shared_ptr<TreeInfo> Clone() const;

  const TreeId& GetTreeId() const { return tree_id_; }
  TreeType GetType() const { return tree_type_; }
  TreeAccessMode GetAccessMode() const { return access_mode_; }
  bool SetAccessMode(TreeAccessMode mode);

  // |type| must be Local, New or Old.
  uint64_t GetRevision(RevisionType type) const;
  bool SetRevision(RevisionType type, uint64_t revision);
  bool IncrementRevision(RevisionType type);

  // Same tree id, access mode, type and quota; revisions are not compared.
  bool IsEqual(const TreeInfo& other) const;

  bool HasSeparateQuota() const { return quota_total_ != 0; }
  // Note the order: used first.
  void SetSeperateQuota(uint64_t used, uint64_t total);
  uint64_t GetQuotaTotal() const { return quota_total_; }
  uint64_t GetQuotaUsed() const { return quota_used_; }
  // UINT64_MAX when no total is known; 0 when used reaches the total.
  uint64_t GetQuotaFree() const;

  // Modulo 2^64.
  void QuotaUsedAdd(uint64_t n);
  void QuotaUsedChange(int64_t delta);
  // Releasing more than is used logs and still subtracts modulo 2^64, so
  // that adding the same amount later restores the counter.
  void QuotaUsedRelease(uint64_t n);

 private:
  friend struct TreeInfoTestPeer;

  TreeInfo() = default;

  uint64_t* RevisionField(RevisionType type);
  std::string GetInfoString() const;

  TreeId tree_id_;
  TreeAccessMode access_mode_ = static_cast<TreeAccessMode>(1);
  uint64_t local_revision_ = 0;
  uint64_t new_revision_ = 0;
  uint64_t old_revision_ = 0;
  uint64_t quota_total_ = 0;
  uint64_t quota_used_ = 0;
  TreeType tree_type_ = kDefaultTreeType;
};

#endif  // KORVO_CORE_TREE_TREE_INFO_H_
