#ifndef KORVO_CORE_HASH_HASHES_H_
#define KORVO_CORE_HASH_HASHES_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "core/export.h"
#include "core/hash/hash_impl.h"

class HashCalculator;

// The content hashes of the services. Each record has its service's idea of
// equality and order, which is deliberately not bytewise: a value the
// service reported with fewer fields equals the full one it describes.
// IsBytewiseEqualTo compares everything. Upper-case hexadecimal throughout.
// Failures are logged at level Fatal and give zero or empty results.

// MD5 and SHA-256 of the content.
struct KORVO_EXPORT HashYandex {
  static constexpr char kSeparator = '_';
  static constexpr size_t kHexSize = 97;  // 32 + 1 + 64
  // MD5 and SHA-256 of no data.
  static const HashYandex kEmptyFileHash;

  HashBase<16> md5{};
  HashBase<32> sha256{};

  // With both SHA-256 present: both digests equal; otherwise the MD5s.
  bool operator==(const HashYandex& other) const;
  bool operator!=(const HashYandex& other) const { return !(*this == other); }
  bool operator<(const HashYandex& other) const;
  bool IsBytewiseEqualTo(const HashYandex& other) const;
  bool IsZero() const;
  void Clear();

  // "MD5" or "MD5_SHA256"; an empty left part leaves the MD5 zero.
  static HashYandex FromHexString(std::string_view text);
  // MD5, then "_" and SHA-256 when the SHA-256 is non-zero.
  std::string ToHexString() const;
};

// The Dropbox content hash and a text the caller may attach.
struct KORVO_EXPORT HashDropbox {
  HashBase<32> content{};
  std::string text;

  // Equality and order look at |content| only.
  bool operator==(const HashDropbox& other) const { return content == other.content; }
  bool operator!=(const HashDropbox& other) const { return !(*this == other); }
  bool operator<(const HashDropbox& other) const { return content < other.content; }
  bool IsBytewiseEqualTo(const HashDropbox& other) const;
  bool IsZero() const { return content.IsZero(); }
  void Clear();

  // 64 digits of |content|; |text| stays empty.
  static HashDropbox FromHexString(std::string_view text);
  std::string ToHexString() const;
  // Hex of |content|, "_", then |text| as it is.
  std::string ToDisplayString() const;
};

// MD5 of the content, or the entity tag when the service's tag is not one
// (a multipart upload's, for instance).
struct KORVO_EXPORT HashS3 {
  HashBase<16> md5{};
  std::string etag;

  static std::string MD5OfEmptyFile();

  // With both MD5s present: equal MD5s. Otherwise equal non-empty tags, or
  // both values zero.
  bool operator==(const HashS3& other) const;
  bool operator!=(const HashS3& other) const { return !(*this == other); }
  // By MD5 when both are present, otherwise by tag.
  bool operator<(const HashS3& other) const;
  bool IsBytewiseEqualTo(const HashS3& other) const;
  bool IsZero() const { return md5.IsZero() && etag.empty(); }
  void Clear();

  // The first 32 characters are the MD5; after the first "_" comes the
  // percent-encoded tag.
  static HashS3 FromHexString(std::string_view text);
  // MD5, then "_" and the tag percent-encoded (slashes too) if there is one.
  std::string ToHexString() const;

 private:
  static constexpr char kSeparator = '_';
};

// SHA-1 of the content (the only field computed locally) and the fields the
// service's metadata may add.
struct KORVO_EXPORT HashOneDrive {
  HashBase<20> sha1{};
  uint32_t crc = 0;
  std::string text;
  HashBase<14> extra{};

  // Two zero values are equal. Otherwise every field present on both sides
  // must match, and at least one field must match or both texts be equal.
  bool operator==(const HashOneDrive& other) const;
  bool operator!=(const HashOneDrive& other) const { return !(*this == other); }
  // By the ToHexString forms.
  bool operator<(const HashOneDrive& other) const;
  bool IsBytewiseEqualTo(const HashOneDrive& other) const;
  bool IsZero() const;
  void Clear();

  // Accepts the 40 digits of a SHA-1 (what the calculator gives) or an empty
  // text; anything else logs and gives a zero value. The service's full text
  // form cannot be parsed back: its zero parts are left out.
  static HashOneDrive FromHexString(std::string_view text);
  // The non-zero parts among SHA-1, CRC (least significant byte first),
  // extra and the bytes of text, joined by "_".
  std::string ToHexString() const;
  // All four parts, joined by "_", with |text| as it is.
  std::string ToDisplayString() const;
};

