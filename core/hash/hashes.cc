#include "core/hash/hashes.h"

#include <array>
#include <cstring>
#include <ostream>

#include "core/hash/dropbox_hash.h"
#include "core/hash/google_hash.h"
#include "core/hash/hash_calculator.h"
#include "core/infra/logger.h"
#include "core/text/cloud_utils.h"

namespace {

// Compares two byte strings as unsigned bytes, a proper prefix first.
bool BytesLess(const std::string& a, const std::string& b) {
  return std::string_view(a) < std::string_view(b);
}

// The generic hex form of a text: letters and digits as they are, every
// other byte as two hex digits.
std::string GenericStringToHex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  auto is_alnum = [](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (is_alnum(c)) {
      out += ch;
    } else {
      out += kDigits[c >> 4];
      out += kDigits[c & 0xF];
    }
  }
  return out;
}

std::string BytesToHex(const std::string& bytes) {
  std::string out;
  hash_internal::AppendHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                           /*lowercase=*/false, &out);
  return out;
}

// The CRC's four bytes, least significant first.
std::string CrcToHex(uint32_t crc) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8),
                            static_cast<uint8_t>(crc >> 16), static_cast<uint8_t>(crc >> 24)};
  std::string out;
  hash_internal::AppendHex(bytes, sizeof(bytes), /*lowercase=*/false, &out);
  return out;
}

}  // namespace

// ---------------------------------------------------------------- HashYandex

constinit const HashYandex HashYandex::kEmptyFileHash = {
    {{0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04, 0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42,
      0x7e}},
    {{0xe3, 0xb0, 0xc4, 0x42, 0x98, 0xfc, 0x1c, 0x14, 0x9a, 0xfb, 0xf4, 0xc8, 0x99, 0x6f, 0xb9,
      0x24, 0x27, 0xae, 0x41, 0xe4, 0x64, 0x9b, 0x93, 0x4c, 0xa4, 0x95, 0x99, 0x1b, 0x78, 0x52,
      0xb8, 0x55}},
};

bool HashYandex::operator==(const HashYandex& other) const {
  if (!sha256.IsZero() && !other.sha256.IsZero()) {
    return md5 == other.md5 && sha256 == other.sha256;
  }
  return md5 == other.md5;
}

bool HashYandex::operator<(const HashYandex& other) const {
  if (!md5.IsZero() && !other.md5.IsZero()) {
    if (!sha256.IsZero() && !other.sha256.IsZero() && md5 == other.md5) {
      return sha256 < other.sha256;
    }
    return md5 < other.md5;
  }
  return sha256 < other.sha256;
}

bool HashYandex::IsBytewiseEqualTo(const HashYandex& other) const {
  return md5 == other.md5 && sha256 == other.sha256;
}

bool HashYandex::IsZero() const { return md5.IsZero() && sha256.IsZero(); }

void HashYandex::Clear() {
  md5.Clear();
  sha256.Clear();
}

HashYandex HashYandex::FromHexString(std::string_view text) {
  HashYandex hash;
  const size_t separator = text.find(kSeparator);
  if (separator == std::string_view::npos) {
    hash.md5 = HashBase<16>::FromHexString(text);
    return hash;
  }
  if (separator > 0) hash.md5 = HashBase<16>::FromHexString(text.substr(0, separator));
  hash.sha256 = HashBase<32>::FromHexString(text.substr(separator + 1));
  return hash;
}

std::string HashYandex::ToHexString() const {
  std::string out = md5.ToHexString();
  if (!sha256.IsZero()) {
    out += kSeparator;
    hash_internal::AppendHex(sha256.data, sizeof(sha256.data), false, &out);
  }
  return out;
}

// ---------------------------------------------------------------- HashDropbox

bool HashDropbox::IsBytewiseEqualTo(const HashDropbox& other) const {
  return content == other.content && text == other.text;
}

void HashDropbox::Clear() {
  content.Clear();
  text.clear();
}

HashDropbox HashDropbox::FromHexString(std::string_view text) {
  HashDropbox hash;
  hash.content = HashBase<32>::FromHexString(text);
  return hash;
}

std::string HashDropbox::ToHexString() const { return content.ToHexString(); }

std::string HashDropbox::ToDisplayString() const {
  std::string out = content.ToHexString();
  out += '_';
  out += text;
  return out;
}

