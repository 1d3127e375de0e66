// Feeds arbitrary bytes as a result page (the body as the site sends it) through PageTextOf and
// FindEntries, and checks what must hold for any page: each entry is one match of the entry
// pattern standing in the page, on one line, in page order; its address is the site base and the
// link as written; its title is the group with the markup removed, as the whole markup pattern
// would remove it, and never longer. The same bytes read as a JSON answer and as an RSS feed give
// only rows with a title, a magnet link, a sound info-hash and sound numbers.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "site/info_hash.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
#include "site/row_values.h"
#include "site/site_address.h"
#include "site/site_definition.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"

namespace mf {
namespace {

// The shortest text the entry pattern matches: href=""></a></div>.
constexpr std::size_t kShortestEntry = 18;
// Up to this length the whole markup pattern cannot give up on a title: its work grows with the
// square of the length, and the densest title (nothing but span openings) makes Boost.Regex give
// up only beyond about 60 KB.
constexpr std::size_t kWholePatternSafeLength = 16 * 1024;

// `match` is href="<link>"><title></a></div>, the fixed parts in any ASCII case.
bool IsEntryMatch(std::string_view match, const Text& link, const Text& title) {
  return fuzz::TakePrefix(match, "href=\"", true) && fuzz::TakePrefix(match, link.view()) &&
         fuzz::TakePrefix(match, "\">") && fuzz::TakePrefix(match, title.view()) &&
         fuzz::TakePrefix(match, "</a></div>", true) && match.empty();
}

void CheckTitle(const regex& markup, const Text& raw, const Text& title) {
  MF_FUZZ_REQUIRE(title == StripMarkup(markup, raw), "the row's title is not its group cleaned");
  MF_FUZZ_REQUIRE(title.size() <= raw.size(), "cleaning made a title longer");
  if (raw.size() <= kWholePatternSafeLength) {
    const Text whole = markup.Replace(raw, Text(), 1, std::nullopt, true, true);
    MF_FUZZ_REQUIRE(title == whole, "StripMarkup differs from the whole pattern's replacement");
  }
}

// Every row against the matcher's match of the same number, each found in the page behind the
// one before it.
void CheckRows(const Text& page, const RegExpMatcher& matcher, const regex& markup,
               const std::vector<EntryRow>& rows) {
  MF_FUZZ_REQUIRE(rows.size() == static_cast<std::size_t>(matcher.MatchCount()),
                  "rows and matches differ in number");
  MF_FUZZ_REQUIRE(rows.size() <= page.size() / kShortestEntry, "more rows than the page can hold");
  std::size_t searchFrom = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto number = static_cast<std::int32_t>(i + 1);
    const Text match = matcher.MatchText(number);
    const Text link = matcher.SubMatchText(number, 1);
    const Text raw = matcher.SubMatchText(number, 2);
    MF_FUZZ_REQUIRE(IsEntryMatch(match.view(), link, raw),
                    "a match is not href=\"link\">title</a></div>");
    MF_FUZZ_REQUIRE(!fuzz::HasLineBreak(match.view()), "an entry spans lines");
    const std::size_t at = page.view().find(match.view(), searchFrom);
    MF_FUZZ_REQUIRE(at != std::string_view::npos, "an entry is not in the page after the last one");
    searchFrom = at + match.size();
    MF_FUZZ_REQUIRE(rows[i].address == SearchSiteBase() + link,
                    "the address is not the site base and the link");
    CheckTitle(markup, raw, rows[i].title);
  }
}

// A number read from a row's text stays in its bounds and is shown in its one form; a text that
// reads as none stays as it was.
template <typename Show>
void CheckNumber(const Text& text, const std::optional<std::int64_t>& number, std::int64_t most,
                 Show show) {
  if (number) {
    MF_FUZZ_REQUIRE(*number >= 0 && *number <= most, "a number is out of its bounds");
    MF_FUZZ_REQUIRE(text.view() == show(*number), "a number is not shown in its one form");
  }
}

// Whatever the answer holds, every row has a title and a magnet link, its hash is normalized and
// not all zeros, its numbers are sound, and no problem line carries a control byte.
void CheckAnswerRows(const PageEntries& entries, const char* format) {
  const std::string what = std::string("a row of a ") + format + " answer ";
  for (const EntryRow& row : entries.rows) {
    MF_FUZZ_REQUIRE(!row.title.empty() && !row.magnet.empty(), what + "lacks title or magnet");
    MF_FUZZ_REQUIRE(row.infoHash.empty() ||
                        (row.infoHash.size() == 40 &&
                         row.infoHash.find_first_not_of("0123456789abcdef") == std::string::npos),
                    what + "has an info-hash that is not 40 lower-case hex digits");
    MF_FUZZ_REQUIRE(!IsZeroInfoHash(row.infoHash), what + "has the info-hash of no torrent");
    constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
    const auto count = [](std::int64_t n) { return std::to_string(n); };
    CheckNumber(row.size, row.sizeBytes, kMost, ShownSize);
    CheckNumber(row.date, row.dateSeconds, 253'402'300'799, ShownDate);
    CheckNumber(row.seeders, row.seederCount, kMost, count);
    CheckNumber(row.leechers, row.leecherCount, kMost, count);
  }
  for (const std::string& problem : entries.problems) {
    MF_FUZZ_REQUIRE(!fuzz::HasControlByte(problem), "a problem line carries a control byte");
  }
}

// The same bytes as the answer of a JSON site whose rows carry hashes and extra fields.
void CheckJsonRows(const Text& page, RegExpMatcher& matcher, regex& markup) {
  static const SiteDefinition site = [] {
    SiteDefinition json;
    json.mirrors = {"https://j.example"};
    json.pageFormat = PageFormat::kJson;
    json.rowsPointer = "/data/0/list";
    json.titlePointer = "/name";
    json.fieldPointers = {"/magnet", "/hash", "/size", "/date", "/seeders", "/peers/~1x~0"};
    json.lastPagePointer = "/done";
    json.titleCleanup = {{CleanupStep::Kind::kDecodeReferences, Text()}};
    json.sizeUnitBytes = 1024;
    json.dateZoneSeconds = 8 * 3600;
    json.trackers = {"udp://t.example:80/announce"};
    return json;
  }();
  CheckAnswerRows(ReadEntries(matcher, markup, page, site, Text("https://j.example")), "JSON");
}

// The same bytes as an RSS feed's.
void CheckXmlRows(const Text& page, RegExpMatcher& matcher, regex& markup) {
  static const SiteDefinition site = [] {
    SiteDefinition xml;
    xml.mirrors = {"https://x.example"};
    xml.pageFormat = PageFormat::kXml;
    xml.rowsPointer = "/rss/channel/item";
    xml.titlePointer = "title";
    xml.fieldPointers = {"enclosure/@url", "n:hash", "n:size", "pubDate", "n:seeders", "n:p/l"};
    return xml;
  }();
  CheckAnswerRows(ReadEntries(matcher, markup, page, site, Text("https://x.example")), "XML");
}

}  // namespace
}  // namespace mf

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const mf::Text page = mf::PageTextOf(mf::Bytes(data, size));
  // Every UTF-8 sequence (or undecodable byte) becomes at most as many code-page-936 bytes.
  MF_FUZZ_REQUIRE(page.size() <= size, "the page text is longer than the page");
  mf::RegExpMatcher matcher;
  mf::regex markup;
  const std::vector<mf::EntryRow> rows = mf::FindEntries(matcher, markup, page);
  mf::CheckRows(page, matcher, markup, rows);
  mf::CheckJsonRows(page, matcher, markup);
  mf::CheckXmlRows(page, matcher, markup);
  return 0;
}
