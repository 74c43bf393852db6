#ifndef KORVO_CORE_NET_JSON_XML_H_
#define KORVO_CORE_NET_JSON_XML_H_

#include <boost/optional.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cstddef>
#include <string>

#include "core/export.h"

class InputStream;

// Trees of string keys and values, read and written as JSON or XML. Two
// types, so that a JSON tree is never sent as XML by mistake.
namespace utils {

// Trees nested deeper are refused before parsing (logged, parse fails): the
// tree parsers recurse once per level, and no answer of a storage service
// nests beyond about ten (an S3 listing: result, entry, owner, id).
constexpr int kMaxNestingDepth = 64;

namespace json {

// The largest JSON text ReadAndParse reads. Token, account and dispatcher
// answers are a few KB; a listing page of a JSON API stays under a MB.
constexpr size_t kMaxAnswerBytes = size_t{8} << 20;

class json_tree : public boost::property_tree::ptree {
 public:
  using Base = boost::property_tree::ptree;
  json_tree() = default;
  json_tree(const Base& tree) : Base(tree) {}
  json_tree(Base&& tree) : Base(std::move(tree)) {}
};

// An empty text gives true and leaves |tree| alone; a parse error and a text
// nested deeper than kMaxNestingDepth are logged and give false.
KORVO_EXPORT bool Parse(const std::string& text, json_tree* tree);
// Reads the whole stream and parses it (an empty body is success). A stop
// gives false quietly; a read failure, a text longer than |limit| and a
// parse failure are logged once and give false. The text read is handed
// back in |raw| when given (empty when it was too long).
KORVO_EXPORT bool ReadAndParse(InputStream* stream, json_tree* tree, std::string* raw,
                               size_t limit = kMaxAnswerBytes);
KORVO_EXPORT std::string ToString(const json_tree& tree, bool pretty);
// The child at a dotted path.
KORVO_EXPORT boost::optional<const json_tree&> Child(const json_tree& tree,
                                                     const std::string& path);
KORVO_EXPORT void Log(const json_tree& tree);

}  // namespace json

namespace xml {

// The largest XML text ReadAndParse reads. An S3 listing page of 1000 keys
// is about 0.5 MB, and still under 2 MB with keys of the longest length.
constexpr size_t kMaxAnswerBytes = size_t{16} << 20;

class xml_tree : public boost::property_tree::ptree {
 public:
  using Base = boost::property_tree::ptree;
  xml_tree() = default;
  xml_tree(const Base& tree) : Base(tree) {}
  xml_tree(Base&& tree) : Base(std::move(tree)) {}
};

// As json::Parse and json::ReadAndParse.
KORVO_EXPORT bool Parse(const std::string& text, xml_tree* tree);
KORVO_EXPORT bool ReadAndParse(InputStream* stream, xml_tree* tree, std::string* raw,
                               size_t limit = kMaxAnswerBytes);
// With an UTF-8 declaration.
KORVO_EXPORT std::string ToString(const xml_tree& tree);
KORVO_EXPORT void Log(const xml_tree& tree);
// Drops "prefix:" from every element name.
KORVO_EXPORT void RemoveNamespaces(xml_tree* tree);

}  // namespace xml
}  // namespace utils

#endif  // KORVO_CORE_NET_JSON_XML_H_
