#include "core/local/invalid_symbols_mapping.h"

#include <gtest/gtest.h>

#include <string>

#include "core/local/local_file_system_utils.h"

namespace {

using Mapping = InvalidSymbolsMapping::Mapping;

std::string Utf8(char32_t code_point) {
  const InvalidSymbolsMapping::Stub stub = InvalidSymbolsMapping::MakeStub(code_point);
  return std::string(stub.data(), code_point < 0x80 ? 1 : code_point < 0x800 ? 2 : 3);
}

const Mapping& Local() { return LocalFileSystemUtils::kInvalidSymbolsStaticMapping; }
const Mapping& AtEnd() { return LocalFileSystemUtils::kInvalidSymbolsAtEndStaticMapping; }

TEST(InvalidSymbolsMappingTest, Tables) {
  const Mapping& win = InvalidSymbolsMapping::kInvalidSymbolsMap_StdWin;
  ASSERT_EQ(40u, win.size());
  const std::string order = "\\/:*?\"<>|";
  for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], win[i].first);
  EXPECT_EQ(Utf8(0xFE68), std::string(win[0].second.data()));
  EXPECT_EQ(Utf8(0xFF5C), std::string(win[8].second.data()));
  EXPECT_EQ('\x01', win[9].first);
  EXPECT_EQ(Utf8(0x2401), std::string(win[9].second.data()));
  EXPECT_EQ(Utf8(0x241F), std::string(win[39].second.data()));

  ASSERT_EQ(41u, Local().size());
  for (size_t i = 0; i < order.size(); ++i) {
    EXPECT_EQ(order[i], Local()[i].first);
    EXPECT_EQ(Utf8(0x088E + i), std::string(Local()[i].second.data()));
  }
  EXPECT_EQ('\0', Local()[9].first);
  EXPECT_EQ(Utf8(0x086F), std::string(Local()[9].second.data()));
  EXPECT_EQ(Utf8(0x088E), std::string(Local()[40].second.data()));  // 0x1F shares "\"'s stub
  for (const auto& row : Local()) {
    EXPECT_EQ(0xE0, static_cast<unsigned char>(row.second[0]));
    EXPECT_EQ(0, row.second[3]);
  }
  EXPECT_EQ(size_t{'|'} + 1, LocalFileSystemUtils::kInvalidSymbolsStaticMappingUnrolled.size());
  ASSERT_EQ(2u, AtEnd().size());
  EXPECT_EQ(Utf8(0x0897), std::string(AtEnd()[0].second.data()));
}

TEST(InvalidSymbolsMappingTest, UnrollAndDiff) {
  const Mapping a = {{'a', InvalidSymbolsMapping::MakeStub(0x3041)},
                     {'c', InvalidSymbolsMapping::MakeStub(0x3043)}};
  const Mapping b = {{'c', InvalidSymbolsMapping::MakeStub(0x3044)}};
  const auto unrolled = InvalidSymbolsMapping::UnrollInvalidSymbolsMapping(a);
  ASSERT_EQ(size_t{'c'} + 1, unrolled.size());
  EXPECT_EQ(0, unrolled['b'][0]);
  EXPECT_EQ(a[0].second, unrolled['a']);

  EXPECT_EQ((Mapping{a[0]}), InvalidSymbolsMapping::DiffInvalidSymbolsMapping(a, b));
  EXPECT_EQ(a, InvalidSymbolsMapping::DiffInvalidSymbolsMapping(a, Mapping()));
  EXPECT_TRUE(InvalidSymbolsMapping::DiffInvalidSymbolsMapping(Mapping(), b).empty());
  // The unrolled difference is cut after its last stub.
  const auto diff = InvalidSymbolsMapping::DiffInvalidSymbolsMapping(unrolled, b);
  EXPECT_EQ(size_t{'a'} + 1, diff.size());
  EXPECT_TRUE(InvalidSymbolsMapping::DiffInvalidSymbolsMapping(unrolled, a).empty());
}

TEST(InvalidSymbolsMappingTest, MapAndUnmapStrings) {
  const auto& table = LocalFileSystemUtils::kInvalidSymbolsStaticMappingUnrolled;
  const std::string colon = Utf8(0x0890), slash = Utf8(0x088F), blank = Utf8(0x0897),
                    dot = Utf8(0x0898);
  struct Case {
    std::string in;
    bool is_name;
    std::string mapped;  // empty: unchanged
  } const kCases[] = {
      {"a:b", true, "a" + colon + "b"},
      {"a/b", true, "a" + slash + "b"},
      {"a/b", false, ""},                       // path mode keeps "/"
      {"a /b.", false, "a" + blank + "/b" + dot},  // before "/" and at the end
      {"a b", true, ""},                        // a blank inside a name stays
      {"ab ", true, "ab" + blank},
      {"a/", false, ""},                        // a final "/" stays
      {"x:", false, "x" + colon},               // a regular stub wins at the end
      {"\xc3\xa9", true, ""},                   // bytes above 127 never have stubs
      {"", true, ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.in);
    std::string out = "junk";
    bool unchanged = false;
    InvalidSymbolsMapping::MapInvalidSymbolsInString(c.in, &out, &unchanged, c.is_name, table,
                                                     AtEnd());
    EXPECT_EQ(c.mapped, out);
    EXPECT_EQ(c.mapped.empty(), unchanged);
    if (c.mapped.empty()) continue;
    std::string back;
    InvalidSymbolsMapping::UnmapInvalidSymbolsInString(c.mapped, &back, &unchanged, Local(),
                                                       AtEnd());
    EXPECT_FALSE(unchanged);
    EXPECT_EQ(c.in, back);
  }

  for (const auto& [text, contains] : std::initializer_list<std::pair<std::string, bool>>{
           {"a:b", true}, {"a/b", true}, {"a b", false}, {"ab ", true}, {"ab", false},
           {"", false}}) {
    EXPECT_EQ(contains, InvalidSymbolsMapping::CheckStringContainsInvalidSymbols(text, table, AtEnd()))
        << text;
  }

  struct UnmapCase {
    std::string in;
    std::string out;  // empty: unchanged
  } const kUnmap[] = {
      {"ab", ""},                                       // shorter than a stub
      {Utf8(0x088E), "\\"},                             // the first row wins over 0x1F
      {blank + "a", ""},                                // at-end stubs only at the end...
      {"a" + blank + "/b", "a /b"},                     // ...or before "/"
      {Utf8(0x3042) + colon, "\xe3\x81\x82:"},          // other three-byte characters stay
      {"\xe0\xa2", ""},                                 // a cut sequence stays
  };
  for (const UnmapCase& c : kUnmap) {
    SCOPED_TRACE(c.in);
    std::string out;
    bool unchanged = false;
    InvalidSymbolsMapping::UnmapInvalidSymbolsInString(c.in, &out, &unchanged, Local(), AtEnd());
    EXPECT_EQ(c.out, out);
    EXPECT_EQ(c.out.empty(), unchanged);
  }
}

}  // namespace
