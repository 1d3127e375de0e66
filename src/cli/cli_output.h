// How the command line writes entries and links: tab-separated lines or JSON, from UTF-8 text.
// Pure functions.
#pragma once

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
// All links as one JSON array of strings on one line.
std::string LinksJson(const std::vector<std::string>& links);

}  // namespace mf::cli
