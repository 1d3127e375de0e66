// The command line of magnet-finder-cli:
//   magnet-finder-cli search KEYWORD [--pages N] [--site ID|FILE|URL[,...] | --all-sites]
//                                    [--mirror URL] [--jobs N] [--format tsv|json] [--quiet]
//   magnet-finder-cli magnets URL [--site ID|FILE|URL] [--format text|json] [--open] [--raw]
//   magnet-finder-cli sites
//   magnet-finder-cli sites check [ID|FILE|URL...] [--mirror URL] [--format tsv|json] [--jobs N]
//   magnet-finder-cli site lint FILE...
//   magnet-finder-cli site test [ID|FILE...]
//   magnet-finder-cli site probe ID|FILE KEYWORD [--pages N] [--mirror URL] [--save DIR] [--force]
// plus --proxy URL (or --proxy-file FILE, or MAGNET_FINDER_PROXY), --verbose, --help and
// --version anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "web/proxy_setting.h"

namespace mf::cli {

enum class Command {
  kSearch,
  kMagnets,
  kSites,
  kSitesCheck,
  kSiteLint,
  kSiteTest,
  kSiteProbe,
  kHelp,
  kVersion
};
enum class Format { kTsv, kJson, kText };

struct CliOptions {
  Command command = Command::kHelp;
  std::string keyword;  // search, site probe: UTF-8 as given
  std::string url;      // magnets: the detail page
  // search: pages 1..pages, 0: each site's default page count; site probe: 1 unless given.
  std::int32_t pages = 0;
  std::optional<std::string> site;    // --site as given: an id, a definition file or an address
  std::optional<std::string> mirror;  // --mirror as given: the site's base address
  // site lint, test, probe, sites check: the ids and files given; search: --site's
  // comma-separated list.
  std::vector<std::string> sites;
  bool allSites = false;  // search: every usable definition of the catalogue
  int jobs = 4;  // search, sites check: how many sites are walked at the same time, at most
  std::optional<std::string> saveDir;  // site probe --save: where the pages and tests go
  bool force = false;                  // site probe: --save replaces files that exist
  Format format = Format::kTsv;
  bool quiet = false;    // no progress on stderr
  bool open = false;     // magnets: hand every download link to xdg-open
  bool raw = false;      // magnets: print links as the page writes them, not decoded
  bool verbose = false;  // every failed request writes a line to stderr
  // --proxy, --proxy-file or MAGNET_FINDER_PROXY, checked: every request goes through it
  std::optional<ProxySetting> proxy;
};

// `arguments` without the program name. The error is one line naming the bad value.
std::variant<CliOptions, std::string> ParseCliArguments(const std::vector<std::string>& arguments);

// The --help text (man-style sections).
const char* CliHelpText();

}  // namespace mf::cli
