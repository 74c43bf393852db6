#ifndef KORVO_CORE_INFRA_STACK_STREAM_H_
#define KORVO_CORE_INFRA_STACK_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

// Text built on the stack: the first N characters go to an inline array,
// anything beyond to an overflow string. The text is the inline characters
// followed by the overflow.
template <size_t N>
class StackCharBuf {
  static_assert(N > 0 && N <= 0xFFFF, "the inline count is 16 bits");

 public:
  StackCharBuf() = default;
  StackCharBuf(const StackCharBuf&) = delete;
  StackCharBuf& operator=(const StackCharBuf&) = delete;

  void Write(const char* data, size_t size) {
    const size_t room = N - used_;
    if (overflow_.empty() && size <= room) {
      std::memcpy(data_ + used_, data, size);
      used_ = static_cast<uint16_t>(used_ + size);
      return;
    }
    const size_t inline_part = overflow_.empty() ? room : 0;
    std::memcpy(data_ + used_, data, inline_part);
    used_ = static_cast<uint16_t>(used_ + inline_part);
    overflow_.append(data + inline_part, size - inline_part);
  }

  size_t size() const { return used_ + overflow_.size(); }
  std::string_view inline_text() const { return std::string_view(data_, used_); }
  const std::string& overflow() const { return overflow_; }

  void AppendTo(std::string* out) const {
    out->append(data_, used_);
    out->append(overflow_);
  }
  std::string str() const {
    std::string out;
    out.reserve(size());
    AppendTo(&out);
    return out;
  }

 private:
  template <size_t>
  friend class StackDeviceBuf;
  template <size_t>
  friend class FastOStringStream;

  char data_[N];
  uint16_t used_ = 0;
  std::string overflow_;
};

// A stream buffer writing into a StackCharBuf. The free part of the inline
// array is the put area, so short insertions are plain copies.
template <size_t N>
class StackDeviceBuf : public std::streambuf {
 public:
  explicit StackDeviceBuf(StackCharBuf<N>* buf) : buf_(buf) {
    setp(buf_->data_ + buf_->used_, buf_->data_ + N);
  }
  StackDeviceBuf(const StackDeviceBuf&) = delete;
  StackDeviceBuf& operator=(const StackDeviceBuf&) = delete;

  // Points the put area at what is left of the inline array.
  void Reset() {
    if (buf_->overflow_.empty() && buf_->used_ < N) {
      setp(buf_->data_ + buf_->used_, buf_->data_ + N);
    } else {
      setp(nullptr, nullptr);
    }
  }

 protected:
  int sync() override {
    Commit();
    return 0;
  }

  std::streamsize xsputn(const char* data, std::streamsize size) override {
    if (size <= 0) return 0;
    if (size <= epptr() - pptr()) {
      std::memcpy(pptr(), data, static_cast<size_t>(size));
      pbump(static_cast<int>(size));
      return size;
    }
    Commit();
    buf_->Write(data, static_cast<size_t>(size));
    Reset();
    return size;
  }

  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return 0;
    Commit();
    const char c = traits_type::to_char_type(ch);
    buf_->Write(&c, 1);
    Reset();
    return ch;
  }

 private:
  // Moves what the put area received into the buffer's count.
  void Commit() {
    if (pbase() != nullptr) {
      buf_->used_ = static_cast<uint16_t>(pptr() - buf_->data_);
    }
  }
  StackCharBuf<N>* buf_;
};

// A standard output stream over a StackCharBuf<N>.
template <size_t N>
class FastOStringStream : public std::ostream {
 public:
  FastOStringStream() : std::ostream(nullptr), device_(&buf_) { rdbuf(&device_); }
  FastOStringStream(const FastOStringStream&) = delete;
  FastOStringStream& operator=(const FastOStringStream&) = delete;

  // The text so far. Syncs the buffer directly: flush() does nothing on a
  // stream whose state is bad (after streaming a null char pointer, say).
  const StackCharBuf<N>& buffer() {
    device_.pubsync();
    return buf_;
  }
  std::string str() { return buffer().str(); }

  // Empties the text and restores the default state and formatting, so one
  // stream can serve many statements.
  void Reset() {
    buf_.used_ = 0;
    if (buf_.overflow_.capacity() > (64u << 10)) {
      std::string().swap(buf_.overflow_);
    } else {
      buf_.overflow_.clear();
    }
    device_.Reset();
    clear();
    flags(std::ios_base::skipws | std::ios_base::dec);
    width(0);
    precision(6);
    fill(' ');
  }

 private:
  StackCharBuf<N> buf_;
  StackDeviceBuf<N> device_;
};

#endif  // KORVO_CORE_INFRA_STACK_STREAM_H_
