#include "core/net/json_xml.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <exception>
#include <sstream>

#include "core/infra/logger.h"
#include "core/net/streams.h"

namespace utils {
namespace {

constexpr unsigned int kReadBufferSize = 4096;
constexpr size_t kLoggedTextLimit = 4096;

template <class Tree, class ParseText>
bool ParseWith(const std::string& text, Tree* tree, const char* failure, const ParseText& parse) {
  if (text.empty()) return true;
  try {
    Tree parsed;
    std::istringstream in(text);
    parse(in, parsed);
    *tree = std::move(parsed);
    return true;
  } catch (const std::exception& e) {
    KLOG(Fail) << failure << '"' << e.what() << '"';
    return false;
  }
}

template <class Tree, class ParseFunction>
bool ReadAndParseWith(InputStream* stream, Tree* tree, std::string* raw, const char* kind,
                      const ParseFunction& parse) {
  std::string text;
  const InputStream::Result result = stream->ReadAllTo(&text, kReadBufferSize);
  if (raw) *raw = text;
  if (result == InputStream::kStopped) return false;
  if (result == InputStream::kFailed) {
    KLOG(Fail) << "Failed to read " << kind << " string from input stream.";
    return false;
  }
  if (parse(text, tree)) return true;
  KLOG(Fail) << "Failed to parse " << kind << " from '" << text.substr(0, kLoggedTextLimit)
             << "'";
  return false;
}

}  // namespace

namespace json {

bool Parse(const std::string& text, json_tree* tree) {
  return ParseWith(text, tree, "Failed parse json, e: ", [](std::istream& in, json_tree& t) {
    boost::property_tree::read_json(in, static_cast<boost::property_tree::ptree&>(t));
  });
}

bool ReadAndParse(InputStream* stream, json_tree* tree, std::string* raw) {
  return ReadAndParseWith(stream, tree, raw, "json",
                          [](const std::string& text, json_tree* t) { return Parse(text, t); });
}

std::string ToString(const json_tree& tree, bool pretty) {
  std::ostringstream out;
  try {
    boost::property_tree::write_json(out, static_cast<const json_tree::Base&>(tree), pretty);
  } catch (const std::exception& e) {
    KLOG(Fail) << "Failed to write json: " << e.what();
    return std::string();
  }
  return out.str();
}

boost::optional<const json_tree&> Child(const json_tree& tree, const std::string& path) {
  auto child = tree.get_child_optional(path);
  if (!child) return boost::none;
  return static_cast<const json_tree&>(*child);
}

void Log(const json_tree& tree) { KLOG(Info) << ToString(tree, false); }

}  // namespace json

namespace xml {

bool Parse(const std::string& text, xml_tree* tree) {
  return ParseWith(text, tree, "Failed parse xml, e: ", [](std::istream& in, xml_tree& t) {
    boost::property_tree::read_xml(in, static_cast<boost::property_tree::ptree&>(t),
                                   boost::property_tree::xml_parser::trim_whitespace);
  });
}

bool ReadAndParse(InputStream* stream, xml_tree* tree, std::string* raw) {
  return ReadAndParseWith(stream, tree, raw, "xml",
                          [](const std::string& text, xml_tree* t) { return Parse(text, t); });
}

std::string ToString(const xml_tree& tree) {
  std::ostringstream out;
  try {
    boost::property_tree::write_xml(out, static_cast<const xml_tree::Base&>(tree),
                                    boost::property_tree::xml_writer_make_settings<std::string>(
                                        ' ', 0, "utf-8"));
  } catch (const std::exception& e) {
    KLOG(Fail) << "Failed to write xml: " << e.what();
    return std::string();
  }
  return out.str();
}

void Log(const xml_tree& tree) { KLOG(Info) << ToString(tree); }

namespace {

void StripNamespaces(boost::property_tree::ptree* tree) {
  boost::property_tree::ptree stripped;
  stripped.data() = tree->data();
  for (auto& [key, child] : *tree) {
    // Attributes ("<xmlattr>") and comments keep their names.
    const bool special = !key.empty() && key[0] == '<';
    if (!special) StripNamespaces(&child);
    const size_t colon = key.find(':');
    stripped.push_back({special || colon == std::string::npos ? key : key.substr(colon + 1),
                        std::move(child)});
  }
  tree->swap(stripped);
}

}  // namespace

void RemoveNamespaces(xml_tree* tree) { StripNamespaces(tree); }

}  // namespace xml
}  // namespace utils
