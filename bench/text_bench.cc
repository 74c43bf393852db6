#include <benchmark/benchmark.h>

#include <string>

#include "core/text/encoding_utils.h"

namespace {

struct Name {
  const char* label;
  std::string text;
} const kNames[] = {
    {"ascii_lower", "quarterly-report.pdf"},
    {"ascii_upper", "Quarterly-Report.PDF"},
    {"cyrillic", "\xd0\x9e\xd1\x82\xd1\x87\xd0\xb5\xd1\x82 \xd0\xb7\xd0\xb0 2024.pdf"},
    {"decomposed", "Cafe\xcc\x81 menu.txt"},
};

using NameFunction = bool (*)(std::string_view, std::string*, bool*);

template <NameFunction kFunction>
void BM_Name(benchmark::State& state) {
  const Name& name = kNames[state.range(0)];
  state.SetLabel(name.label);
  std::string out;
  bool already = false;
  for (auto _ : state) {
    kFunction(name.text, &out, &already);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Name<&LowercaseIfNeeded>)->Name("BM_LowercaseIfNeeded")->DenseRange(0, 3);
BENCHMARK(BM_Name<static_cast<NameFunction>(&unicode::NormalizeCIfNeeded)>)
    ->Name("BM_NormalizeCIfNeeded")
    ->DenseRange(0, 3);

}  // namespace
