#include "core/tree/tree_info.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/support/log_watch.h"

struct TreeInfoTestPeer {
  static std::string InfoString(const TreeInfo& info) { return info.GetInfoString(); }
};

namespace {

using testing_env::LogWatch;

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

TreeId SampleId() {
  const uint8_t bytes[12] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x00, 0x10, 0xfe, 0xff};
  return TreeId(bytes);
}

TEST(TreeIdTest, HexFormsAndComparisons) {
  const TreeId id = TreeId::FromHexString("0123456789abcdef0010feff");
  EXPECT_EQ("0123456789ABCDEF0010FEFF", id.ToHexString());
  EXPECT_EQ(SampleId(), id);
  EXPECT_FALSE(id.IsEmpty());
  EXPECT_TRUE(TreeId().IsEmpty());
  EXPECT_EQ("000000000000000000000000", TreeId().ToHexString());
  EXPECT_TRUE(TreeId() < id);
  EXPECT_FALSE(id < id);
  TreeId changed = id;
  changed.Data()[11] = 0;
  EXPECT_NE(id, changed);
  EXPECT_TRUE(changed < id);
  changed.Clear();
  EXPECT_TRUE(changed.IsEmpty());
}

TEST(TreeIdTest, BadTextsGiveAnEmptyId) {
  struct Case {
    std::string text;
    const char* message;
  } const kCases[] = {
      {"0123456789abcdef0010fef", "Invalida tree_id string."},
      {"0123456789abcdef0010feff0", "Invalida tree_id string."},
      {"", "Invalida tree_id string."},
      // Nothing partial: the good digits before the bad one are dropped too.
      {"0123456789abcdef0010feZf", "Invalid symbol in FromHexString."},
      {"g123456789abcdef0010feff", "Invalid symbol in FromHexString."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    LogWatch watch;
    EXPECT_TRUE(TreeId::FromHexString(c.text).IsEmpty());
    EXPECT_EQ(1u, watch.fatals());
    EXPECT_TRUE(watch.Contains(c.message));
  }
}

TEST(TreeInfoTest, RevisionsAndFields) {
  TreeInfo info(SampleId(), static_cast<TreeInfo::TreeType>(5), 1, 2, 3,
                static_cast<TreeAccessMode>(7));
  EXPECT_EQ(1u, info.GetRevision(TreeInfo::Local));
  EXPECT_EQ(2u, info.GetRevision(TreeInfo::Old));
  EXPECT_EQ(3u, info.GetRevision(TreeInfo::New));
  EXPECT_EQ(5, info.GetType());
  EXPECT_EQ(7, info.GetAccessMode());
  EXPECT_EQ(SampleId(), info.GetTreeId());
  EXPECT_FALSE(info.HasSeparateQuota());

  EXPECT_TRUE(info.SetRevision(TreeInfo::New, 10));
  EXPECT_TRUE(info.IncrementRevision(TreeInfo::New));
  EXPECT_EQ(11u, info.GetRevision(TreeInfo::New));
  EXPECT_EQ(1u, info.GetRevision(TreeInfo::Local));
  EXPECT_TRUE(info.SetAccessMode(static_cast<TreeAccessMode>(1)));
  EXPECT_EQ(1, info.GetAccessMode());
  info.SetSeperateQuota(40, 100);
  EXPECT_EQ("Local rev: \"1\"; New rev: \"11\"; Old rev: \"2\"; TreeType: \"5\"Quota: 40 or 100",
            TreeInfoTestPeer::InfoString(info));
}

TEST(TreeInfoTest, EqualityCopiesAndClones) {
  TreeInfo a(SampleId(), static_cast<TreeInfo::TreeType>(4), 1, 2, 3,
             static_cast<TreeAccessMode>(1));
  TreeInfo b = a;
  b.SetRevision(TreeInfo::Local, 99);
  EXPECT_TRUE(a.IsEqual(b));  // Revisions are not compared.
  b.QuotaUsedAdd(1);
  EXPECT_FALSE(a.IsEqual(b));
  b = a;
  b.SetAccessMode(static_cast<TreeAccessMode>(2));
  EXPECT_FALSE(a.IsEqual(b));

  TreeInfo other(TreeId(), static_cast<TreeInfo::TreeType>(3), 7, 8, 9,
                 static_cast<TreeAccessMode>(1));
  other.SetSeperateQuota(5, 50);
  other.CopyFrom(a);
  EXPECT_TRUE(other.GetTreeId().IsEmpty());  // Everything but the id.
  EXPECT_EQ(1u, other.GetRevision(TreeInfo::Local));
  EXPECT_EQ(0u, other.GetQuotaTotal());
  EXPECT_EQ(4, other.GetType());

  std::shared_ptr<TreeInfo> clone = a.Clone();
  ASSERT_NE(nullptr, clone);
  EXPECT_TRUE(clone->IsEqual(a));
  EXPECT_EQ(3u, clone->GetRevision(TreeInfo::New));
  clone->IncrementRevision(TreeInfo::New);
  EXPECT_EQ(3u, a.GetRevision(TreeInfo::New));
}

TEST(TreeInfoTest, QuotaArithmetic) {
  TreeInfo info(SampleId(), static_cast<TreeInfo::TreeType>(3), 0, 0, 0,
                static_cast<TreeAccessMode>(1));
  struct Case {
    uint64_t used, total, free;
  } const kCases[] = {
      {0, 0, kMax}, {12345, 0, kMax}, {kMax, 0, kMax}, {100, 100, 0},
      {101, 100, 0}, {40, 100, 60},   {0, 1, 1},
  };
  for (const Case& c : kCases) {
    info.SetSeperateQuota(c.used, c.total);
    EXPECT_EQ(c.free, info.GetQuotaFree()) << c.used << " of " << c.total;
    EXPECT_EQ(c.total != 0, info.HasSeparateQuota());
  }

  info.SetSeperateQuota(5, 100);
  {
    LogWatch watch;
    info.QuotaUsedRelease(10);
    EXPECT_EQ(1u, watch.fatals());
    EXPECT_TRUE(watch.Contains("Used size overflow, has only 5 trying to subtract 10"));
  }
  EXPECT_EQ(kMax - 4, info.GetQuotaUsed());  // 2^64 - 5
  EXPECT_EQ(0u, info.GetQuotaFree());
  info.QuotaUsedAdd(10);
  EXPECT_EQ(5u, info.GetQuotaUsed());

  LogWatch watch;
  info.QuotaUsedRelease(5);
  EXPECT_EQ(0u, info.GetQuotaUsed());
  info.QuotaUsedChange(30);
  info.QuotaUsedChange(-10);
  info.QuotaUsedChange(0);
  EXPECT_EQ(20u, info.GetQuotaUsed());
  EXPECT_EQ(0u, watch.fatals());
}

}  // namespace
