// A result page of the site: its address, and the entries found in its text.
//
// An entry is what fits "href=\"(.*?)\">(.*?)</a></div>" on one line, found case-insensitively
// by RegExpMatcher: group 1 is the link to its detail page, group 2 its title with highlight
// markup, which "<span class=\"mhl\">|</span>|<span class=\".*?</script>" removes.
#pragma once

#include <vector>

#include "support/text_types.h"

namespace mf {

class RegExpMatcher;
class regex;

// SearchSiteBase + "/list/" + the keyword as percent-encoded UTF-8 + "/" + page.
Text ResultPageAddress(const Text& keyword, const Text& page);

struct EntryRow {
  Text title;    // without the highlight markup
  Text address;  // SearchSiteBase + the link as written
};

// Compiles the markup pattern into `markup`, searches `pageText` for entries with `matcher` and
// returns them in page order. A kill of the calling thread ends it between two entries
// (platform::ThreadKilled). The matcher keeps the page's matches afterwards.
std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText);

// `title` with every match of the markup pattern (compiled in `markup`) removed, the rest kept in
// order. Its cost grows with the length of the title, not with its square: after the last
// "</script>" the pattern's third branch cannot match, so that part goes through the first two
// branches alone, with the same result. The empty text when the matching library gives up.
Text StripMarkup(const regex& markup, const Text& title);

}  // namespace mf
