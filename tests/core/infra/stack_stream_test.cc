#include "core/infra/stack_stream.h"

#include <gtest/gtest.h>

#include <iomanip>

namespace {

TEST(StackStreamTest, ShortTextStaysInline) {
  FastOStringStream<16> stream;
  stream << "id=" << 42 << ' ' << std::hex << 255;
  const auto& buffer = stream.buffer();
  EXPECT_EQ("id=42 ff", buffer.inline_text());
  EXPECT_TRUE(buffer.overflow().empty());
  EXPECT_EQ(8u, buffer.size());
}

TEST(StackStreamTest, LongTextOverflowsInOrder) {
  // Every way of writing: a string crossing the boundary, single characters
  // and numbers after it.
  for (const size_t first : {size_t{3}, size_t{15}, size_t{16}, size_t{40}}) {
    SCOPED_TRACE(first);
    FastOStringStream<16> stream;
    const std::string head(first, 'a');
    stream << head << 'b' << 1234567 << std::setw(4) << 7 << "tail";
    const std::string expected = head + "b1234567   7tail";
    EXPECT_EQ(expected, stream.str());
    const auto& buffer = stream.buffer();
    EXPECT_EQ(expected.size(), buffer.size());
    EXPECT_EQ(expected.substr(0, 16), buffer.inline_text());
    EXPECT_EQ(expected.substr(16), buffer.overflow());
  }
}

TEST(StackStreamTest, CharBufWrites) {
  StackCharBuf<4> buffer;
  buffer.Write("ab", 2);
  buffer.Write("cdef", 4);
  buffer.Write("g", 1);
  EXPECT_EQ("abcd", buffer.inline_text());
  EXPECT_EQ("efg", buffer.overflow());
  std::string out = ">";
  buffer.AppendTo(&out);
  EXPECT_EQ(">abcdefg", out);
}

}  // namespace
