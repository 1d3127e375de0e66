// Page generation for the bundled demo index site.
//
// Every page is a pure function of its address (keyword and page number, or detail id), so the
// site shows the same content on every run and tests can compute what a page holds without a
// server. Two layouts:
// - the index site's own (/list/... and /detail/...): UTF-8 HTML with one result entry per title
//   line (some lines hold several), highlight markup around the keyword in titles, and magnet
//   links on detail pages after the labels 磁力下载 / 迅雷下载 and a full-width colon;
// - a site in GBK (/search?q=...&p=N and /torrent/...): one list item per entry with the link
//   first among its attributes, titles with character references and spare white space, and
//   magnet links after the label 磁力链接 and an ASCII colon, in links of class "magnet".
// Bodies are made as UTF-8; the server sends the second layout's as GBK.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mf::demo {

inline constexpr int kEntriesPerPage = 20;
inline constexpr int kEntriesOnHugePage = 5000;

// Deliberately awkward pages that test options put on chosen result pages.
enum class PageQuirk {
  kNone,
  kZeroByte,     // a zero byte after the tenth entry
  kInvalidUtf8,  // invalid UTF-8 sequences inside some titles and around them
  kLongLine,     // a ~2 MB line that opens an entry but never closes it (after the tenth entry)
  kLongTitle,    // the last entry's title is ~2 MB of span openings without "</script>"
  kSplitEntry,   // the first entry's link and title stand on two lines
  kUpperHref,    // the second entry writes its link attribute as HREF=
  kHuge,         // kEntriesOnHugePage entries, whatever the usual count (about 1.5 MB)
};

// One result entry as the page writes it.
struct Entry {
  std::string link;       // the href value, e.g. /detail/0123456789abcdef.html
  std::string titleHtml;  // the title as written, highlight markup included
  // The index site's layout: the title with the highlight tags removed (references stay).
  // The GBK layout: the title as a reader shows it (highlight gone, references decoded, white
  // space collapsed and trimmed), for a keyword without white space that GBK can write.
  std::string title;
};

struct ResultPage {
  std::string body;
  // The entries that fit the entry pattern with "." not crossing a line and the body cut at its
  // first zero byte, in page order. Entries written in a way that cannot match are left out.
  std::vector<Entry> findable;
};

struct DetailPage {
  std::string body;
  // Magnet links as written in the page: with "&amp;" in the index site's layout, "&" in GBK's.
  std::vector<std::string> links;
};

// The result page for a keyword (raw UTF-8 bytes, as decoded from the address) and page number.
// lastPage > 0 makes every later page a "nothing found" page without entries. A quirk that names
// an entry the page does not have leaves the page as it is.
ResultPage MakeResultPage(std::string_view keyword, int page, PageQuirk quirk = PageQuirk::kNone,
                          int lastPage = 0, int entries = kEntriesPerPage);

// The detail page for the id in /detail/<id>.html; nullopt when the id is not one the site
// hands out (16 lower-case hexadecimal digits). links > 0 gives that many magnet links; 0 gives
// one or two, depending on the id.
std::optional<DetailPage> MakeDetailPage(std::string_view id, int links = 0);

// The same pages in the GBK layout; `keyword` is UTF-8 (the server decodes the address's GBK).
// No quirks: pages beyond lastPage have no entries.
ResultPage MakeGbkResultPage(std::string_view keyword, int page, int lastPage = 0,
                             int entries = kEntriesPerPage);
std::optional<DetailPage> MakeGbkDetailPage(std::string_view id, int links = 0);

// Helpers shared with the server and tests.
std::string PercentEncodeUtf8(std::string_view bytes);  // every byte as %XX, upper case
std::string HtmlEscape(std::string_view text);
// Magnet display names keep the unreserved ASCII characters and percent-encode the rest.
std::string EncodeMagnetName(std::string_view name);
std::string ValidUtf8(std::string_view bytes);  // invalid sequences become U+FFFD
// `value`'s lowest `digits` hex digits, lower case, with leading zeros.
std::string Hex(std::uint64_t value, int digits);
// The keyword as a page shows it, before any escaping: valid UTF-8, control characters as spaces.
std::string PlainKeyword(std::string_view keyword);
std::uint64_t StableHash(std::string_view bytes);

}  // namespace mf::demo
