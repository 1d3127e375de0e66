// The example sites' layouts, beside the two of demo_pages.h: pages that give the entries
// themselves, with no detail page to visit.
// - a JSON search answer (/api/search?q=...&page=N) listing info-hashes, sizes in bytes, dates,
//   seeders and leechers; hashes written in three spellings (lower-case hex, upper-case hex,
//   base32), titles with JSON escapes;
// - an HTML table (/torrents?q=...&p=N), one row per entry with its magnet link, a size such as
//   "1.4 GB", a date, seeders and leechers; a fixed number of pages, and any higher page number
//   answers the last page again, as some real sites do;
// - the same table on a site that moved (/new/torrents?...), whose old address (/old/...) only
//   redirects elsewhere.
// - an RSS feed (/feed?q=...&start=N&count=M) of the keyword's torrents from the Nth on, paged
//   by offset: titles as text or CDATA, the magnet link in each item's enclosure, dates in RFC
//   822 with several zones, sizes such as "1.4 GiB", seeders and leechers in elements of the
//   feed's own namespace; the feed lists kFeedTorrents, and past them nothing.
// The four list the same torrents for a keyword, each starting at another place in the list, so
// a search over all of them finds the same info-hashes on several sites: page 1 of the JSON answer
// lists torrents 0-19, of the table 10-29, of the moved site 5-24 (with 20 entries a page).
// Every page is a pure function of its address, like the others.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "demo_pages.h"

namespace mf::demo {

inline constexpr int kJsonPages = 5;      // pages after it list no torrents
inline constexpr int kFeedTorrents = 50;  // the feed's items after it are none
inline constexpr int kTablePages = 3;     // pages after it answer it again

// One torrent of a keyword's list, the same on every example site that shows it.
struct ListedTorrent {
  std::string name;      // UTF-8, as a reader shows it
  std::string infoHash;  // 40 lower-case hexadecimal digits
  std::uint64_t sizeBytes = 0;
  std::string date;  // YYYY-MM-DD
  int seeders = 0;
  int leechers = 0;
};

// Torrent `index` (from 0) of the keyword's list; the keyword is raw UTF-8 as decoded from the
// address (invalid sequences show as U+FFFD in the name).
ListedTorrent MakeListedTorrent(std::string_view keyword, int index);

// How the pages write a torrent's fields.
std::string HashAsListed(const ListedTorrent& t, int index);  // the spelling of index's row
std::string Base32Hash(std::string_view hexHash);  // the 20 bytes in RFC 4648 base32: 32 chars
std::string HumanSize(std::uint64_t bytes);        // "1.4 GB", "317 MB"
std::string MagnetLink(const ListedTorrent& t);    // "magnet:?xt=urn:btih:HEX&dn=NAME" ("&" raw)
std::string JsonString(std::string_view utf8, bool escapeNonAscii);  // with its quotes

struct ListedPage {
  std::string body;
  std::vector<ListedTorrent> torrents;  // in page order
  std::vector<int> indexes;             // each torrent's index in the keyword's list
};

// The JSON answer for page `page` (from 1); pages outside 1..lastPage list no torrents.
ListedPage MakeJsonResultPage(std::string_view keyword, int page, int lastPage = kJsonPages,
                              int entries = kEntriesPerPage);

// The RSS feed's items for torrents `start` to `start + count - 1` (from 0) of the keyword's list,
// those below kFeedTorrents.
ListedPage MakeFeedResultPage(std::string_view keyword, int start, int count);

enum class TableSite {
  kTable,  // /torrents: its page 1 starts at torrent 10
  kMoved,  // /new/torrents: starts at torrent 5, another name in its head
};

// The table page for page `page` (from 1); a page after lastPage is lastPage's page, byte for
// byte.
ListedPage MakeTableResultPage(std::string_view keyword, int page, TableSite site,
                               int lastPage = kTablePages, int entries = kEntriesPerPage);

}  // namespace mf::demo
