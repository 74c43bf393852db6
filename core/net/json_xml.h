#ifndef KORVO_CORE_NET_JSON_XML_H_
#define KORVO_CORE_NET_JSON_XML_H_

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <string>

#include "core/export.h"

class InputStream;

// Trees of string keys and values, read and written as JSON or XML. Two
// types, so that a JSON tree is never sent as XML by mistake.
namespace utils {
namespace json {

class json_tree : public boost::property_tree::ptree {
 public:
  using Base = boost::property_tree::ptree;
  json_tree() = default;
  json_tree(const Base& tree) : Base(tree) {}
  json_tree(Base&& tree) : Base(std::move(tree)) {}
};

// An empty text gives true and leaves |tree| alone; a parse error is logged.
KORVO_EXPORT bool Parse(const std::string& text, json_tree* tree);
// Reads the whole stream and parses it (an empty body is success). A stop
// gives false quietly; a read failure and a parse failure are logged. The
// text read is handed back in |raw| when given.
KORVO_EXPORT bool ReadAndParse(InputStream* stream, json_tree* tree, std::string* raw);
KORVO_EXPORT std::string ToString(const json_tree& tree, bool pretty);
// The child at a dotted path.
KORVO_EXPORT boost::optional<const json_tree&> Child(const json_tree& tree,
                                                     const std::string& path);
KORVO_EXPORT void Log(const json_tree& tree);

}  // namespace json

namespace xml {

class xml_tree : public boost::property_tree::ptree {
 public:
  using Base = boost::property_tree::ptree;
  xml_tree() = default;
  xml_tree(const Base& tree) : Base(tree) {}
  xml_tree(Base&& tree) : Base(std::move(tree)) {}
};

KORVO_EXPORT bool Parse(const std::string& text, xml_tree* tree);
KORVO_EXPORT bool ReadAndParse(InputStream* stream, xml_tree* tree, std::string* raw);
// With an UTF-8 declaration.
KORVO_EXPORT std::string ToString(const xml_tree& tree);
KORVO_EXPORT void Log(const xml_tree& tree);
// Drops "prefix:" from every element name.
KORVO_EXPORT void RemoveNamespaces(xml_tree* tree);

}  // namespace xml
}  // namespace utils

#endif  // KORVO_CORE_NET_JSON_XML_H_
