#include "core/local/invalid_symbols_mapping.h"

#include <cstring>

namespace {

using Stub = InvalidSymbolsMapping::Stub;
using Mapping = InvalidSymbolsMapping::Mapping;
using Unrolled = InvalidSymbolsMapping::Unrolled;

const Stub* RegularStub(char c, const Unrolled& table) {
  const int code = static_cast<signed char>(c);
  if (code < 0 || static_cast<size_t>(code) >= table.size()) return nullptr;
  const Stub& stub = table[code];
  return stub[0] != 0 ? &stub : nullptr;
}

size_t StubLength(const Stub& stub) {
  size_t length = 0;
  while (length < stub.size() && stub[length] != 0) ++length;
  return length;
}

Mapping MakeStdWin() {
  Mapping mapping = {
      {'\\', InvalidSymbolsMapping::MakeStub(0xFE68)}, {'/', InvalidSymbolsMapping::MakeStub(0xFF0F)},
      {':', InvalidSymbolsMapping::MakeStub(0xFF1A)},  {'*', InvalidSymbolsMapping::MakeStub(0xFF0A)},
      {'?', InvalidSymbolsMapping::MakeStub(0xFF1F)},  {'"', InvalidSymbolsMapping::MakeStub(0xFF02)},
      {'<', InvalidSymbolsMapping::MakeStub(0xFF1C)},  {'>', InvalidSymbolsMapping::MakeStub(0xFF1E)},
      {'|', InvalidSymbolsMapping::MakeStub(0xFF5C)},
  };
  for (char32_t code = 0x01; code <= 0x1F; ++code) {
    mapping.emplace_back(static_cast<char>(code), InvalidSymbolsMapping::MakeStub(0x2400 + code));
  }
  return mapping;
}

}  // namespace

const Mapping InvalidSymbolsMapping::kEmptyInvalidSymbolsMap;
const Unrolled InvalidSymbolsMapping::kEmptyInvalidSymbolsMapUnrolled;
const Mapping InvalidSymbolsMapping::kInvalidSymbolsMap_StdWin = MakeStdWin();

Stub InvalidSymbolsMapping::MakeStub(char32_t code_point) {
  Stub stub = {};
  if (code_point < 0x80) {
    stub[0] = static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    stub[0] = static_cast<char>(0xC0 | code_point >> 6);
    stub[1] = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    stub[0] = static_cast<char>(0xE0 | code_point >> 12);
    stub[1] = static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    stub[2] = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return stub;
}

const Stub* InvalidSymbolsMapping::InvalidSymbolStaticMapper(char c, const Mapping& mapping) {
  for (const auto& [character, stub] : mapping) {
    if (character == c) return &stub;
  }
  return nullptr;
}

void InvalidSymbolsMapping::MapInvalidSymbolsInString(std::string_view in, std::string* out,
                                                      bool* unchanged, bool is_name,
                                                      const Unrolled& table,
                                                      const Mapping& at_end) {
  out->clear();
  bool replaced = false;
  if (!in.empty() && !(table.empty() && at_end.empty())) {
    for (size_t i = 0; i < in.size(); ++i) {
      const char c = in[i];
      const Stub* stub = nullptr;
      if (is_name || c != '/') {
        stub = RegularStub(c, table);
        const bool last = i + 1 == in.size();
        const bool before_slash = !is_name && !last && in[i + 1] == '/';
        if (stub == nullptr && (last || before_slash)) stub = InvalidSymbolStaticMapper(c, at_end);
      }
      if (stub != nullptr) {
        if (!replaced) {
          out->reserve(in.size() + 8);
          out->assign(in.substr(0, i));
          replaced = true;
        }
        out->append(stub->data(), StubLength(*stub));
      } else if (replaced) {
        out->push_back(c);
      }
    }
  }
  if (unchanged) *unchanged = !replaced;
}

void InvalidSymbolsMapping::UnmapInvalidSymbolsInString(std::string_view in, std::string* out,
                                                        bool* unchanged, const Mapping& table,
                                                        const Mapping& at_end) {
  out->clear();
  bool replaced = false;
  if (in.size() >= kUnicodeStubsLen && !(table.empty() && at_end.empty())) {
    size_t i = 0;
    auto match = [&](const Mapping& mapping, char* character) {
      for (const auto& [c, stub] : mapping) {
        if (std::memcmp(in.data() + i, stub.data(), kUnicodeStubsLen) == 0) {
          *character = c;
          return true;
        }
      }
      return false;
    };
    while (i + 2 < in.size()) {
      const auto byte = static_cast<unsigned char>(in[i]);
      char character = 0;
      if ((byte & 0xF0) == 0xE0) {
        const bool ends_component = i + 3 == in.size() || in[i + 3] == '/';
        if (match(table, &character) || (ends_component && match(at_end, &character))) {
          if (!replaced) {
            out->reserve(in.size());
            out->assign(in.substr(0, i));
            replaced = true;
          }
          out->push_back(character);
          i += kUnicodeStubsLen;
          continue;
        }
      }
      if (replaced) out->push_back(in[i]);
      ++i;
    }
    if (replaced) out->append(in.substr(i));
  }
  if (unchanged) *unchanged = !replaced;
}

bool InvalidSymbolsMapping::CheckStringContainsInvalidSymbols(std::string_view text,
                                                              const Unrolled& table,
                                                              const Mapping& at_end) {
  for (const char c : text) {
    if (RegularStub(c, table) != nullptr) return true;
  }
  return !text.empty() && InvalidSymbolStaticMapper(text.back(), at_end) != nullptr;
}

Mapping InvalidSymbolsMapping::DiffInvalidSymbolsMapping(const Mapping& a, const Mapping& b) {
  Mapping out;
  for (const auto& row : a) {
    if (InvalidSymbolStaticMapper(row.first, b) == nullptr) out.push_back(row);
  }
  return out;
}

Unrolled InvalidSymbolsMapping::DiffInvalidSymbolsMapping(const Unrolled& a, const Mapping& b) {
  Unrolled out = a;
  for (const auto& row : b) {
    const int code = static_cast<signed char>(row.first);
    if (code >= 0 && static_cast<size_t>(code) < out.size()) out[code] = Stub{};
  }
  while (!out.empty() && out.back()[0] == 0) out.pop_back();
  return out;
}

Unrolled InvalidSymbolsMapping::UnrollInvalidSymbolsMapping(const Mapping& mapping) {
  Unrolled out;
  for (const auto& [c, stub] : mapping) {
    const int code = static_cast<signed char>(c);
    if (code < 0) continue;
    if (static_cast<size_t>(code) >= out.size()) out.resize(code + 1, Stub{});
    if (out[code][0] == 0) out[code] = stub;
  }
  return out;
}
