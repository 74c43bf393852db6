#ifndef KORVO_CORE_LOCAL_INVALID_SYMBOLS_MAPPING_H_
#define KORVO_CORE_LOCAL_INVALID_SYMBOLS_MAPPING_H_

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/export.h"

// Replacement of the characters a file system cannot store in names by stub
// characters it can (one code point each, three UTF-8 bytes), and back.
// Only the codes 0 to 127 can have stubs.
class KORVO_EXPORT InvalidSymbolsMapping {
 public:
  // The UTF-8 bytes of one code point, zero-padded to four bytes.
  using Stub = std::array<char, 4>;
  // A character and its stub, in table order (decoding takes the first row).
  using Mapping = std::vector<std::pair<char, Stub>>;
  // Stubs indexed by character code; a zero first byte means none.
  using Unrolled = std::vector<Stub>;

  static constexpr size_t kUnicodeStubsLen = 3;

  static const Mapping kEmptyInvalidSymbolsMap;
  static const Unrolled kEmptyInvalidSymbolsMapUnrolled;
  // For services that refuse what Windows refuses.
  static const Mapping kInvalidSymbolsMap_StdWin;

  // The stub of a code point below U+10000, as three UTF-8 bytes.
  static Stub MakeStub(char32_t code_point);

  // Replaces every character with a stub in |table| and, at the end of the
  // string (in path mode also before each "/"), a character with a stub in
  // |at_end|. In path mode "/" stays. |*out| receives the result only when
  // something was replaced; otherwise it stays empty and |*unchanged| is set.
  static void MapInvalidSymbolsInString(std::string_view in, std::string* out, bool* unchanged,
                                        bool is_name, const Unrolled& table,
                                        const Mapping& at_end);
  // Replaces stubs of |table| (and of |at_end| where they end the string or a
  // path component) by their characters. Same contract for |*out|.
  static void UnmapInvalidSymbolsInString(std::string_view in, std::string* out, bool* unchanged,
                                          const Mapping& table, const Mapping& at_end);
  static bool CheckStringContainsInvalidSymbols(std::string_view text, const Unrolled& table,
                                                const Mapping& at_end);

  // The rows of |a| whose character |b| does not map.
  static Mapping DiffInvalidSymbolsMapping(const Mapping& a, const Mapping& b);
  // |a| without the characters |b| maps, cut after its last stub.
  static Unrolled DiffInvalidSymbolsMapping(const Unrolled& a, const Mapping& b);
  static Unrolled UnrollInvalidSymbolsMapping(const Mapping& mapping);

 private:
  // The stub of |c| in |mapping|, or null.
  static const Stub* InvalidSymbolStaticMapper(char c, const Mapping& mapping);
};

#endif  // KORVO_CORE_LOCAL_INVALID_SYMBOLS_MAPPING_H_
