#include "site/json_rows.h"

#include <nlohmann/json.hpp>

namespace mf {
namespace {

using Json = nlohmann::json;

// A row field's text: strings as they are, numbers and booleans as JSON writes them, an array as
// its first element; nothing for null, objects and an array that starts with neither.
bool FieldText(const Json& field, std::string& text) {
  const Json& value = field.is_array() && !field.empty() ? field.front() : field;
  if (value.is_string()) {
    text = value.get_ref<const std::string&>();
    return true;
  }
  if (value.is_number() || value.is_boolean()) {
    text = value.dump();
    return true;
  }
  return false;
}

// The value at `pointer` inside `document`, or null when it leads nowhere.
const Json* At(const Json& document, const std::string& pointer) {
  if (!JsonPointerProblem(pointer).empty()) {
    return nullptr;
  }
  try {
    const Json::json_pointer path(pointer);
    return document.contains(path) ? &document.at(path) : nullptr;
  } catch (const Json::exception&) {  // an array index beyond what a size holds
    return nullptr;
  }
}

std::string PointedText(const Json& row, const std::string& pointer) {
  std::string text;
  if (!pointer.empty()) {
    if (const Json* value = At(row, pointer)) {
      FieldText(*value, text);
    }
  }
  return text;
}

}  // namespace

std::string JsonPointerProblem(std::string_view pointer) {
  if (!pointer.empty() && pointer.front() != '/') {
    return "a JSON Pointer starts with '/', not '" + std::string(pointer) + "'";
  }
  for (std::size_t i = 0; i < pointer.size(); ++i) {
    if (pointer[i] == '~' &&
        (i + 1 == pointer.size() || (pointer[i + 1] != '0' && pointer[i + 1] != '1'))) {
      return "'~' in a JSON Pointer is followed by 0 or 1 (~0 is '~', ~1 is '/'), in '" +
             std::string(pointer) + "'";
    }
  }
  return std::string();
}

JsonRows ReadJsonRows(std::string_view utf8, const SiteDefinition& site) {
  JsonRows result;
  bool tooDeep = false;
  // The callback sees every value with the number of containers around it; a container is a
  // level of its own, even an empty one. A document nested deeper than the bound is refused
  // before its values are built, so a hostile answer cannot exhaust the stack.
  const Json::parser_callback_t depthBound = [&tooDeep](int depth, Json::parse_event_t event,
                                                        Json&) {
    const bool opens =
        event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (depth + (opens ? 1 : 0) > kMaxJsonDepth) {
      tooDeep = true;
      return false;
    }
    return true;
  };
  const Json document = Json::parse(utf8.begin(), utf8.end(), depthBound, false);
  if (tooDeep) {
    result.problem = "the JSON is nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
    return result;
  }
  if (document.is_discarded()) {
    result.problem = "the page is not JSON";
    return result;
  }
  if (!site.lastPagePointer.empty()) {
    const Json* last = At(document, site.lastPagePointer);
    result.lastPage = last != nullptr && last->is_boolean() && last->get<bool>();
  }
  const Json* rows = At(document, site.rowsPointer);
  if (rows == nullptr) {
    result.problem = "the rows pointer '" + site.rowsPointer + "' leads nowhere in the answer";
    return result;
  }
  if (!rows->is_array()) {
    result.problem = "the rows pointer '" + site.rowsPointer + "' leads to " +
                     std::string(rows->type_name()) + ", not an array";
    return result;
  }
  result.rows.reserve(rows->size());
  for (const Json& row : *rows) {
    JsonRow read;
    if (const Json* title = At(row, site.titlePointer)) {
      read.hasTitle = FieldText(*title, read.title);
    }
    read.link = PointedText(row, site.linkPointer);
    for (std::size_t i = 0; i < kRowFieldCount; ++i) {
      read.fields[i] = PointedText(row, site.fieldPointers[i]);
    }
    result.rows.push_back(std::move(read));
  }
  return result;
}

}  // namespace mf
