// Site layer: what can be said of a result page that gave no entries, for the person who writes or
// repairs a site's definition (magnet-finder-cli site probe): the answer's status, an empty page,
// a page that is not what the definition reads (HTML, JSON or XML), the page's title, how often
// the entry pattern's leading literal text occurs, the top-level keys of a JSON answer, the root
// element of an XML answer and the names of the elements in it.
//
// The page is untrusted: every line comes back printable (control bytes escaped), long texts
// shortened. Pure functions; any thread may call them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "site/page_fetch.h"
#include "site/site_definition.h"
#include "support/text_types.h"

namespace mf {

// One thing found: a short label ("status", "title", "literal") and what was found, UTF-8.
struct PageFinding {
  std::string label;
  std::string text;
};

// The findings for a fetched result page, read as `pageText` (code page 936), that gave no
// entries. The page's problems (PageEntries::problems) are not among them.
std::vector<PageFinding> DiagnoseEmptyPage(const FetchedPage& page, const Text& pageText,
                                           const SiteDefinition& site);

// The literal text that every match of `pattern` (Perl syntax, UTF-8) starts with: its characters
// up to the first special one, an escaped punctuation character ("\." "\/" "\"") taken as itself.
// A character that a quantifier may leave out ("ab?", "ab*", "ab{0,2}") is not part of it. Empty
// when the pattern starts with something else, or holds a top-level alternative ("a|b").
std::string LeadingLiteral(std::string_view pattern);

// The text of the first <title> element of `utf8`, white space collapsed and trimmed, at most
// `maxBytes` (cut at a character's start); empty when it has none.
std::string PageTitle(std::string_view utf8, std::size_t maxBytes = 200);

// How often `literal` occurs in `utf8`, ASCII letters matched regardless of case (as the entry
// patterns are); 0 for an empty literal.
std::size_t CountOccurrences(std::string_view utf8, std::string_view literal);

// How the page's bytes were read as text: "utf-8", "gbk", or with the encoding taken from the
// answer, "charset=gbk → gbk" ("no charset → utf-8" when it named none).
std::string PageReading(PageEncoding encoding, std::string_view charset);

}  // namespace mf
