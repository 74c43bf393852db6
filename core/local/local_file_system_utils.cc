#include "core/local/local_file_system_utils.h"

namespace {

InvalidSymbolsMapping::Mapping MakeLocalMapping() {
  const char kSpecial[] = {'\\', '/', ':', '*', '?', '"', '<', '>', '|'};
  InvalidSymbolsMapping::Mapping mapping;
  char32_t stub = 0x088E;
  for (const char c : kSpecial) mapping.emplace_back(c, InvalidSymbolsMapping::MakeStub(stub++));
  for (char32_t code = 0x00; code <= 0x1F; ++code) {
    mapping.emplace_back(static_cast<char>(code), InvalidSymbolsMapping::MakeStub(0x086F + code));
  }
  return mapping;
}

}  // namespace

// Defined in this order: the unrolled table is built from the mapping.
const InvalidSymbolsMapping::Mapping LocalFileSystemUtils::kInvalidSymbolsStaticMapping =
    MakeLocalMapping();
const InvalidSymbolsMapping::Unrolled LocalFileSystemUtils::kInvalidSymbolsStaticMappingUnrolled =
    InvalidSymbolsMapping::UnrollInvalidSymbolsMapping(kInvalidSymbolsStaticMapping);
const InvalidSymbolsMapping::Mapping LocalFileSystemUtils::kInvalidSymbolsAtEndStaticMapping = {
    {' ', InvalidSymbolsMapping::MakeStub(0x0897)},
    {'.', InvalidSymbolsMapping::MakeStub(0x0898)},
};