// ---------------------------------------------------------------- HashS3

std::string HashS3::MD5OfEmptyFile() { return "d41d8cd98f00b204e9800998ecf8427e"; }

bool HashS3::operator==(const HashS3& other) const {
  if (!md5.IsZero() && !other.md5.IsZero()) return md5 == other.md5;
  if (etag.empty()) return md5.IsZero() && other.IsZero();
  return !other.etag.empty() && etag == other.etag;
}

bool HashS3::operator<(const HashS3& other) const {
  if (!md5.IsZero() && !other.md5.IsZero()) return md5 < other.md5;
  return BytesLess(etag, other.etag);
}

bool HashS3::IsBytewiseEqualTo(const HashS3& other) const {
  return md5 == other.md5 && etag == other.etag;
}

void HashS3::Clear() {
  md5.Clear();
  etag.clear();
}

HashS3 HashS3::FromHexString(std::string_view text) {
  HashS3 hash;
  hash.md5 = HashBase<16>::FromHexString(text.substr(0, 2 * HashBase<16>::kSize));
  const size_t separator = text.find(kSeparator);
  if (separator != std::string_view::npos) {
    hash.etag = utils::PercentDecoded(std::string(text.substr(separator + 1)));
  }
  return hash;
}

std::string HashS3::ToHexString() const {
  std::string out = md5.ToHexString();
  if (!etag.empty()) {
    out += kSeparator;
    out += utils::PercentEncoded(etag, /*encode_slash=*/true);
  }
  return out;
}

// ---------------------------------------------------------------- HashOneDrive

bool HashOneDrive::operator==(const HashOneDrive& other) const {
  if (IsZero() && other.IsZero()) return true;
  bool matched = false;
  if (!sha1.IsZero() && !other.sha1.IsZero()) {
    if (sha1 != other.sha1) return false;
    matched = true;
  }
  if (crc != 0 && other.crc != 0) {
    if (crc != other.crc) return false;
    matched = true;
  }
  if (!extra.IsZero() && !other.extra.IsZero()) {
    if (extra != other.extra) return false;
    matched = true;
  }
  if (text.empty() || other.text.empty()) return matched;
  return matched || text == other.text;
}

bool HashOneDrive::operator<(const HashOneDrive& other) const {
  return BytesLess(ToHexString(), other.ToHexString());
}

bool HashOneDrive::IsBytewiseEqualTo(const HashOneDrive& other) const {
  return sha1 == other.sha1 && crc == other.crc && text == other.text && extra == other.extra;
}

bool HashOneDrive::IsZero() const {
  return sha1.IsZero() && crc == 0 && text.empty() && extra.IsZero();
}

void HashOneDrive::Clear() {
  sha1.Clear();
  crc = 0;
  text.clear();
  extra.Clear();
}

HashOneDrive HashOneDrive::FromHexString(std::string_view text) {
  HashOneDrive hash;
  if (!text.empty()) hash.sha1 = HashBase<20>::FromHexString(text);
  return hash;
}

std::string HashOneDrive::ToHexString() const {
  std::string out;
  auto add = [&out](const std::string& part) {
    if (!out.empty()) out += '_';
    out += part;
  };
  if (!sha1.IsZero()) add(sha1.ToHexString());
  if (crc != 0) add(CrcToHex(crc));
  if (!extra.IsZero()) add(extra.ToHexString());
  if (!text.empty()) add(BytesToHex(text));
  return out;
}

std::string HashOneDrive::ToDisplayString() const {
  std::string out = sha1.ToHexString();
  out += '_';
  out += CrcToHex(crc);
  out += '_';
  out += extra.ToHexString();
  out += '_';
  out += text;
  return out;
}

// ---------------------------------------------------------------- SomeHash

SomeHash::SomeHash(HashType type) : value_(Zero(type).value_) {}

