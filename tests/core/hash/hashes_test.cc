#include "core/hash/hashes.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/hash/hash_calculator.h"
#include "tests/support/log_watch.h"

namespace {

using testing_env::LogWatch;

template <size_t N>
HashBase<N> Filled(uint8_t first, uint8_t step = 1) {
  HashBase<N> hash{};
  for (size_t i = 0; i < N; ++i) hash.data[i] = static_cast<uint8_t>(first + i * step);
  return hash;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

template <size_t N>
std::vector<uint8_t> BytesOf(const HashBase<N>& hash) {
  return std::vector<uint8_t>(hash.data, hash.data + N);
}

TEST(HashBaseTest, HexFormsAndParsing) {
  const HashBase<16> hash = Filled<16>(0xA0, 3);
  EXPECT_EQ("A0A3A6A9ACAFB2B5B8BBBEC1C4C7CACD", hash.ToHexString());
  EXPECT_EQ("a0a3a6a9acafb2b5b8bbbec1c4c7cacd", hash.ToHexString(/*lowercase=*/true));
  EXPECT_EQ(hash, HashBase<16>::FromHexString("a0a3a6a9ACAFB2B5b8bbbec1c4c7cacd"));

  struct Case {
    std::string text;
    std::string parsed;  // hex of what FromHexString gives
    const char* message;
  } const kCases[] = {
      {"0102", "0102000000000000", nullptr},  // HashBase<8> below
      {"01020", "0000000000000000", "Invalid hash string."},
      {"", "0000000000000000", "Invalid hash string."},
      {"010203040506070809", "0000000000000000", "Invalid hash string."},
      {"0102g30405060708", "0102000000000000", "Invalid symbol in FromHexString method."},
      {"01020304050607x8", "0102030405060700", "Invalid symbol in FromHexString method."},
      {"0102030405060708", "0102030405060708", nullptr},
      {" 102030405060708", "0000000000000000", "Invalid symbol in FromHexString method."},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    LogWatch watch;
    std::string text = c.text;
    if (text.size() == 4) text += "000000000000";
    EXPECT_EQ(c.parsed, HashBase<8>::FromHexString(text).ToHexString());
    EXPECT_EQ(c.message ? 1u : 0u, watch.fatals());
    if (c.message) {
      EXPECT_TRUE(watch.Contains(c.message));
    }
  }
}

TEST(HashBaseTest, OrderIsBytewise) {
  HashBase<4> a = HashBase<4>::FromHexString("00FF0000");
  HashBase<4> b = HashBase<4>::FromHexString("01000000");
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_FALSE(a < a);
  EXPECT_TRUE(HashBase<4>{}.IsZero());
  EXPECT_FALSE(a.IsZero());
  a.Clear();
  EXPECT_TRUE(a.IsZero());
}

// ---------------------------------------------------------------- records

HashYandex MakeYandex(uint8_t md5, uint8_t sha256) {
  HashYandex hash;
  if (md5) hash.md5 = Filled<16>(md5);
  if (sha256) hash.sha256 = Filled<32>(sha256);
  return hash;
}

TEST(HashRecordsTest, YandexEqualityAndOrder) {
  struct Case {
    HashYandex a, b;
    bool equal, less, bytewise;
  } const kCases[] = {
      // A value with only the MD5 equals the full one with that MD5.
      {MakeYandex(1, 0), MakeYandex(1, 9), true, false, false},
      {MakeYandex(1, 9), MakeYandex(1, 0), true, false, false},
      {MakeYandex(1, 9), MakeYandex(1, 9), true, false, true},
      // Both SHA-256 present: both must match; equal MD5s order by SHA-256.
      {MakeYandex(1, 8), MakeYandex(1, 9), false, true, false},
      {MakeYandex(1, 9), MakeYandex(1, 8), false, false, false},
      // Different MD5s order by MD5 whatever the SHA-256.
      {MakeYandex(1, 9), MakeYandex(2, 8), false, true, false},
      {MakeYandex(2, 0), MakeYandex(1, 0), false, false, false},
      // A zero MD5 orders by SHA-256 and equals only a zero MD5.
      {MakeYandex(0, 5), MakeYandex(1, 6), false, true, false},
      {MakeYandex(0, 5), MakeYandex(0, 5), true, false, true},
      {MakeYandex(0, 5), MakeYandex(0, 6), false, true, false},
      {MakeYandex(0, 0), MakeYandex(0, 0), true, false, true},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(index++);
    EXPECT_EQ(c.equal, c.a == c.b);
    EXPECT_EQ(!c.equal, c.a != c.b);
    EXPECT_EQ(c.less, c.a < c.b);
    EXPECT_EQ(c.bytewise, c.a.IsBytewiseEqualTo(c.b));
  }
  EXPECT_TRUE(HashYandex{}.IsZero());
  EXPECT_FALSE(MakeYandex(0, 1).IsZero());
  HashYandex cleared = MakeYandex(3, 4);
  cleared.Clear();
  EXPECT_TRUE(cleared.IsZero());
}

HashS3 MakeS3(uint8_t md5, std::string etag) {
  HashS3 hash;
  if (md5) hash.md5 = Filled<16>(md5);
  hash.etag = std::move(etag);
  return hash;
}

TEST(HashRecordsTest, S3EqualityAndOrder) {
  struct Case {
    HashS3 a, b;
    bool equal, less, bytewise;
  } const kCases[] = {
      // Both MD5s present: the tags do not matter.
      {MakeS3(1, "x-2"), MakeS3(1, "y-3"), true, false, false},
      {MakeS3(1, ""), MakeS3(2, ""), false, true, false},
      // Zero MD5s and the same tag.
      {MakeS3(0, "abc-2"), MakeS3(0, "abc-2"), true, false, true},
      {MakeS3(0, "abc-2"), MakeS3(0, "abd-2"), false, true, false},
      // An MD5 on one side only: the tags decide.
      {MakeS3(5, "abc-2"), MakeS3(0, "abc-2"), true, false, false},
      {MakeS3(1, ""), MakeS3(0, "abc-2"), false, true, false},
      {MakeS3(0, "abc-2"), MakeS3(1, ""), false, false, false},
      // Zero values.
      {MakeS3(0, ""), MakeS3(0, ""), true, false, true},
      {MakeS3(0, ""), MakeS3(1, ""), false, false, false},
      {MakeS3(1, ""), MakeS3(0, ""), false, false, false},
      // Tags order as unsigned bytes, a proper prefix first.
      {MakeS3(0, "ab"), MakeS3(0, "abc"), false, true, false},
      {MakeS3(0, "\x7f"), MakeS3(0, "\x80"), false, true, false},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(index++);
    EXPECT_EQ(c.equal, c.a == c.b);
    EXPECT_EQ(c.equal, c.b == c.a);
    EXPECT_EQ(c.less, c.a < c.b);
    EXPECT_EQ(c.bytewise, c.a.IsBytewiseEqualTo(c.b));
  }
  EXPECT_TRUE(MakeS3(0, "").IsZero());
  EXPECT_FALSE(MakeS3(0, "e").IsZero());
  EXPECT_FALSE(MakeS3(1, "").IsZero());
}

HashOneDrive MakeOneDrive(uint8_t sha1, uint32_t crc, uint8_t extra, std::string text) {
  HashOneDrive hash;
  if (sha1) hash.sha1 = Filled<20>(sha1);
  hash.crc = crc;
  if (extra) hash.extra = Filled<14>(extra);
  hash.text = std::move(text);
  return hash;
}

TEST(HashRecordsTest, OneDriveEquality) {
  struct Case {
    HashOneDrive a, b;
    bool equal;
  } const kCases[] = {
      {MakeOneDrive(0, 0, 0, ""), MakeOneDrive(0, 0, 0, ""), true},
      {MakeOneDrive(1, 0, 0, ""), MakeOneDrive(1, 7, 0, ""), true},
      {MakeOneDrive(1, 0, 0, ""), MakeOneDrive(2, 0, 0, ""), false},
      // A field present on both sides must match even when another does.
      {MakeOneDrive(1, 7, 0, ""), MakeOneDrive(1, 8, 0, ""), false},
      {MakeOneDrive(0, 7, 3, ""), MakeOneDrive(0, 7, 4, ""), false},
      // No field on both sides: only equal texts make them equal.
      {MakeOneDrive(1, 0, 0, "t"), MakeOneDrive(0, 7, 0, "t"), true},
      {MakeOneDrive(1, 0, 0, "t"), MakeOneDrive(0, 7, 0, "u"), false},
      {MakeOneDrive(1, 0, 0, ""), MakeOneDrive(0, 7, 0, ""), false},
      {MakeOneDrive(1, 0, 0, "t"), MakeOneDrive(0, 7, 0, ""), false},
      // A matched field wins over different texts.
      {MakeOneDrive(1, 0, 0, "t"), MakeOneDrive(1, 0, 0, "u"), true},
      {MakeOneDrive(0, 0, 0, "t"), MakeOneDrive(0, 0, 0, "t"), true},
      {MakeOneDrive(0, 0, 0, "t"), MakeOneDrive(0, 0, 0, ""), false},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(index++);
    EXPECT_EQ(c.equal, c.a == c.b);
    EXPECT_EQ(c.equal, c.b == c.a);
  }
  // Order follows the hex forms: "01.." < "02..", and "01.._..." after "01..".
  EXPECT_TRUE(MakeOneDrive(1, 0, 0, "") < MakeOneDrive(2, 0, 0, ""));
  EXPECT_TRUE(MakeOneDrive(1, 0, 0, "") < MakeOneDrive(1, 0, 0, "a"));
  EXPECT_FALSE(MakeOneDrive(1, 0, 0, "a") < MakeOneDrive(1, 0, 0, ""));
  EXPECT_TRUE(MakeOneDrive(1, 0, 0, "a").IsBytewiseEqualTo(MakeOneDrive(1, 0, 0, "a")));
  EXPECT_FALSE(MakeOneDrive(1, 0, 0, "a").IsBytewiseEqualTo(MakeOneDrive(1, 0, 0, "b")));
  EXPECT_FALSE(MakeOneDrive(0, 0, 0, "a").IsZero());
  EXPECT_FALSE(MakeOneDrive(0, 1, 0, "").IsZero());
}

TEST(HashRecordsTest, DropboxComparesContentOnly) {
  HashDropbox a;
  a.content = Filled<32>(1);
  a.text = "one";
  HashDropbox b = a;
  b.text = "two";
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a < b || b < a);
  EXPECT_FALSE(a.IsBytewiseEqualTo(b));
  b.content = Filled<32>(2);
  EXPECT_TRUE(a < b);
  a.Clear();
  EXPECT_TRUE(a.IsZero());
  EXPECT_TRUE(a.text.empty());
}

TEST(HashRecordsTest, FromHexString) {
  const std::string md5 = "D41D8CD98F00B204E9800998ECF8427E";
  const std::string sha256 = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
  EXPECT_EQ(HashYandex::kEmptyFileHash.ToHexString(), md5 + "_" + sha256);
  EXPECT_EQ(HashYandex::kHexSize, (md5 + "_" + sha256).size());
  EXPECT_TRUE(HashYandex::FromHexString(md5 + "_" + sha256)
                  .IsBytewiseEqualTo(HashYandex::kEmptyFileHash));
  EXPECT_EQ(md5, HashYandex::FromHexString(md5).ToHexString());
  {
    const HashYandex only_sha = HashYandex::FromHexString("_" + sha256);
    EXPECT_TRUE(only_sha.md5.IsZero());
    EXPECT_EQ(sha256, only_sha.sha256.ToHexString());
  }
  {
    LogWatch watch;
    EXPECT_TRUE(HashYandex::FromHexString(md5 + "_").IsBytewiseEqualTo(
        HashYandex::FromHexString(md5)));
    EXPECT_EQ(1u, watch.fatals());
  }

  EXPECT_EQ(HashBase<32>::FromHexString(sha256), HashDropbox::FromHexString(sha256).content);

  const HashS3 s3 = HashS3::FromHexString(md5 + "_%22abc-2%22%2Fx");
  EXPECT_EQ(md5, s3.md5.ToHexString());
  EXPECT_EQ("\"abc-2\"/x", s3.etag);
  EXPECT_EQ(md5 + "_%22abc-2%22%2Fx", s3.ToHexString());
  EXPECT_EQ(md5, HashS3::FromHexString(md5).ToHexString());
  {
    LogWatch watch;
    const HashS3 short_md5 = HashS3::FromHexString("D41D_etag");
    EXPECT_TRUE(short_md5.md5.IsZero());
    EXPECT_EQ("etag", short_md5.etag);
    EXPECT_EQ(1u, watch.fatals());
  }
  EXPECT_EQ(HashS3::MD5OfEmptyFile(), "d41d8cd98f00b204e9800998ecf8427e");

  const std::string sha1 = "A9993E364706816ABA3E25717850C26C9CD0D89D";
  EXPECT_EQ(sha1, HashOneDrive::FromHexString(sha1).ToHexString());
  EXPECT_TRUE(HashOneDrive::FromHexString("").IsZero());
  {
    LogWatch watch;
    EXPECT_TRUE(HashOneDrive::FromHexString(sha1 + "_01000000").IsZero());
    EXPECT_EQ(1u, watch.fatals());
  }
}

// ---------------------------------------------------------------- SomeHash

// One value of every type, in tag order, none of them zero.
std::vector<SomeHash> OneOfEach() {
  HashDropbox dropbox;
  dropbox.content = Filled<32>(3);
  return {SomeHash(),
          SomeHash(Filled<20>(1)),
          SomeHash(MakeYandex(2, 2)),
          SomeHash(dropbox),
          SomeHash(Filled<16>(4)),
          SomeHash(std::string("text")),
          SomeHash(MakeOneDrive(6, 6, 6, "t")),
          SomeHash(MakeS3(7, "e"))};
}

TEST(SomeHashTest, TypesAndCrossTypeComparisons) {
  const std::vector<SomeHash> values = OneOfEach();
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(i, values[i].Type());
    for (size_t j = 0; j < values.size(); ++j) {
      SCOPED_TRACE(std::to_string(i) + " vs " + std::to_string(j));
      EXPECT_EQ(i == j, values[i] == values[j]);
      EXPECT_EQ(i != j, values[i] != values[j]);
      EXPECT_EQ(i < j, values[i] < values[j]);
      EXPECT_EQ(i == j, values[i].IsBytewiseEqualTo(values[j]));
    }
  }
  EXPECT_TRUE(SomeHash().IsEmpty());
  EXPECT_TRUE(SomeHash() == SomeHash());
  EXPECT_FALSE(SomeHash() < SomeHash());
  // Zero values of different types never meet.
  EXPECT_NE(SomeHash::Zero(SomeHash::Google), SomeHash::Zero(SomeHash::Vt));
}

