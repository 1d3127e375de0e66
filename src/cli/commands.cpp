#include "cli/commands.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_output.h"
#include "cli/stoppable_run.h"
#include "platform/printable_text.h"
#include "platform/threads.h"
#include "site/detail_page.h"
#include "site/download_link.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
#include "site/seen_torrents.h"
#include "site/site_address.h"
#include "site/site_walkers.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"
#include "support/threads.h"

extern char** environ;

namespace mf::cli {
namespace {

std::string Utf8(const Text& text) {
  return GbkToUtf8(text).str();
}

// An entry's address as printed: a password in the site's address is not.
std::string Printed(const Text& address) {
  return platform::AddressWithoutPassword(Utf8(address));
}

// A write to the output failed (a full disk, a closed pipe): the command ends at once.
struct OutputFailed {
  int error;  // errno
};

// A kill ends the command before a write, not after it: a write to a full pipe may never return.
void Write(std::FILE* out, const std::string& text) {
  platform::UnwindIfKilled();
  const OutputWriteScope writing;
  if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
    throw OutputFailed{errno};
  }
}

void Flush(std::FILE* out) {
  const OutputWriteScope writing;
  if (std::fflush(out) != 0) {
    throw OutputFailed{errno};
  }
}

// The line that says why the output stopped; none for a closed pipe, which only means that the
// reader has all it wanted (`search ... | head -1`).
std::string OutputFailedLine(const OutputFailed& failed) {
  return failed.error == EPIPE ? std::string()
                               : "magnet-finder-cli: cannot write the output: " +
                                     std::string(std::strerror(failed.error)) + "\n";
}

// Spawn attributes that start a program with no signal blocked and every signal at its default,
// as a new session would: our own mask blocks Ctrl-C and SIGTERM, and a caller may ignore SIGPIPE.
class FreshSignals {
 public:
  FreshSignals() {
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_init(&attributes_);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &all);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~FreshSignals() { posix_spawnattr_destroy(&attributes_); }
  FreshSignals(const FreshSignals&) = delete;
  FreshSignals& operator=(const FreshSignals&) = delete;

  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

enum class Opening { kOpened, kFailed, kNoProgram };

// Runs xdg-open on `link` and waits for it.
Opening OpenWithDesktop(const std::string& link) {
  std::string program = "xdg-open";
  std::string argument = link;
  char* arguments[] = {program.data(), argument.data(), nullptr};
  const FreshSignals signals;
  pid_t child = 0;
  if (const int error =
          posix_spawnp(&child, "xdg-open", nullptr, signals.get(), arguments, environ);
      error != 0) {
    return error == ENOENT ? Opening::kNoProgram : Opening::kFailed;
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0
             ? Opening::kOpened
             : Opening::kFailed;
}

// A site's links as the program's text: a UTF-8 site's made ASCII (their other characters
// percent-encoded), which reads the same in either.
std::vector<Text> LinksAsProgramText(std::vector<Text> links, const SiteDefinition& site) {
  if (!site.programText) {
    for (Text& link : links) {
      link = PercentEncodedNonAscii(link);
    }
  }
  return links;
}

// Hands every download link to xdg-open; a link of another kind stays unopened, with one line
// on `errors` naming it by its place on the page. True when every download link was opened and
// at least one was (or the page has none).
bool OpenAll(const std::vector<Text>& links, std::FILE* errors) {
  bool all = true;
  std::size_t opened = 0;
  for (std::size_t i = 0; i < links.size(); ++i) {
    UnwindIfStopping();
    const Text link = LinkForOpening(links[i]);
    const std::string refusal = DownloadLinkRefusal(link);
    if (!refusal.empty()) {
      Write(errors, "magnet-finder-cli: link " + std::to_string(i + 1) +
                        " not opened: " + platform::PrintableText(refusal) + "\n");
      continue;
    }
    switch (OpenWithDesktop(Utf8(link))) {
      case Opening::kOpened:
        ++opened;
        break;
      case Opening::kNoProgram:
        Write(errors,
              "magnet-finder-cli: no link opened: xdg-open is missing (it comes with the package "
              "xdg-utils: sudo apt install xdg-utils)\n");
        return false;
      case Opening::kFailed:
        Write(errors, "magnet-finder-cli: xdg-open could not open " +
                          platform::PrintableText(Utf8(link)) + "\n");
        all = false;
        break;
    }
  }
  return all && (opened > 0 || links.empty());
}

// What a search prints, on the command's thread alone: the rows of every page as it arrives,
// each torrent once, and each site's progress and problems.
class SearchOutput {
 public:
  SearchOutput(const CliOptions& options, const std::vector<SearchSite>& sites, std::FILE* out,
               Progress& progress)
      : options_(options), out_(out), progress_(progress), several_(sites.size() > 1) {
    for (const SearchSite& site : sites) {
      SiteState& state = states_.emplace_back();
      state.id = site.definition->id;
      state.site = site.definition;
      wide_ = wide_ || several_ || RowsHaveMore(*site.definition);
    }
  }

  // The header goes out before the first request, so that output that cannot be written (a
  // full disk) ends the search before it asks any site for anything.
  void Begin() {
    if (options_.format == Format::kTsv) {
      Write(out_, wide_ ? WideEntryTsvHeader() : EntryTsvHeader());
      Flush(out_);
    }
  }

  void Page(std::size_t site, const WalkedPage& page) {
    SiteState& state = states_[site];
    if (options_.verbose) {
      ReportMirrors(state, page.fetch);
    }
    std::string lines;
    for (const EntryRow& row : page.entries.rows) {
      lines += Line(state, page.number, row);
    }
    state.rows += static_cast<long>(page.entries.rows.size());
    progress_.Clear();
    Write(out_, lines);
    Flush(out_);
    for (const std::string& problem : page.entries.problems) {
      progress_.Report("magnet-finder-cli: " + state.id + ": page " + std::to_string(page.number) +
                       ": " + platform::PrintableText(problem) + "\n");
    }
    state.unreachable = page.unreachable;
    if (page.fetch.page.Failed()) {
      state.failure = page.fetch.page.failure;
      several_ ? progress_.SitePageFailed(site, page.number, state.failure)
               : progress_.PageFailed(page.number, state.failure);
    } else {
      ++state.fetched;
    }
    several_ ? progress_.SitePageDone(site, page.number, state.rows)
             : progress_.PageDone(page.number, number_);
  }

  // The end of a site's walk: a site that gave no page is named, and the others go on.
  void Ended(std::size_t site, const std::string& broken) {
    const SiteState& state = states_[site];
    if (state.unreachable) {
      progress_.Report("magnet-finder-cli: " + state.id + ": unreachable: no answer to " +
                       std::to_string(UnreachableRun::kPages) + " pages in a row (" +
                       platform::PrintableText(state.failure) + "); its walk ends here\n");
      return;
    }
    if (!broken.empty()) {
      progress_.Report("magnet-finder-cli: " + state.id +
                       ": the walk stopped: " + platform::PrintableText(broken) + "\n");
    }
    if (several_ && state.fetched == 0) {
      progress_.Report("magnet-finder-cli: " + state.id + ": no page could be fetched: " +
                       platform::PrintableText(broken.empty() ? state.failure : broken) + "\n");
    }
  }

  bool AnyPageFetched() const {
    return std::any_of(states_.begin(), states_.end(),
                       [](const SiteState& state) { return state.fetched > 0; });
  }

 private:
  struct SiteState {
    std::string id;
    std::shared_ptr<const SiteDefinition> site;  // its rows are in its text (result_page.h)
    long rows = 0;                               // found on its pages, duplicates included
    int fetched = 0;                             // pages
    std::string failure;                         // of its last failed page
    Text mirror;                                 // the mirror that answered last
    bool unreachable = false;                    // its walk ended for want of any answer
  };

  // The rows of a site with more than a title and a detail address get the wide lines.
  static bool RowsHaveMore(const SiteDefinition& site) {
    for (std::size_t field = 0; field < kRowFieldCount; ++field) {
      if (site.HasField(static_cast<RowField>(field))) {
        return true;
      }
    }
    return !site.HasLink();
  }

  std::string Line(const SiteState& state, int page, const EntryRow& row) {
    const auto Utf8 = [&](const Text& text) { return SiteTextToUtf8(text, *state.site); };
    const std::string url = Printed(row.address);
    if (!row.infoHash.empty()) {
      if (const long first = seen_.FirstRow(row.infoHash, number_ + 1); first != 0) {
        return options_.format == Format::kJson ? SameTorrentJson(first, page, state.id, url)
                                                : std::string();
      }
    }
    ++number_;
    if (!wide_) {
      return options_.format == Format::kJson ? EntryJson(number_, page, Utf8(row.title), url)
                                              : EntryTsv(number_, Utf8(row.title), url);
    }
    const WideEntry entry{.number = number_,
                          .page = page,
                          .site = state.id,
                          .title = Utf8(row.title),
                          .url = url,
                          .magnet = Utf8(row.magnet),
                          .hash = row.infoHash,
                          .size = Utf8(row.size),
                          .date = Utf8(row.date),
                          .seeders = Utf8(row.seeders),
                          .leechers = Utf8(row.leechers),
                          .sizeBytes = row.sizeBytes,
                          .seederCount = row.seederCount,
                          .leecherCount = row.leecherCount};
    return options_.format == Format::kJson ? WideEntryJson(entry) : WideEntryTsv(entry);
  }

  // --verbose: every mirror passed over, and the mirror that answered when it changes.
  void ReportMirrors(SiteState& state, const MirrorFetcher::Result& fetch) {
    for (const std::string& line : fetch.passedOver) {
      progress_.Report("magnet-finder-cli: " + state.id +
                       ": mirror passed over: " + platform::PrintableText(line) + "\n");
    }
    if (!fetch.page.Failed() && !(fetch.base == state.mirror)) {
      state.mirror = fetch.base;
      progress_.Report("magnet-finder-cli: " + state.id + ": answered by the mirror " +
                       platform::PrintableText(Printed(fetch.base)) + "\n");
    }
  }

  const CliOptions& options_;
  std::FILE* out_;
  Progress& progress_;
  const bool several_;
  bool wide_ = false;
  std::vector<SiteState> states_;
  SeenTorrents seen_;
  long number_ = 0;  // rows printed
};

int WalkSites(const CliOptions& options, std::vector<SearchSite> sites, std::FILE* out,
              Progress& progress) {
  SearchOutput output(options, sites, out, progress);
  output.Begin();
  SiteWalkers walkers(std::move(sites), Text(options.keyword), options.pages, options.jobs);
  if (walkers.Started() == 0) {
    progress.Report("magnet-finder-cli: cannot start a thread to walk the sites\n");
    return 1;
  }
  while (const std::optional<WalkReport> report = walkers.Next()) {
    if (report->page) {
      output.Page(report->site, *report->page);
    } else {
      output.Ended(report->site, report->broken);
    }
  }
  progress.Clear();
  return output.AnyPageFetched() ? 0 : 1;
}

int PrintMagnets(const CliOptions& options, std::FILE* out, std::FILE* errors) {
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  const FetchedPage fetched = FetchPage(Utf8ToGbk(Text(options.url)), *CurrentSite().definition);
  platform::UnwindIfKilled();
  if (fetched.Failed()) {
    Write(errors, "magnet-finder-cli: " +
                      platform::PrintableText(platform::AddressWithoutPassword(options.url)) +
                      ": " + platform::PrintableText(fetched.failure) + "\n");
    return 1;
  }
  const SiteDefinition& site = *CurrentSite().definition;
  const std::vector<Text> links =
      FindMagnetLinks(matcher, SitePageText(fetched.body, site, fetched.charset), site);
  std::vector<std::string> utf8;
  for (const Text& link : links) {
    utf8.push_back(SiteTextToUtf8(options.raw ? link : LinkForOpening(link), site));
  }
  if (options.format == Format::kJson) {
    Write(out, LinksJson(utf8));
  } else {
    for (const std::string& link : utf8) {
      Write(out, platform::PrintableText(link) + "\n");
    }
  }
  Flush(out);
  if (links.empty()) {
    Write(errors, "magnet-finder-cli: " +
                      platform::PrintableText(platform::AddressWithoutPassword(options.url)) +
                      ": no magnet link on the page (the site's magnet pattern finds none)\n");
    return 1;
  }
  return options.open && !OpenAll(LinksAsProgramText(links, site), errors) ? 1 : 0;
}

}  // namespace

int RunSearch(const CliOptions& options, std::vector<SearchSite> sites, std::FILE* out,
              Progress& progress) {
  try {
    return WalkSites(options, std::move(sites), out, progress);
  } catch (const OutputFailed& failed) {
    progress.Report(OutputFailedLine(failed));
    return 1;
  }
}

int RunMagnets(const CliOptions& options, std::FILE* out, std::FILE* errors) {
  try {
    return PrintMagnets(options, out, errors);
  } catch (const OutputFailed& failed) {
    const std::string line = OutputFailedLine(failed);
    std::fwrite(line.data(), 1, line.size(), errors);
    return 1;
  }
}

}  // namespace mf::cli
