#include "site/xml_rows.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/printable_text.h"

namespace mf {
namespace {

constexpr std::size_t kNamesShown = 20;

std::vector<std::string_view> Steps(std::string_view path) {
  std::vector<std::string_view> steps;
  while (true) {
    const std::size_t slash = path.find('/');
    steps.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) {
      return steps;
    }
    path.remove_prefix(slash + 1);
  }
}

bool IsNameCharacter(char c, bool first) {
  const auto byte = static_cast<unsigned char>(c);
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || byte >= 0x80;
  return letter || c == '_' || c == ':' ||
         (!first && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
}

bool IsName(std::string_view name) {
  return !name.empty() && IsNameCharacter(name.front(), true) &&
         std::all_of(name.begin() + 1, name.end(),
                     [](char c) { return IsNameCharacter(c, false); });
}

bool Named(const pugi::xml_node& node, std::string_view name) {
  return node.type() == pugi::node_element && name == node.name();
}

// The text of an element: its own text and CDATA, in order; not that of the elements inside.
std::string OwnText(const pugi::xml_node& element) {
  std::string text;
  for (const pugi::xml_node& child : element.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    }
  }
  return text;
}

// What a field's path leads to inside `row`: the first element of each name in turn, then its
// text or the attribute; nothing when a step finds nothing.
bool FieldAt(const pugi::xml_node& row, std::string_view path, std::string& text) {
  pugi::xml_node node = row;
  for (const std::string_view step : Steps(path)) {
    if (step.starts_with('@')) {
      const std::string name(step.substr(1));
      const pugi::xml_attribute attribute = node.attribute(name.c_str());
      text = attribute ? attribute.value() : "";
      return bool(attribute);
    }
    pugi::xml_node found;
    for (const pugi::xml_node& child : node.children()) {
      if (Named(child, step)) {
        found = child;
        break;
      }
    }
    if (!found) {
      return false;
    }
    node = found;
  }
  text = OwnText(node);
  return true;
}

std::string FieldText(const pugi::xml_node& row, const std::string& path) {
  std::string text;
  if (!path.empty()) {
    FieldAt(row, path, text);
  }
  return text;
}

}  // namespace

std::string XmlPathProblem(std::string_view path, bool fromRoot) {
  if (fromRoot && (!path.starts_with('/') || path.size() == 1)) {
    return "the rows' path starts at the root with '/', as '/rss/channel/item' does, not '" +
           std::string(path) + "'";
  }
  if (!fromRoot && path.starts_with('/')) {
    return "a field's path starts inside its row, as 'title' or 'enclosure/@url' does, not '" +
           std::string(path) + "'";
  }
  const std::vector<std::string_view> steps = Steps(fromRoot ? path.substr(1) : path);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const bool attribute = steps[i].starts_with('@');
    if (attribute && (fromRoot || i + 1 < steps.size())) {
      return "'@name' (an attribute) stands only at the end of a field's path, not in '" +
             std::string(path) + "'";
    }
    if (!IsName(attribute ? steps[i].substr(1) : steps[i])) {
      return "'" + std::string(steps[i]) + "' is no element name, in '" + std::string(path) +
             "' (names are separated by '/', and nothing else is a path)";
    }
  }
  return std::string();
}

JsonRows ReadXmlRows(std::string_view utf8, const SiteDefinition& site) {
  JsonRows result;
  pugi::xml_document document;
  const pugi::xml_parse_result parsed =
      document.load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    result.problem = "the answer is not XML: " + std::string(parsed.description()) + " at byte " +
                     std::to_string(parsed.offset);
    return result;
  }
  // Level by level, every element of the next name under those found so far: each element is
  // looked at once per level at most.
  std::string_view rowsPath = site.rowsPointer;
  rowsPath.remove_prefix(rowsPath.starts_with('/') ? 1 : 0);
  const std::vector<std::string_view> steps = Steps(rowsPath);
  std::vector<pugi::xml_node> found = {document};
  for (std::size_t i = 0; i < steps.size(); ++i) {
    std::vector<pugi::xml_node> next;
    for (const pugi::xml_node& node : found) {
      for (const pugi::xml_node& child : node.children()) {
        if (Named(child, steps[i])) {
          next.push_back(child);
        }
      }
    }
    if (next.empty() && i + 1 < steps.size()) {
      result.problem = "the rows path '" + site.rowsPointer + "' leads nowhere in the answer";
      return result;
    }
    found = std::move(next);
  }
  result.rows.reserve(found.size());
  for (const pugi::xml_node& row : found) {
    JsonRow& read = result.rows.emplace_back();
    read.hasTitle = FieldAt(row, site.titlePointer, read.title);
    read.link = FieldText(row, site.linkPointer);
    for (std::size_t f = 0; f < kRowFieldCount; ++f) {
      read.fields[f] = FieldText(row, site.fieldPointers[f]);
    }
  }
  return result;
}

std::string XmlShape(std::string_view utf8) {
  pugi::xml_document document;
  if (!document.load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8)) {
    return std::string();
  }
  const pugi::xml_node root = document.document_element();
  std::vector<std::pair<std::string, std::size_t>> names;  // in order of first appearance
  for (const pugi::xml_node& child : root.children()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    const auto same = [&](const auto& name) { return name.first == child.name(); };
    const auto known = std::find_if(names.begin(), names.end(), same);
    if (known != names.end()) {
      ++known->second;
    } else if (names.size() <= kNamesShown) {
      names.emplace_back(child.name(), 1);
    }
  }
  std::string shown;
  for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
    shown += (i == 0 ? "" : ", ") + names[i].first +
             (names[i].second > 1 ? " (" + std::to_string(names[i].second) + ")" : "");
  }
  if (names.size() > kNamesShown) {
    shown += ", ...";
  }
  return platform::PrintableText(
      "the root element is <" + std::string(root.name()) + ">, " +
      (shown.empty() ? "with no elements inside" : "with elements " + shown));
}

}  // namespace mf