SomeHash::HashType SomeHash::Type() const {
  static_assert(std::is_same_v<std::variant_alternative_t<None, Value>, std::monostate>);
  static_assert(std::is_same_v<std::variant_alternative_t<Vt, Value>, HashBase<20>>);
  static_assert(std::is_same_v<std::variant_alternative_t<Yandex, Value>, HashYandex>);
  static_assert(std::is_same_v<std::variant_alternative_t<Dropbox, Value>, HashDropbox>);
  static_assert(std::is_same_v<std::variant_alternative_t<Google, Value>, HashBase<16>>);
  static_assert(std::is_same_v<std::variant_alternative_t<GenericString, Value>, std::string>);
  static_assert(std::is_same_v<std::variant_alternative_t<OneDrive, Value>, HashOneDrive>);
  static_assert(std::is_same_v<std::variant_alternative_t<S3, Value>, HashS3>);
  // A value left without one by a failed assignment counts as None.
  return value_.valueless_by_exception() ? None : static_cast<HashType>(value_.index());
}

bool SomeHash::operator==(const SomeHash& other) const {
  if (Type() != other.Type()) return false;
  switch (Type()) {
    case None: return true;
    case Vt: return Get<HashBase<20>>() == other.Get<HashBase<20>>();
    case Yandex: return Get<HashYandex>() == other.Get<HashYandex>();
    case Dropbox: return Get<HashDropbox>() == other.Get<HashDropbox>();
    case Google: return Get<HashBase<16>>() == other.Get<HashBase<16>>();
    case GenericString: return Get<std::string>() == other.Get<std::string>();
    case OneDrive: return Get<HashOneDrive>() == other.Get<HashOneDrive>();
    case S3: return Get<HashS3>() == other.Get<HashS3>();
  }
  return false;
}

bool SomeHash::operator<(const SomeHash& other) const {
  if (Type() != other.Type()) return Type() < other.Type();
  switch (Type()) {
    case None: return false;
    case Vt: return Get<HashBase<20>>() < other.Get<HashBase<20>>();
    case Yandex: return Get<HashYandex>() < other.Get<HashYandex>();
    case Dropbox: return Get<HashDropbox>() < other.Get<HashDropbox>();
    case Google: return Get<HashBase<16>>() < other.Get<HashBase<16>>();
    case GenericString: return BytesLess(Get<std::string>(), other.Get<std::string>());
    case OneDrive: return Get<HashOneDrive>() < other.Get<HashOneDrive>();
    case S3: return Get<HashS3>() < other.Get<HashS3>();
  }
  return false;
}

bool SomeHash::IsBytewiseEqualTo(const SomeHash& other) const {
  if (Type() != other.Type()) return false;
  switch (Type()) {
    case Yandex: return Get<HashYandex>().IsBytewiseEqualTo(other.Get<HashYandex>());
    case Dropbox: return Get<HashDropbox>().IsBytewiseEqualTo(other.Get<HashDropbox>());
    case OneDrive: return Get<HashOneDrive>().IsBytewiseEqualTo(other.Get<HashOneDrive>());
    default: return *this == other;  // Plain values, and S3 by its equality.
  }
}

bool SomeHash::IsZero() const { return Type() == None || *this == Zero(Type()); }

void SomeHash::Clear() {
  std::visit(
      [](auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::string>) {
          value.clear();
        } else if constexpr (!std::is_same_v<T, std::monostate>) {
          value.Clear();
        }
      },
      value_);
}

bool SomeHash::CanCalculate() const {
  return Type() != GenericString && Type() != S3;
}

std::unique_ptr<HashCalculator> SomeHash::CreateCalculator() const {
  return CreateCalculator(Type());
}

std::unique_ptr<HashCalculator> SomeHash::CreateCalculator(HashType type) {
  switch (type) {
    case Vt: return std::make_unique<HashCalculatorVt>();
    case Yandex: return std::make_unique<HashCalculatorYandex>();
    case Dropbox: return std::make_unique<HashCalculatorDropbox>();
    case Google: return std::make_unique<HashCalculatorGoogle>();
    case GenericString: return std::make_unique<HashCalculatorInternal>();
    case OneDrive: return std::make_unique<HashCalculatorOneDrive>();
    case S3: return std::make_unique<HashCalculatorS3>();
    case None: break;
  }
  return nullptr;
}

SomeHash SomeHash::EmptyFileHash(HashType type) {
  // Each calculator run once over no data.
  static const std::array<SomeHash, 8> kTable = [] {
    std::array<SomeHash, 8> table;
    for (HashType t : {Vt, Yandex, Dropbox, Google, OneDrive, S3}) {
      std::unique_ptr<HashCalculator> calculator = CreateCalculator(t);
      calculator->Begin();
      table[t] = calculator->Finish();
    }
    return table;
  }();
  return type < kTable.size() ? kTable[type] : SomeHash();
}

