// Site layer: a site described as data. One YAML file per site says where the site is, how its
// result-page address is built, how its pages are read and matched, and which saved pages it must
// give which rows and links (see docs/SITES.md for the format).
//
// A definition is untrusted text: the loader checks every key strictly, accepts only http(s)
// addresses, compiles every pattern once to prove it, and caps every size. Nothing in a file is
// executed. Loading never throws; a broken file gives its problems with file, line and column.
// Pure functions over their arguments; any thread may call them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/text_types.h"

namespace mf {

// How the keyword is written into the result-page address: its bytes, every one as "%" and two
// upper-case hex digits, in this encoding.
enum class KeywordEncoding { kUtf8, kGbk };
// How a page's bytes are read: as UTF-8, as GBK, or as the answer's charset says (UTF-8 when it
// says nothing or names neither).
enum class PageEncoding { kUtf8, kGbk, kFromCharset };

// What a result page is: HTML (or any text) matched by a pattern, a JSON answer whose rows are
// found by JSON Pointers (RFC 6901), or an XML answer (an RSS feed) whose rows are found by paths
// of element names (xml_rows.h).
enum class PageFormat { kHtml, kJson, kXml };

// The optional fields of a row, besides its title and link.
enum class RowField { kMagnet, kHash, kSize, kDate, kSeeders, kLeechers };
inline constexpr std::size_t kRowFieldCount = 6;
// Their names in a definition ("magnet", "hash", "size", "date", "seeders", "leechers").
const char* RowFieldName(RowField field);

// One step of a title's clean-up, applied in order.
struct CleanupStep {
  enum class Kind {
    kRemove,            // remove every match of `pattern` (Perl syntax, case-sensitive)
    kDecodeReferences,  // &amp; &#20013; &#x4E2D; ... become their characters
    kCollapseSpace,     // runs of white space become one space
    kTrim,              // no white space at either end
  };
  Kind kind = Kind::kTrim;
  Text pattern;  // kRemove only
};

// One offline check of a definition. `kind` says which of the other members count.
struct SiteTest {
  enum class Kind { kAddress, kResultPage, kDetailPage };
  Kind kind = Kind::kAddress;
  int line = 0;    // 1-based line of the test in the file, for messages
  int column = 0;  // and its 1-based column
  // kAddress: the keyword (UTF-8) and page number, and the address they must give.
  std::string keyword;
  std::int32_t page = 0;
  std::string address;
  // kResultPage, kDetailPage: the saved page (a path beside the definition) and, when given, the
  // charset its answer named.
  std::string savedPage;
  std::string charset;
  // kResultPage, UTF-8: title and address, and when `fullRows` the optional fields too (in
  // RowField order; hash as 40 lower-case hex digits), each empty when the row has none.
  struct Row {
    std::string title;
    std::string address;
    std::array<std::string, kRowFieldCount> fields;