TEST(SomeHashTest, RecordRulesApplyThroughTheUnion) {
  EXPECT_EQ(SomeHash(MakeYandex(1, 0)), SomeHash(MakeYandex(1, 9)));
  EXPECT_FALSE(SomeHash(MakeYandex(1, 0)).IsBytewiseEqualTo(SomeHash(MakeYandex(1, 9))));
  // S3 compares bytewise by its own equality.
  EXPECT_TRUE(SomeHash(MakeS3(1, "a")).IsBytewiseEqualTo(SomeHash(MakeS3(1, "b"))));
  EXPECT_TRUE(SomeHash(std::string("ab")) < SomeHash(std::string("abc")));
  EXPECT_TRUE(SomeHash(std::string("\x7f")) < SomeHash(std::string("\xff")));
}

TEST(SomeHashTest, ZeroClearResetAndCalculators) {
  for (int t = SomeHash::None; t <= SomeHash::S3; ++t) {
    const auto type = static_cast<SomeHash::HashType>(t);
    SCOPED_TRACE(t);
    EXPECT_EQ(type, SomeHash::Zero(type).Type());
    EXPECT_EQ(type, SomeHash(type).Type());
    EXPECT_TRUE(SomeHash::Zero(type).IsZero());
    SomeHash value = OneOfEach()[t];
    EXPECT_EQ(t == SomeHash::None, value.IsZero());
    value.Clear();
    EXPECT_EQ(type, value.Type());
    EXPECT_TRUE(value.IsZero());
    EXPECT_TRUE(value.IsBytewiseEqualTo(SomeHash::Zero(type)));
    value.Reset();
    EXPECT_TRUE(value.IsEmpty());

    const bool can = type != SomeHash::GenericString && type != SomeHash::S3;
    EXPECT_EQ(can, SomeHash::Zero(type).CanCalculate());
    EXPECT_EQ(type != SomeHash::None, SomeHash::CreateCalculator(type) != nullptr);
  }
  // A Yandex value with only a SHA-256 equals the zero value (the MD5s match).
  EXPECT_TRUE(SomeHash(MakeYandex(0, 1)).IsZero());
  EXPECT_FALSE(SomeHash(MakeS3(0, "e")).IsZero());

  LogWatch watch;
  EXPECT_TRUE(SomeHash::Zero(static_cast<SomeHash::HashType>(9)).IsEmpty());
  EXPECT_TRUE(watch.Contains("Unhandled hash type."));
}

