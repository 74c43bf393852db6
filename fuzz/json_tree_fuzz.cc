// Feeds arbitrary texts to the JSON tree parser. A text it accepts must
// print and parse back; none may crash it or run it out of stack.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/net/json_xml.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  const std::string text(reinterpret_cast<const char*>(data), size);
  utils::json::json_tree tree;
  if (!utils::json::Parse(text, &tree)) return 0;
  const std::string printed = utils::json::ToString(tree, false);
  utils::json::json_tree again;
  if (!printed.empty() && !utils::json::Parse(printed, &again)) std::abort();
  return 0;
}
