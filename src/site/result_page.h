// A result page of a site: its address, and the entries found in its text, as the site's
// definition says (site_definition.h). The functions without a definition use the site in use.
//
// The built-in site: the address is base + "/list/" + the keyword as percent-encoded UTF-8 + "/" +
// page; an entry is what fits "href=\"(.*?)\">(.*?)</a></div>" on one line, found
// case-insensitively by RegExpMatcher: group 1 is the link to its detail page, group 2 its title
// with highlight markup, which "<span class=\"mhl\">|</span>|<span class=\".*?</script>" removes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/text_types.h"

namespace mf {

class RegExpMatcher;
class regex;
struct SiteDefinition;

// The address of result page `page` (the walk's count, from 1; the definition's first page
// number is page 1, and its first row is at offset 0) for `keyword`, built on `base`. The keyword
// is the site's text (SiteKeyword): it is sent in the site's keyword encoding.
Text ResultPageAddress(const SiteDefinition& site, const Text& base, const Text& keyword,
                       const Text& page);
Text ResultPageAddress(const Text& keyword, const Text& page);

// The site's text: code page 936 for the built-in site, whose text is the program's, and UTF-8,
// as the site wrote it, for every other site. The rows of a page, its magnet links and the
// keyword a walk sends are in it.
Text SiteKeyword(std::string_view utf8, const SiteDefinition& site);
std::string SiteTextToUtf8(const Text& text, const SiteDefinition& site);
// The characters of the UTF-8 `keyword` that the site cannot send (its keyword is GBK, or its
// text is the program's), each once, in order; empty when it can send them all.
std::string CharactersTheSiteCannotSend(std::string_view keyword, const SiteDefinition& site);
// Why the site cannot be searched for the UTF-8 `keyword`, naming the characters; empty when it
// can.
std::string KeywordRefusal(std::string_view keyword, const SiteDefinition& site);

struct EntryRow {
  Text title;    // cleaned as the definition says
  Text address;  // the detail page's address, built from the link; empty when the site has none
  // The magnet link the row writes (the references a page writes in an attribute decoded, as
  // LinkForOpening does; the case as written), or one built from its info-hash; else empty.
  Text magnet;
  std::string infoHash;  // 40 lower-case hex digits when the row's torrent is known; else empty
  // The optional fields the site writes (size, date, seeders, leechers), references decoded and
  // trimmed; empty when it has none.
  Text size;
  Text date;
  Text seeders;
  Text leechers;
  // The same fields as numbers, when the site's text could be read as one: the size in bytes, the
  // date as seconds since 1970-01-01 UTC, the seeders and leechers as counts. Sorting and the
  // command line's JSON use these; absent when the site gives none or nothing readable.
  std::optional<std::int64_t> sizeBytes;
  std::optional<std::int64_t> dateSeconds;
  std::optional<std::int64_t> seederCount;
  std::optional<std::int64_t> leecherCount;
};

// The entries of a page, and what was wrong with the page or some of its rows (one line each,
// UTF-8, naming the bad value: "row 3: 'abc' is no info-hash"). A row without a title, or without
// any of link, magnet and info-hash, is left out with a problem; a row that stands for no torrent
// (its info-hash all zeros, or, on a site without detail pages, no magnet or hash written at all)
// is left out without one. A size, date or count that reads as
// no number stays as the site wrote it, with a problem.
struct PageEntries {
  std::vector<EntryRow> rows;
  std::vector<std::string> problems;
  bool lastPage = false;  // the answer says it is the last page (the definition's last-page)
  // How many rows the page listed, those left out included: a page that listed only items without
  // a torrent is not the empty page past the last.
  std::size_t listed = 0;
};

// The entries of a result page's text as the definition reads them (a pattern over HTML, or
// pointers into JSON), with detail addresses built on `base`.
PageEntries ReadEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText,
                        const SiteDefinition& site, const Text& base);

// Searches `pageText` for entries with `matcher` and returns them in page order, each title
// cleaned (its remove steps through `markup`). A kill of the calling thread ends it between two
// entries (platform::ThreadKilled). The matcher keeps the page's matches afterwards.
std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText,
                                  const SiteDefinition& site, const Text& base);
std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText);

// The markup pattern of the built-in site.
extern const Text kMarkupPattern;

// `title` with every match of the markup pattern (compiled in `markup`) removed, the rest kept in
// order. Its cost grows with the length of the title, not with its square: after the last
// "</script>" the pattern's third branch cannot match, so that part goes through the first two
// branches alone, with the same result. The empty text when the matching library gives up.
Text StripMarkup(const regex& markup, const Text& title);

}  // namespace mf
