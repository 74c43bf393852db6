#include "core/net/json_xml.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <algorithm>
#include <exception>
#include <sstream>
#include <string_view>

#include "core/infra/logger.h"
#include "core/net/log_masking.h"
#include "core/net/streams.h"

namespace utils {
namespace {

constexpr unsigned int kReadBufferSize = 4096;

// The deepest nesting of objects and arrays, counting past |stop| no
// further. Brackets inside strings do not count; an escape hides the
// character after the backslash, as in the parser.
int JsonDepth(std::string_view text, int stop) {
  int depth = 0;
  int deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
      if (deepest > stop) break;
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// The deepest nesting of elements, never below what the parser builds:
// comments, CDATA sections, processing instructions and declarations hold
// no elements, and a quoted attribute value may hold '>'. Where this scan
// and the parser disagree the text is malformed and the parser stops there.
int XmlDepth(std::string_view text, int stop) {
  const auto past = [text](size_t from, std::string_view end) {
    const size_t found = text.find(end, std::min(from, text.size()));
    return found == std::string_view::npos ? text.size() : found + end.size();
  };
  int depth = 0;
  int deepest = 0;
  size_t i = 0;
  while ((i = text.find('<', i)) != std::string_view::npos) {
    const std::string_view tag = text.substr(i);
    if (tag.substr(0, 4) == "<!--") {
      i = past(i + 4, "-->");
    } else if (tag.substr(0, 9) == "<![CDATA[") {
      i = past(i + 9, "]]>");
    } else if (tag.substr(0, 2) == "<?") {
      i = past(i + 2, "?>");
    } else if (tag.substr(0, 2) == "<!") {
      i = past(i + 2, ">");
    } else if (tag.substr(0, 2) == "</") {
      if (depth > 0) --depth;
      i = past(i + 2, ">");
    } else {
      size_t end = i + 1;
      char quote = 0;
      for (; end < text.size(); ++end) {
        const char c = text[end];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          break;
        }
      }
      const bool empty_element = end < text.size() && text[end - 1] == '/';
      if (!empty_element) {
        deepest = std::max(deepest, ++depth);
        if (deepest > stop) break;
      }
      i = end;
    }
  }
  return deepest;
}

// Parses |text| into |tree|; on failure says why in |error|.
template <class Tree, class ParseText>
bool ParseWith(const std::string& text, Tree* tree, int (*depth)(std::string_view, int),
               const ParseText& parse, std::string* error) {
  if (text.empty()) return true;
  if (depth(text, kMaxNestingDepth) > kMaxNestingDepth) {
    *error = "nested deeper than " + std::to_string(kMaxNestingDepth) + " levels";
    return false;
  }
  try {
    Tree parsed;
    std::istringstream in(text);
    parse(in, parsed);
    *tree = std::move(parsed);
    return true;
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
}

template <class Tree, class ParseText>
bool ParseAndLog(const std::string& text, Tree* tree, int (*depth)(std::string_view, int),
                 const char* kind, const ParseText& parse) {
  std::string error;
  if (ParseWith(text, tree, depth, parse, &error)) return true;
  KLOG(Fail) << "Failed parse " << kind << ", e: \"" << error << '"';
  return false;
}

template <class Tree, class ParseText>
bool ReadAndParseWith(InputStream* stream, Tree* tree, std::string* raw, size_t limit,
                      int (*depth)(std::string_view, int), const char* kind,
                      const ParseText& parse) {
  std::string text;
  const InputStream::Result result = stream->ReadAllTo(&text, kReadBufferSize, limit);
  if (raw) *raw = text;
  // ReadAllTo has logged a text over the limit.
  if (result == InputStream::kStopped || result == InputStream::kTooLarge) return false;
  if (result == InputStream::kFailed) {
    KLOG(Fail) << "Failed to read " << kind << " string from input stream.";
    return false;
  }
  std::string error;
  if (ParseWith(text, tree, depth, parse, &error)) return true;
  KLOG(Fail) << "Failed to parse " << kind << " from '" << log_masking::CapForLog(text)
             << "', e: \"" << error << '"';
  return false;
}

void ReadJson(std::istream& in, json::json_tree& tree) {
  boost::property_tree::read_json(in, static_cast<boost::property_tree::ptree&>(tree));
}

void ReadXml(std::istream& in, xml::xml_tree& tree) {
  boost::property_tree::read_xml(in, static_cast<boost::property_tree::ptree&>(tree),
                                 boost::property_tree::xml_parser::trim_whitespace);
}

}  // namespace

namespace json {

bool Parse(const std::string& text, json_tree* tree) {
  return ParseAndLog(text, tree, &JsonDepth, "json", &ReadJson);
}

bool ReadAndParse(InputStream* stream, json_tree* tree, std::string* raw, size_t limit) {
  return ReadAndParseWith(stream, tree, raw, limit, &JsonDepth, "json", &ReadJson);
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
  return ParseAndLog(text, tree, &XmlDepth, "xml", &ReadXml);
}

bool ReadAndParse(InputStream* stream, xml_tree* tree, std::string* raw, size_t limit) {
  return ReadAndParseWith(stream, tree, raw, limit, &XmlDepth, "xml", &ReadXml);
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