// Any service's content hash: a one-byte type tag and the value of that type.
class KORVO_EXPORT SomeHash {
 public:
  // The numbers are part of the serialized form.
  enum HashType : uint8_t {
    None = 0,
    Vt = 1,             // HashBase<20>, the maker's own cloud hash
    Yandex = 2,         // HashYandex
    Dropbox = 3,        // HashDropbox
    Google = 4,         // HashBase<16>, MD5
    GenericString = 5,  // a byte string
    OneDrive = 6,       // HashOneDrive
    S3 = 7,             // HashS3
  };

  SomeHash() = default;
  SomeHash(const HashBase<20>& vt) : value_(vt) {}
  SomeHash(const HashYandex& yandex) : value_(yandex) {}
  SomeHash(const HashDropbox& dropbox) : value_(dropbox) {}
  SomeHash(HashDropbox&& dropbox) : value_(std::move(dropbox)) {}
  SomeHash(const HashBase<16>& google) : value_(google) {}
  SomeHash(const std::string& text) : value_(text) {}
  SomeHash(std::string&& text) : value_(std::move(text)) {}
  SomeHash(const HashOneDrive& one_drive) : value_(one_drive) {}
  SomeHash(HashOneDrive&& one_drive) : value_(std::move(one_drive)) {}
  SomeHash(const HashS3& s3) : value_(s3) {}
  SomeHash(HashS3&& s3) : value_(std::move(s3)) {}
  // The zero value of |type|; an unknown type logs and gives None.
  explicit SomeHash(HashType type);

  HashType Type() const;
  bool IsEmpty() const { return Type() == None; }

  // Different types are never equal and order by type; equal types follow
  // their record's rules.
  bool operator==(const SomeHash& other) const;
  bool operator!=(const SomeHash& other) const { return !(*this == other); }
  bool operator<(const SomeHash& other) const;
  // Every field, except for S3, which uses its equality.
  bool IsBytewiseEqualTo(const SomeHash& other) const;
  // None, or equal to the zero value of its type.
  bool IsZero() const;

  // Keeps the type, zeroes the value.
  void Clear();
  // Back to None.
  void Reset() { value_ = std::monostate(); }

  // False for GenericString and S3, which have no local calculator (None
  // answers true and gets no calculator).
  bool CanCalculate() const;
  std::unique_ptr<HashCalculator> CreateCalculator() const;
  // A new calculator of |type|'s kind; null for None and types without one.
  static std::unique_ptr<HashCalculator> CreateCalculator(HashType type);

  // The hash of empty content for Vt, Yandex, Dropbox, Google, OneDrive and
  // S3; empty for the rest.
  static SomeHash EmptyFileHash(HashType type);
  // The zero value of |type| (an empty text for GenericString).
  static SomeHash Zero(HashType type);

  // The value. Asking for a type other than Type() logs and gives a zero
  // value of the requested kind.
  const HashBase<20>& GetHashVt() const;
  const HashYandex& GetHashYandex() const;
  const HashDropbox& GetHashDropbox() const;
  const HashBase<16>& GetHashGoogle() const;
  const std::string& GetHashGenericString() const;
  const HashOneDrive& GetHashOneDrive() const;
  const HashS3& GetHashS3() const;

  std::string ToHexString() const;
  std::string ToDisplayString() const;

  // Compact binary form: the tag byte, then the value. Returns the bytes
  // written, or 0 (logged) when |size| is too small.
  size_t Serialize(uint8_t* buffer, size_t size) const;
  // Reads the form Serialize writes. Never reads past |size|; a bad buffer
  // logs and gives false, and |out| may then be partly filled.
  static bool Deserialize(SomeHash* out, const uint8_t* buffer, size_t size);

 private:
  // The alternatives are in tag order, so the index is the tag.
  using Value = std::variant<std::monostate, HashBase<20>, HashYandex, HashDropbox,
                             HashBase<16>, std::string, HashOneDrive, HashS3>;

  template <class T>
  const T& Get() const;

  Value value_;
};

// Writes ToDisplayString().
KORVO_EXPORT std::ostream& operator<<(std::ostream& out, const SomeHash& hash);

#endif  // KORVO_CORE_HASH_HASHES_H_
