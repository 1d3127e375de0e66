// Support layer, for the site layer: a definition's patterns over the text of a site other than
// the built-in one, which is UTF-8 (the built-in site matches code-page-936 text through
// RegExpMatcher and its titles through `regex`, as it always has).
//
// The same engine and limits as RegExpMatcher (platform/regexp_engine.h): every search has the
// engine's match limit, and every search of one page draws on the page's MatchBudget, so neither
// one runaway search nor many searches just under the limit can hold a page for long. A search
// that gives up says so; it is never taken for "no match" or for an empty text.
//
// Patterns come as definitions keep them (code page 936); texts in and out are UTF-8. Pure
// functions; any thread, each with its own budget.
#pragma once

#include <optional>
#include <vector>

#include "platform/regexp_engine.h"
#include "support/text_types.h"

namespace mf {

struct Utf8Matches {
  // Per match, groups 0 to the pattern's group count, UTF-8; empty for a group that took no part.
  std::vector<std::vector<Text>> matches;
  platform::RegExpStatus status = platform::RegExpStatus::kOk;  // kOk: the search reached the end
};

// Every match of `pattern` in `text`, as RegExpMatcher searches by default: case ignored, "^"
// and "$" at line breaks, "." matching no line break. The matches found before a search gave up
// are kept.
Utf8Matches FindAllUtf8(const Text& pattern, const Text& text, const platform::MatchBudget& budget);

// `text` without every match of `pattern`, as a clean-up step removes: case-sensitive, "^" and
// "$" at line breaks, "." matching line breaks too. Nothing when a search gave up; `status` (when
// given) says why.
std::optional<Text> RemoveAllUtf8(const Text& pattern, const Text& text,
                                  const platform::MatchBudget& budget,
                                  platform::RegExpStatus* status = nullptr);

}  // namespace mf
