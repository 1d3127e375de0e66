// The command line of magnet-finder-cli:
//   magnet-finder-cli search KEYWORD [--pages N] [--site URL] [--format tsv|json] [--quiet]
//   magnet-finder-cli magnets URL [--format text|json] [--open] [--raw]
// plus --verbose, --help and --version anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace mf::cli {

enum class Command { kSearch, kMagnets, kHelp, kVersion };
enum class Format { kTsv, kJson, kText };

struct CliOptions {
  Command command = Command::kHelp;
  std::string keyword;     // search: UTF-8 as given
  std::string url;         // magnets: the detail page
  std::int32_t pages = 1;  // search: pages 1..pages
  std::string site;        // --site as given, checked; empty when not given
  Format format = Format::kTsv;
  bool quiet = false;    // no progress on stderr
  bool open = false;     // magnets: hand every download link to xdg-open
  bool raw = false;      // magnets: print links as the page writes them, not decoded
  bool verbose = false;  // every failed request writes a line to stderr
};

// `arguments` without the program name. The error is one line naming the bad value.
std::variant<CliOptions, std::string> ParseCliArguments(const std::vector<std::string>& arguments);

// The --help text (man-style sections).
const char* CliHelpText();

}  // namespace mf::cli
