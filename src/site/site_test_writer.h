// Site layer: writing a definition's tests from what a site gives now (magnet-finder-cli site probe
// --save): the YAML text of a `tests:` block, and a definition's text with its block replaced.
//
// What goes into the block comes from the site and is untrusted: every value is written as a YAML
// double-quoted scalar, its control characters escaped, so that it reads back as the same bytes
// and can add no key of its own. Pure functions; any thread may call them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "site/site_definition.h"

namespace mf {

// The tests that a probe writes: one address test, then the saved pages in order. A test of kind
// kResultPage with `fullRows` false writes its rows as [title, address] pairs, else as mappings
// of the fields that are not empty; kDetailPage writes its magnets. `line` is not used.
std::string TestsBlock(const std::vector<SiteTest>& tests);

// `definition` (a definition's YAML text) with its top-level `tests` key and everything under it
// replaced by `block` (which starts with "tests:"); the rest of the text, comments included, as
// it was. The parser finds the key however it is written ("tests", "\"tests\"", ...); its block
// ends at the next top-level key, comments written just above that key staying with it.
// Appended, after an empty line, when the text has no such key. A text edited line by line must
// be a mapping in block style whose keys start their lines: any other (a mapping in flow style,
// one indented, a text that does not parse) is refused with `problem` saying why.
struct EditedDefinition {
  std::string text;
  std::string problem;  // empty when `text` holds the edit
};
EditedDefinition WithTestsBlock(std::string_view definition, std::string_view block);

// `utf8` as a YAML double-quoted scalar, quotes included.
std::string YamlQuoted(std::string_view utf8);

}  // namespace mf