    bool operator==(const Row&) const = default;
  };
  std::vector<Row> rows;
  bool fullRows = false;             // the rows were written as mappings: every field is compared
  std::vector<std::string> magnets;  // kDetailPage (UTF-8)
};

struct SiteDefinition {
  // True for the built-in definition alone: its pages, patterns and rows are program text (code
  // page 936), as they always were. Every other site keeps its text as the site wrote it: its
  // pages, patterns, keyword and rows are UTF-8 in the site layer.
  bool programText = false;
  std::string id;                    // file-name-safe: a-z, 0-9, ".", "_", "-"
  std::string name;                  // UTF-8
  std::vector<std::string> mirrors;  // http(s) base addresses, no trailing slash; first is used
  // The result-page address, with {base}, {keyword} and {page}.
  std::string searchAddress;
  KeywordEncoding keywordEncoding = KeywordEncoding::kUtf8;
  std::int32_t firstPage = 1;
  std::int32_t pages = 100;  // the default page count
  // Rows a page holds, for a site paged by offset ({offset} and {page-size} in the address); 0
  // when the address uses neither.
  std::int32_t pageSize = 0;
  // The walk ends after a page with no entries, after a page whose entries were all seen before.
  bool stopAfterNoEntries = false;
  bool stopAfterSeenEntries = false;
  PageEncoding pageEncoding = PageEncoding::kUtf8;
  PageFormat pageFormat = PageFormat::kHtml;
  // kHtml: the entry pattern (code page 936, as the matcher takes it) and the groups of the
  // fields; group 0 is "none" for the link and the optional fields.
  Text entryPattern;
  std::int32_t linkGroup = 1;
  std::int32_t titleGroup = 2;
  std::array<std::int32_t, kRowFieldCount> fieldGroups{};
  // kJson: the pointer to the rows' array, and the pointers of the fields inside a row. kXml: the
  // path of element names from the root to the rows, and the paths of the fields inside a row.
  // An empty pointer or path (other than the title's) is "none".
  std::string rowsPointer;
  std::string titlePointer;
  std::string linkPointer;
  std::array<std::string, kRowFieldCount> fieldPointers;
  // kJson: a pointer to a value that is true in an answer that says it is the last page; empty
  // when the answers say nothing of it.
  std::string lastPagePointer;
  std::vector<CleanupStep> titleCleanup;
  // What a size written as a bare number counts: 1 (bytes), 1024 (KiB), ...
  std::int64_t sizeUnitBytes = 1;
  // The offset from UTC, in seconds, of the dates a site writes without a zone.
  std::int32_t dateZoneSeconds = 0;
  // With {base} and {link}; empty when the rows have no link, and then the magnet pattern too.
  std::string detailAddress;
  Text magnetPattern;  // code page 936
  std::int32_t magnetGroup = 1;
  // Announce addresses (http, https or udp), added in order as "&tr=" to every magnet link built
  // from an info-hash.
  std::vector<std::string> trackers;
  // Request headers the site needs (User-Agent, Referer, Accept, Accept-Language, spelled so),
  // sent with every request to it.
  std::vector<std::pair<std::string, std::string>> requestHeaders;
  // The least time between two requests to the site from this process; zero for none.
  std::chrono::milliseconds delay{0};
  std::vector<SiteTest> tests;
  // What a live check of the site searches for (`check:`, UTF-8): a keyword the site always has
  // results for, and a text on every page of the site, which tells it from a parked or resold
  // domain. Empty when the definition names none.
  std::string checkKeyword;
  std::string checkPageText;
  std::string file;    // where it was read from ("built-in" for the embedded one)
  std::string folder;  // the folder its saved pages are relative to; empty when none

  bool HasLink() const;
  bool HasField(RowField field) const;
  // True when the result-page address names no page ({page} or {offset}): the site answers with
  // one page, and a walk makes one request.
  bool OnePage() const;
  // The pages a walk reads when `asked` are asked for (0: the definition's own count).
  std::int32_t PagesToWalk(std::int32_t asked) const;
};

// A problem found in a definition, with its place (1-based; 0 when the file itself is the
// problem).
struct SiteProblem {
  enum class Severity { kError, kWarning };
  Severity severity = Severity::kError;
  std::string file;
  int line = 0;
  int column = 0;
  std::string message;

  // "FILE:LINE:COLUMN: error: MESSAGE", one line, control bytes escaped.
  std::string ToString() const;
};

// The first error among `problems`, as ToString writes it; empty when there is none.
std::string FirstError(const std::vector<SiteProblem>& problems);

struct LoadedSite {
  std::optional<SiteDefinition> definition;  // absent when any problem is an error
  std::vector<SiteProblem> problems;         // errors first are not promised: in file order
};

// Reads a definition from `yaml`; `file` names it in problems and `folder` is where its saved
// pages are (empty: none can be read).
LoadedSite ParseSiteDefinition(std::string_view yaml, const std::string& file,
                               const std::string& folder);

// Reads the definition in the file at `path`. A file above kMaxDefinitionBytes, or one that
// cannot be read, is an error.
LoadedSite LoadSiteFile(const std::string& path);

inline constexpr std::size_t kMaxDefinitionBytes = 1 << 20;

// The built-in definition, embedded in the programs.
const SiteDefinition& BuiltInSite();
// Its YAML text, as installed beside the other bundled definitions.
std::string_view BuiltInSiteText();

}  // namespace mf
