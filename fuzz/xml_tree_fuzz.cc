// Feeds arbitrary texts to the XML tree parser and strips the namespaces of
// what it accepts, as the S3 listings are read. Nothing may crash or run out
// of stack; stripping keeps the number of children of every element.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/net/json_xml.h"
#include "fuzz/fuzz_support.h"

namespace {

size_t CountNodes(const boost::property_tree::ptree& tree) {
  size_t count = 1;
  for (const auto& child : tree) count += CountNodes(child.second);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  const std::string text(reinterpret_cast<const char*>(data), size);
  utils::xml::xml_tree tree;
  if (!utils::xml::Parse(text, &tree)) return 0;
  const size_t nodes = CountNodes(tree);
  utils::xml::RemoveNamespaces(&tree);
  if (CountNodes(tree) != nodes) std::abort();
  (void)utils::xml::ToString(tree);
  return 0;
}