SomeHash SomeHash::Zero(HashType type) {
  switch (type) {
    case None: return SomeHash();
    case Vt: return SomeHash(HashBase<20>{});
    case Yandex: return SomeHash(HashYandex{});
    case Dropbox: return SomeHash(HashDropbox{});
    case Google: return SomeHash(HashBase<16>{});
    case GenericString: return SomeHash(std::string());
    case OneDrive: return SomeHash(HashOneDrive{});
    case S3: return SomeHash(HashS3{});
  }
  KLOG(Fatal) << "Unhandled hash type.";
  return SomeHash();
}

template <class T>
const T& SomeHash::Get() const {
  if (const T* value = std::get_if<T>(&value_)) return *value;
  KLOG(Fatal) << "Hash type is not the same but " << static_cast<int>(Type()) << ".";
  static const T* const zero = new T();  // Never destroyed: callers may hold it at exit.
  return *zero;
}

const HashBase<20>& SomeHash::GetHashVt() const { return Get<HashBase<20>>(); }
const HashYandex& SomeHash::GetHashYandex() const { return Get<HashYandex>(); }
const HashDropbox& SomeHash::GetHashDropbox() const { return Get<HashDropbox>(); }
const HashBase<16>& SomeHash::GetHashGoogle() const { return Get<HashBase<16>>(); }
const std::string& SomeHash::GetHashGenericString() const { return Get<std::string>(); }
const HashOneDrive& SomeHash::GetHashOneDrive() const { return Get<HashOneDrive>(); }
const HashS3& SomeHash::GetHashS3() const { return Get<HashS3>(); }

std::string SomeHash::ToHexString() const {
  switch (Type()) {
    case None: return std::string();
    case Vt: return Get<HashBase<20>>().ToHexString();
    case Yandex: return Get<HashYandex>().ToHexString();
    case Dropbox: return Get<HashDropbox>().ToHexString();
    case Google: return Get<HashBase<16>>().ToHexString();
    case GenericString: return GenericStringToHex(Get<std::string>());
    case OneDrive: return Get<HashOneDrive>().ToHexString();
    case S3: return Get<HashS3>().ToHexString();
  }
  return std::string();
}

std::string SomeHash::ToDisplayString() const {
  switch (Type()) {
    case None: return "<empty>";
    case Dropbox: return Get<HashDropbox>().ToDisplayString();
    case GenericString: return Get<std::string>();
    case OneDrive: return Get<HashOneDrive>().ToDisplayString();
    default: return ToHexString();
  }
}

std::ostream& operator<<(std::ostream& out, const SomeHash& hash) {
  return out << hash.ToDisplayString();
}

// ---------------------------------------------------------------- serialization

namespace {

// Writes the pieces of one serialized value, checking each against the
// buffer's size.
class Writer {
 public:
  Writer(uint8_t* buffer, size_t size, uint8_t tag) : buffer_(buffer), size_(size), tag_(tag) {}

  bool Put(const void* bytes, size_t length) {
    if (length > size_ - offset_) {
      KLOG(Fatal) << "Hash " << static_cast<int>(tag_) << " is too long to serialize("
                  << length << "): "
                  << std::string_view(static_cast<const char*>(bytes), length);
      return false;
    }
    std::memcpy(buffer_ + offset_, bytes, length);
    offset_ += length;
    return true;
  }
  // The text and its terminating zero byte.
  bool PutText(const std::string& text) { return Put(text.c_str(), text.size() + 1); }
  size_t offset() const { return offset_; }

 private:
  uint8_t* const buffer_;
  const size_t size_;
  const uint8_t tag_;
  size_t offset_ = 0;
};

class Reader {
 public:
  Reader(const uint8_t* buffer, size_t size, uint8_t tag)
      : buffer_(buffer), size_(size), tag_(tag), offset_(1) {}

  bool Get(void* bytes, size_t length) {
    if (length > size_ - offset_) {
      KLOG(Fatal) << "Hash " << static_cast<int>(tag_) << " is truncated during deserialization("
                  << offset_ + length << " of " << size_ << ")";
      return false;
    }
    std::memcpy(bytes, buffer_ + offset_, length);
    offset_ += length;
    return true;
  }
  bool GetText(std::string* text) {
    const void* end = std::memchr(buffer_ + offset_, 0, size_ - offset_);
    if (end == nullptr) {
      KLOG(Fatal) << "Failed to find string terminator inside buffer.";
      return false;
    }
    const size_t length = static_cast<const uint8_t*>(end) - (buffer_ + offset_);
    text->assign(reinterpret_cast<const char*>(buffer_ + offset_), length);
    offset_ += length + 1;
    return true;
  }