TEST(SomeHashTest, EmptyFileHashes) {
  struct Case {
    SomeHash::HashType type;
    std::string hex;
  } const kCases[] = {
      {SomeHash::None, ""},
      {SomeHash::Vt, std::string(40, '0')},
      {SomeHash::Yandex,
       "D41D8CD98F00B204E9800998ECF8427E_"
       "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
      {SomeHash::Dropbox, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"},
      {SomeHash::Google, "D41D8CD98F00B204E9800998ECF8427E"},
      {SomeHash::GenericString, ""},
      {SomeHash::OneDrive, "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
      {SomeHash::S3, "D41D8CD98F00B204E9800998ECF8427E"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    const SomeHash hash = SomeHash::EmptyFileHash(c.type);
    EXPECT_EQ(c.hex, hash.ToHexString());
    const bool has_one = c.type != SomeHash::None && c.type != SomeHash::GenericString;
    EXPECT_EQ(has_one ? c.type : SomeHash::None, hash.Type());
  }
  EXPECT_TRUE(SomeHash::EmptyFileHash(SomeHash::Yandex)
                  .GetHashYandex()
                  .IsBytewiseEqualTo(HashYandex::kEmptyFileHash));
  EXPECT_TRUE(SomeHash::EmptyFileHash(static_cast<SomeHash::HashType>(200)).IsEmpty());
}

TEST(SomeHashTest, TextForms) {
  HashDropbox dropbox;
  dropbox.content = Filled<32>(0x10);
  dropbox.text = "note";
  const std::string dropbox_hex = Filled<32>(0x10).ToHexString();
  const std::string sha1_hex = Filled<20>(0xF0).ToHexString();
  const std::string extra_hex = Filled<14>(0x20).ToHexString();
  struct Case {
    SomeHash hash;
    std::string hex;
    std::string display;
  } const kCases[] = {
      {SomeHash(), "", "<empty>"},
      {SomeHash(Filled<20>(0xAB)), Filled<20>(0xAB).ToHexString(), Filled<20>(0xAB).ToHexString()},
      {SomeHash(Filled<16>(0x01)), "0102030405060708090A0B0C0D0E0F10",
       "0102030405060708090A0B0C0D0E0F10"},
      {SomeHash(MakeYandex(1, 0)), "0102030405060708090A0B0C0D0E0F10",
       "0102030405060708090A0B0C0D0E0F10"},
      {SomeHash(dropbox), dropbox_hex, dropbox_hex + "_note"},
      {SomeHash(std::string("abcXYZ019")), "abcXYZ019", "abcXYZ019"},
      {SomeHash(std::string("a-b")), "a2Db", "a-b"},
      {SomeHash(std::string("\xff \x01z")), "FF2001z", "\xff \x01z"},
      {SomeHash(MakeS3(1, "")), "0102030405060708090A0B0C0D0E0F10",
       "0102030405060708090A0B0C0D0E0F10"},
      {SomeHash(MakeS3(0, "a/b-2")), "00000000000000000000000000000000_a%2Fb-2",
       "00000000000000000000000000000000_a%2Fb-2"},
      {SomeHash(MakeOneDrive(0xF0, 0, 0, "")), sha1_hex,
       sha1_hex + "_00000000_" + std::string(28, '0') + "_"},
      {SomeHash(MakeOneDrive(0, 0x11223344, 0, "")), "44332211",
       std::string(40, '0') + "_44332211_" + std::string(28, '0') + "_"},
      {SomeHash(MakeOneDrive(0xF0, 0x11223344, 0x20, "hi")),
       sha1_hex + "_44332211_" + extra_hex + "_6869",
       sha1_hex + "_44332211_" + extra_hex + "_hi"},
      {SomeHash(MakeOneDrive(0, 0, 0x20, "hi")), extra_hex + "_6869",
       std::string(40, '0') + "_00000000_" + extra_hex + "_hi"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.display);
    EXPECT_EQ(c.hex, c.hash.ToHexString());
    EXPECT_EQ(c.display, c.hash.ToDisplayString());
    std::ostringstream stream;
    stream << c.hash;
    EXPECT_EQ(c.display, stream.str());
  }
  HashYandex full = MakeYandex(1, 2);
  EXPECT_EQ(HashYandex::kHexSize, SomeHash(full).ToHexString().size());
}

TEST(SomeHashTest, WrongTypeAccessorLogsAndGivesZero) {
  HashDropbox dropbox;
  dropbox.content = Filled<32>(1);
  const SomeHash hash(dropbox);
  LogWatch watch;
  EXPECT_TRUE(hash.GetHashS3().IsZero());
  EXPECT_TRUE(hash.GetHashVt().IsZero());
  EXPECT_TRUE(hash.GetHashGenericString().empty());
  EXPECT_EQ(3u, watch.fatals());
  EXPECT_TRUE(watch.Contains("Hash type is not the same but 3."));
  // The right accessor does not log.
  EXPECT_EQ(dropbox.content, hash.GetHashDropbox().content);
  EXPECT_EQ(3u, watch.fatals());
}

TEST(SomeHashTest, CopyAndMoveKeepTheValue) {
  SomeHash a(MakeS3(1, "etag-2"));
  SomeHash b(std::string("text"));
  b = a;
  EXPECT_TRUE(b.IsBytewiseEqualTo(a));
  SomeHash c(std::move(b));
  EXPECT_EQ("etag-2", c.GetHashS3().etag);
  c = SomeHash(Filled<20>(1));
  EXPECT_EQ(SomeHash::Vt, c.Type());
}

// ---------------------------------------------------------------- serialization

struct SerializedCase {
  const char* name;
  SomeHash hash;
  std::vector<uint8_t> bytes;
};

std::vector<SerializedCase> SerializedCases() {
  HashDropbox dropbox;
  dropbox.content = Filled<32>(0x30);
  dropbox.text = "not stored";
  return {
      {"none", SomeHash(), Bytes({0})},
      {"vt", SomeHash(Filled<20>(0x10)), Concat(Bytes({1}), BytesOf(Filled<20>(0x10)))},
      {"yandex", SomeHash(MakeYandex(0x20, 0x40)),
       Concat(Concat(Bytes({2}), BytesOf(Filled<16>(0x20))), BytesOf(Filled<32>(0x40)))},
      {"dropbox", SomeHash(dropbox), Concat(Bytes({3}), BytesOf(Filled<32>(0x30)))},
      {"google", SomeHash(Filled<16>(0x50)), Concat(Bytes({4}), BytesOf(Filled<16>(0x50)))},
      {"generic", SomeHash(std::string("abc")), Bytes({5, 0x61, 0x62, 0x63, 0})},
      {"generic empty", SomeHash(std::string()), Bytes({5, 0})},
      {"onedrive", SomeHash(MakeOneDrive(0x60, 0x11223344, 0x70, "t")),
       Concat(Concat(Concat(Bytes({6}), BytesOf(Filled<20>(0x60))),
                     Concat(Bytes({0x44, 0x33, 0x22, 0x11}), BytesOf(Filled<14>(0x70)))),
              Bytes({'t', 0}))},
      {"s3", SomeHash(MakeS3(0x80, "e-2")),
       Concat(Concat(Bytes({7}), BytesOf(Filled<16>(0x80))), Bytes({'e', '-', '2', 0}))},
      {"s3 no etag", SomeHash(MakeS3(0x80, "")),
       Concat(Concat(Bytes({7}), BytesOf(Filled<16>(0x80))), Bytes({0}))},
  };
}

TEST(SomeHashSerializationTest, WritesTheTableAndReadsItBack) {
  for (const SerializedCase& c : SerializedCases()) {
    SCOPED_TRACE(c.name);
    // Room to spare, with a canary after the exact size.
    std::vector<uint8_t> buffer(c.bytes.size() + 8, 0xEE);
    LogWatch watch;
    ASSERT_EQ(c.bytes.size(), c.hash.Serialize(buffer.data(), buffer.size()));
    EXPECT_EQ(c.bytes, std::vector<uint8_t>(buffer.begin(), buffer.begin() + c.bytes.size()));
    EXPECT_EQ(0xEE, buffer[c.bytes.size()]);

    SomeHash read(std::string("previous"));
    ASSERT_TRUE(SomeHash::Deserialize(&read, c.bytes.data(), c.bytes.size()));
    EXPECT_EQ(c.hash.Type(), read.Type());
    // Everything but a Dropbox text survives.
    if (c.hash.Type() == SomeHash::Dropbox) {
      EXPECT_EQ(c.hash.GetHashDropbox().content, read.GetHashDropbox().content);
      EXPECT_TRUE(read.GetHashDropbox().text.empty());
    } else {
      EXPECT_TRUE(c.hash.IsBytewiseEqualTo(read));
      EXPECT_EQ(c.hash.ToDisplayString(), read.ToDisplayString());
    }
    EXPECT_EQ(0u, watch.fatals());
  }
}

TEST(SomeHashSerializationTest, EveryShortBufferFailsWithoutWritingPastIt) {
  for (const SerializedCase& c : SerializedCases()) {
    SCOPED_TRACE(c.name);
    for (size_t size = 0; size < c.bytes.size(); ++size) {
      SCOPED_TRACE(size);
      std::vector<uint8_t> buffer(c.bytes.size() + 4, 0xEE);
      LogWatch watch;
      EXPECT_EQ(0u, c.hash.Serialize(buffer.data(), size));
      EXPECT_EQ(1u, watch.fatals());
      EXPECT_TRUE(watch.Contains(" is too long to serialize("));
      for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ(0xEE, buffer[i]) << i;
    }
  }
  LogWatch watch;
  uint8_t small[10];
  EXPECT_EQ(0u, SomeHash(Filled<20>(1)).Serialize(small, sizeof(small)));
  EXPECT_TRUE(watch.Contains("Hash 1 is too long to serialize(20): "));
}

TEST(SomeHashSerializationTest, EveryTruncatedBufferFails) {
  for (const SerializedCase& c : SerializedCases()) {
    SCOPED_TRACE(c.name);
    for (size_t size = 0; size < c.bytes.size(); ++size) {
      if (c.hash.Type() == SomeHash::None) continue;
      SCOPED_TRACE(size);
      // An exact-size copy, so that ASan sees any read past it.
      std::vector<uint8_t> truncated(c.bytes.begin(), c.bytes.begin() + size);
      LogWatch watch;
      SomeHash out;
      EXPECT_FALSE(SomeHash::Deserialize(&out, truncated.data(), truncated.size()));
      EXPECT_EQ(1u, watch.fatals());
    }
  }
  struct Case {
    std::vector<uint8_t> bytes;
    const char* message;
  } const kCases[] = {
      {{}, "Empty buffer."},
      {Concat(Bytes({1}), std::vector<uint8_t>(19, 1)),
       "Hash 1 is truncated during deserialization(21 of 20)"},
      {Bytes({2, 1, 2}), "Hash 2 is truncated during deserialization(17 of 3)"},
      {Bytes({5, 0x61, 0x62}), "Failed to find string terminator inside buffer."},
      {Concat(Bytes({7}), std::vector<uint8_t>(16, 1)),
       "Failed to find string terminator inside buffer."},
      {Bytes({8, 0}), "Unhandled hash type: \x08"},
      {Bytes({'A'}), "Unhandled hash type: A"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.message);
    LogWatch watch;
    SomeHash out;
    EXPECT_FALSE(SomeHash::Deserialize(&out, c.bytes.data(), c.bytes.size()));
    EXPECT_EQ(1u, watch.fatals());
    EXPECT_TRUE(watch.Contains(c.message));
  }
}

TEST(SomeHashSerializationTest, TrailingBytesAreIgnoredAndFieldsReadSoFarStay) {
  SomeHash out(Filled<20>(9));
  const std::vector<uint8_t> none = Bytes({0, 1, 2, 3});
  EXPECT_TRUE(SomeHash::Deserialize(&out, none.data(), none.size()));
  EXPECT_TRUE(out.IsEmpty());

  const std::vector<uint8_t> text = Bytes({5, 'h', 'i', 0, 'x', 'y'});
  EXPECT_TRUE(SomeHash::Deserialize(&out, text.data(), text.size()));
  EXPECT_EQ("hi", out.GetHashGenericString());

  // The MD5 was read before the tag's terminator went missing.
  std::vector<uint8_t> s3 = Concat(Bytes({7}), BytesOf(Filled<16>(3)));
  s3.push_back('e');
  LogWatch watch;
  EXPECT_FALSE(SomeHash::Deserialize(&out, s3.data(), s3.size()));
  EXPECT_EQ(SomeHash::S3, out.Type());
  EXPECT_EQ(Filled<16>(3), out.GetHashS3().md5);
  EXPECT_EQ(1u, watch.fatals());
}

}  // namespace
