// How the command line writes entries and links: tab-separated lines or JSON, from UTF-8 text.
// Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mf::cli {

// A field of a tab-separated line: a tab, line feed, carriage return or backslash inside it is
// written \t, \n, \r or \\, so that a field never breaks its line, and any other control
// character as \xHH (C1: \u00HH), so that none reaches a terminal.
std::string TsvField(std::string_view utf8);
// A JSON string literal, quotes included; control characters as \uXXXX escapes.
std::string JsonString(std::string_view utf8);

// The header line of the tab-separated entries, and one entry; each ends with a line feed.
std::string EntryTsvHeader();
std::string EntryTsv(long number, std::string_view title, std::string_view url);
// One entry as a JSON line: {"number":1,"page":1,"title":"...","url":"..."}.
std::string EntryJson(long number, int page, std::string_view title, std::string_view url);
// A row of a search over several sites, or of a site whose rows have more than a title and a
// detail address: UTF-8, each field empty when the row has none; the size as shown ("1.2 GiB")
// and the date in ISO 8601 UTC when the site's text could be read, and then their numbers too.
struct WideEntry {
  long number = 0;
  int page = 0;
  std::string site;  // the site's id
  std::string title;
  std::string url;  // the detail page's address, password hidden
  std::string magnet;
  std::string hash;  // 40 lower-case hex digits
  std::string size;
  std::string date;
  std::string seeders;
  std::string leechers;
  std::optional<std::int64_t> sizeBytes;
  std::optional<std::int64_t> seederCount;
  std::optional<std::int64_t> leecherCount;
};
// "number title url magnet hash size date seeders leechers site", tab-separated.
std::string WideEntryTsvHeader();
std::string WideEntryTsv(const WideEntry& entry);
// {"number":1,"page":1,"site":"a","title":"...", then each other field that is not empty:
// "size_bytes", "seeders" and "leechers" as integers when known, else "seeders" and "leechers"
// as the site's text}.
std::string WideEntryJson(const WideEntry& entry);
// A torrent that row `sameAs` had already: {"same_as":12,"page":2,"site":"b"}, with "url" when
// this site has a detail page for it.
std::string SameTorrentJson(long sameAs, int page, std::string_view site, std::string_view url);

// All links as one JSON array of strings on one line.
std::string LinksJson(const std::vector<std::string>& links);

}  // namespace mf::cli
