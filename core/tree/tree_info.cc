#include "core/tree/tree_info.h"

#include <limits>

#include "core/infra/logger.h"

TreeInfo::TreeInfo(const TreeId& id, TreeType type, uint64_t local_revision,
                   uint64_t old_revision, uint64_t new_revision, TreeAccessMode mode)
    : tree_id_(id),
      access_mode_(mode),
      local_revision_(local_revision),
      new_revision_(new_revision),
      old_revision_(old_revision),
      tree_type_(type) {}

void TreeInfo::CopyFrom(const TreeInfo& other) {
  const TreeId id = tree_id_;
  *this = other;
  tree_id_ = id;
}

std::shared_ptr<TreeInfo> TreeInfo::Clone() const { return std::make_shared<TreeInfo>(*this); }

bool TreeInfo::SetAccessMode(TreeAccessMode mode) {
  access_mode_ = mode;
  return true;
}

uint64_t* TreeInfo::RevisionField(RevisionType type) {
  switch (type) {
    case Local: return &local_revision_;
    case New: return &new_revision_;
    case Old: return &old_revision_;
  }
  // Not a revision type: a caller's bug. Keep going on the local revision
  // rather than touching memory outside the object.
  KLOG(Fatal) << "Unknown revision type " << static_cast<int>(type) << ". " << GetInfoString();
  return &local_revision_;
}

uint64_t TreeInfo::GetRevision(RevisionType type) const {
  return *const_cast<TreeInfo*>(this)->RevisionField(type);
}

bool TreeInfo::SetRevision(RevisionType type, uint64_t revision) {
  *RevisionField(type) = revision;
  return true;
}

bool TreeInfo::IncrementRevision(RevisionType type) {
  ++*RevisionField(type);
  return true;
}

bool TreeInfo::IsEqual(const TreeInfo& other) const {
  return tree_id_ == other.tree_id_ && access_mode_ == other.access_mode_ &&
         tree_type_ == other.tree_type_ && quota_total_ == other.quota_total_ &&
         quota_used_ == other.quota_used_;
}

void TreeInfo::SetSeperateQuota(uint64_t used, uint64_t total) {
  quota_used_ = used;
  quota_total_ = total;
}

uint64_t TreeInfo::GetQuotaFree() const {
  if (quota_total_ == 0) return std::numeric_limits<uint64_t>::max();
  if (quota_used_ >= quota_total_) return 0;
  return quota_total_ - quota_used_;
}

void TreeInfo::QuotaUsedAdd(uint64_t n) { quota_used_ += n; }

void TreeInfo::QuotaUsedChange(int64_t delta) { quota_used_ += static_cast<uint64_t>(delta); }

void TreeInfo::QuotaUsedRelease(uint64_t n) {
  if (quota_used_ < n) {
    KLOG(Fatal) << "Used size overflow, has only " << quota_used_ << " trying to subtract " << n;
  }
  quota_used_ -= n;
}

std::string TreeInfo::GetInfoString() const {
  std::string out;
  out += "Local rev: \"" + std::to_string(local_revision_) + "\"; ";
  out += "New rev: \"" + std::to_string(new_revision_) + "\"; ";
  out += "Old rev: \"" + std::to_string(old_revision_) + "\"; ";
  out += "TreeType: \"" + std::to_string(static_cast<int32_t>(tree_type_)) + "\"";
  out += "Quota: " + std::to_string(quota_used_) + " or " + std::to_string(quota_total_);
  return out;
}
