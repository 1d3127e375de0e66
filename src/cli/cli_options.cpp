#include "cli/cli_options.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace mf::cli {
namespace {

constexpr std::int32_t kDefaultPages = 100;

bool TakesValue(std::string_view name) {
  return name == "--pages" || name == "--site" || name == "--format";
}

std::optional<std::int32_t> PageCount(std::string_view text) {
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 1) {
    return std::nullopt;
  }
  return value;
}

std::optional<Format> FormatNamed(std::string_view name, Command command) {
  if (name == "json") {
    return Format::kJson;
  }
  if (command == Command::kSearch && name == "tsv") {
    return Format::kTsv;
  }
  if (command == Command::kMagnets && name == "text") {
    return Format::kText;
  }
  return std::nullopt;
}

std::string Quoted(std::string_view value) {
  return "'" + std::string(value) + "'";
}

// Options and words as given, before they are checked against the command.
struct Given {
  std::vector<std::string> words;
  std::vector<std::pair<std::string, std::string>> options;  // name, value ("" for a switch)
};

std::variant<Given, std::string> Split(const std::vector<std::string>& arguments) {
  Given given;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
      given.words.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "-h") {
      argument = "--help";
    } else if (argument == "-q") {
      argument = "--quiet";
    }
    std::string value;
    const std::size_t equals = argument.find('=');
    if (equals != std::string::npos) {
      value = argument.substr(equals + 1);
      argument.resize(equals);
      if (!TakesValue(argument)) {
        return argument + " takes no value: " + Quoted(arguments[i]);
      }
    } else if (TakesValue(argument)) {
      if (i + 1 == arguments.size()) {
        return argument + " needs a value";
      }
      value = arguments[++i];
    }
    given.options.emplace_back(argument, value);
  }
  return given;
}

std::optional<std::string> Apply(CliOptions& options, const std::string& name,
                                 const std::string& value) {
  const bool search = options.command == Command::kSearch;
  if (name == "--quiet") {
    options.quiet = true;
  } else if (name == "--verbose") {
    options.verbose = true;
  } else if (name == "--pages" && search) {
    const auto pages = PageCount(value);
    if (!pages) {
      return "--pages takes a whole number from 1 to 2147483647: " + Quoted(value);
    }
    options.pages = *pages;
  } else if (name == "--site" && search) {
    options.site = value;
  } else if (name == "--format") {
    const auto format = FormatNamed(value, options.command);
    if (!format) {
      return "--format takes " + std::string(search ? "tsv or json" : "text or json") + ": " +
             Quoted(value);
    }
    options.format = *format;
  } else if (name == "--open" && !search) {
    options.open = true;
  } else if (name == "--raw" && !search) {
    options.raw = true;
  } else if (name == "--pages" || name == "--site" || name == "--open" || name == "--raw") {
    return name + " does not go with " + (search ? "search" : "magnets");
  } else {
    return "unknown option " + Quoted(name);
  }
  return std::nullopt;
}

std::variant<CliOptions, std::string> ForCommand(const Given& given) {
  CliOptions options;
  const std::string& command = given.words[0];
  if (command == "search") {
    options.command = Command::kSearch;
    options.pages = kDefaultPages;
  } else if (command == "magnets") {
    options.command = Command::kMagnets;
    options.format = Format::kText;
  } else {
    return "unknown command " + Quoted(command) + " (search or magnets)";
  }
  if (given.words.size() < 2) {
    return command + " needs " + (options.command == Command::kSearch ? "a KEYWORD" : "a URL");
  }
  if (given.words.size() > 2) {
    return "one " + std::string(options.command == Command::kSearch ? "keyword" : "URL") +
           " at most (quote a keyword with spaces): " + Quoted(given.words[2]);
  }
  (options.command == Command::kSearch ? options.keyword : options.url) = given.words[1];
  for (const auto& [name, value] : given.options) {
    if (auto error = Apply(options, name, value)) {
      return *error;
    }
  }
  return options;
}

}  // namespace

std::variant<CliOptions, std::string> ParseCliArguments(const std::vector<std::string>& arguments) {
  auto split = Split(arguments);
  if (auto* error = std::get_if<std::string>(&split)) {
    return *error;
  }
  const Given& given = std::get<Given>(split);
  for (const auto& option : given.options) {
    if (option.first == "--help" || option.first == "--version") {
      CliOptions options;
      options.command = option.first == "--help" ? Command::kHelp : Command::kVersion;
      return options;
    }
  }
  if (given.words.empty()) {
    return std::string("a command is needed: search or magnets");
  }
  return ForCommand(given);
}

const char* CliHelpText() {
  return R"(NAME
    magnet-finder-cli - find magnet links on a torrent-index site, in a terminal

SYNOPSIS
    magnet-finder-cli search KEYWORD [--pages N] [--site URL] [--format tsv|json] [--quiet]
    magnet-finder-cli magnets URL [--format text|json] [--open] [--raw]
    magnet-finder-cli --help | --version

DESCRIPTION
    search walks the site's result pages 1 to N for KEYWORD, one after another, and prints one
    line per entry as soon as its page is read: its running number, its title (without the
    site's highlight markup) and the address of its detail page.

    magnets fetches one detail page and prints every magnet link on it, one per line, ready
    for a download tool: the character references of the page's markup decoded ("&amp;" is
    "&"). --raw prints them as the page writes them.

    Output is UTF-8 on stdout. Progress and failed pages go to stderr: a bar that updates in
    place when stderr is a terminal, "page K/N: R rows" lines otherwise. A page that cannot be
    fetched is reported with its number and the reason, and the walk goes on.

OPTIONS
    --pages N            search pages 1 to N (default 100)
    --site URL           the site's base address, http:// or https:// (default: the
                         environment variable MAGNET_FINDER_SITE, else the built-in site)
    --format tsv|json    search: tab-separated lines with a header line (default), or JSON
                         Lines with the fields number, page, title and url. In tsv a tab, line
                         break or backslash inside a field is written \t, \n, \r or \\.
    --format text|json   magnets: one link per line (default), or one JSON array of strings
    --open               magnets: also hand every download link (magnet:, ed2k:, thunder:,
                         flashget:, qqdl:; one line, no spaces, at most 8 KiB) to the desktop's
                         handler (xdg-open); any other link is not opened, with one line on
                         stderr saying which and why
    --raw                magnets: print the links as the page writes them, "&amp;" and all
    -q, --quiet          no progress on stderr
    --verbose            every failed request writes one line to stderr: time, method,
                         address, reason and duration (as MAGNET_FINDER_LOG=1 does)
    -h, --help           this help
    --version            the version

EXIT STATUS
    0    at least one page (or the detail page) was fetched
    1    every request failed (or xdg-open failed on a link, or --open opened none)
    2    a bad command line
    130, 143
         stopped by Ctrl-C (SIGINT) or SIGTERM; what was printed is whole lines

ENVIRONMENT
    MAGNET_FINDER_SITE   the site's base address when --site is not given
    MAGNET_FINDER_LOG    set to 1 to log every failed request on stderr

EXAMPLE
    magnet-finder-cli search 纪录片 --pages 3 --format json | jq -r .url
)";
}

}  // namespace mf::cli
