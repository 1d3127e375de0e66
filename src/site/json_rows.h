// Site layer: the rows of a JSON answer, found by JSON Pointers (RFC 6901).
//
// The answer is untrusted: parsing never throws, nesting deeper than kMaxJsonDepth is refused, and
// a pointer that leads nowhere gives a problem, not a crash.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "site/site_definition.h"

namespace mf {

inline constexpr int kMaxJsonDepth = 64;

// One row's fields as the answer writes them (UTF-8): a string as it is, a number or true/false
// as JSON writes it, an array as its first element does; empty when the pointer is empty or
// leads nowhere inside the row, or to null, an object or an array of neither.
struct JsonRow {
  std::string title;
  std::string link;
  std::array<std::string, kRowFieldCount> fields;
  bool hasTitle = false;  // the title pointer led to a string or a number
};

struct JsonRows {
  std::vector<JsonRow> rows;
  std::string problem;    // why no rows could be read ("not JSON: ..."), empty when they could
  bool lastPage = false;  // the definition's last-page pointer leads to true in the answer
};

// The rows of `utf8` that `site`'s pointers find.
JsonRows ReadJsonRows(std::string_view utf8, const SiteDefinition& site);

// Why `pointer` is no JSON Pointer ("must start with '/'", "'~' must be followed by 0 or 1"); empty
// when it is one. The empty pointer is one (the whole document).
std::string JsonPointerProblem(std::string_view pointer);

}  // namespace mf