 private:
  const uint8_t* const buffer_;
  const size_t size_;
  const uint8_t tag_;
  size_t offset_;
};

}  // namespace

size_t SomeHash::Serialize(uint8_t* buffer, size_t size) const {
  const uint8_t tag = Type();
  Writer writer(buffer, size, tag);
  if (!writer.Put(&tag, 1)) return 0;
  bool ok = true;
  switch (Type()) {
    case None:
      break;
    case Vt:
      ok = writer.Put(Get<HashBase<20>>().data, 20);
      break;
    case Yandex: {
      const HashYandex& hash = Get<HashYandex>();
      ok = writer.Put(hash.md5.data, 16) && writer.Put(hash.sha256.data, 32);
      break;
    }
    case Dropbox:
      ok = writer.Put(Get<HashDropbox>().content.data, 32);
      break;
    case Google:
      ok = writer.Put(Get<HashBase<16>>().data, 16);
      break;
    case GenericString:
      ok = writer.PutText(Get<std::string>());
      break;
    case OneDrive: {
      const HashOneDrive& hash = Get<HashOneDrive>();
      const uint8_t crc[4] = {static_cast<uint8_t>(hash.crc), static_cast<uint8_t>(hash.crc >> 8),
                              static_cast<uint8_t>(hash.crc >> 16),
                              static_cast<uint8_t>(hash.crc >> 24)};
      ok = writer.Put(hash.sha1.data, 20) && writer.Put(crc, 4) && writer.Put(hash.extra.data, 14) &&
           writer.PutText(hash.text);
      break;
    }
    case S3: {
      const HashS3& hash = Get<HashS3>();
      ok = writer.Put(hash.md5.data, 16) && writer.PutText(hash.etag);
      break;
    }
    default:
      KLOG(Fatal) << "Unhandled hash type.";
      return 0;
  }
  return ok ? writer.offset() : 0;
}

bool SomeHash::Deserialize(SomeHash* out, const uint8_t* buffer, size_t size) {
  if (size == 0) {
    KLOG(Fatal) << "Empty buffer.";
    return false;
  }
  const uint8_t tag = buffer[0];
  Reader reader(buffer, size, tag);
  switch (tag) {
    case None:
      out->Reset();
      return true;
    case Vt: {
      *out = Zero(Vt);
      auto& hash = std::get<HashBase<20>>(out->value_);
      return reader.Get(hash.data, 20);
    }
    case Yandex: {
      *out = Zero(Yandex);
      auto& hash = std::get<HashYandex>(out->value_);
      return reader.Get(hash.md5.data, 16) && reader.Get(hash.sha256.data, 32);
    }
    case Dropbox: {
      *out = Zero(Dropbox);
      return reader.Get(std::get<HashDropbox>(out->value_).content.data, 32);
    }
    case Google: {
      *out = Zero(Google);
      return reader.Get(std::get<HashBase<16>>(out->value_).data, 16);
    }
    case GenericString: {
      std::string text;
      if (!reader.GetText(&text)) return false;
      *out = SomeHash(std::move(text));
      return true;
    }
    case OneDrive: {
      *out = Zero(OneDrive);
      auto& hash = std::get<HashOneDrive>(out->value_);
      uint8_t crc[4];
      if (!reader.Get(hash.sha1.data, 20) || !reader.Get(crc, 4)) return false;
      hash.crc = uint32_t{crc[0]} | uint32_t{crc[1]} << 8 | uint32_t{crc[2]} << 16 |
                 uint32_t{crc[3]} << 24;
      return reader.Get(hash.extra.data, 14) && reader.GetText(&hash.text);
    }
    case S3: {
      *out = Zero(S3);
      auto& hash = std::get<HashS3>(out->value_);
      return reader.Get(hash.md5.data, 16) && reader.GetText(&hash.etag);
    }
    default:
      KLOG(Fatal) << "Unhandled hash type: " << static_cast<char>(tag);
      return false;
  }
}
