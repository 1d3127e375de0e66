#include "cli/commands.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_output.h"
#include "cli/stoppable_run.h"
#include "platform/printable_text.h"
#include "platform/threads.h"
#include "site/detail_page.h"
#include "site/download_link.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
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

std::string EntryLines(const std::vector<EntryRow>& rows, const CliOptions& options, int page,
                       long& number) {
  std::string lines;
  for (const EntryRow& row : rows) {
    ++number;
    lines += options.format == Format::kJson
                 ? EntryJson(number, page, Utf8(row.title), Printed(row.address))
                 : EntryTsv(number, Utf8(row.title), Printed(row.address));
  }
  return lines;
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

// Runs xdg-open on `link` and waits for it; true when it succeeded.
bool OpenWithDesktop(const std::string& link) {
  std::string program = "xdg-open";
  std::string argument = link;
  char* arguments[] = {program.data(), argument.data(), nullptr};
  const FreshSignals signals;
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", nullptr, signals.get(), arguments, environ) != 0) {
    return false;
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    } else if (OpenWithDesktop(Utf8(link))) {
      ++opened;
    } else {
      Write(errors, "magnet-finder-cli: xdg-open could not open " +
                        platform::PrintableText(Utf8(link)) + "\n");
      all = false;
    }
  }
  return all && (opened > 0 || links.empty());
}

int WalkPages(const CliOptions& options, std::FILE* out, Progress& progress) {
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  regex markup;
  const Text keyword = Utf8ToGbk(Text(options.keyword));
  if (options.format == Format::kTsv) {
    Write(out, EntryTsvHeader());
  }
  long number = 0;
  int fetchedPages = 0;
  for (std::int32_t page = 1; page <= options.pages; ++page) {
    const FetchedPage fetched = FetchPage(ResultPageAddress(keyword, ToText(page)));
    platform::UnwindIfKilled();
    const std::string lines =
        EntryLines(FindEntries(matcher, markup, PageTextOf(fetched)), options, page, number);
    progress.Clear();
    Write(out, lines);
    Flush(out);
    if (fetched.Failed()) {
      progress.PageFailed(page, fetched.failure);
    } else {
      ++fetchedPages;
    }
    progress.PageDone(page, number);
  }
  progress.Clear();
  return fetchedPages > 0 ? 0 : 1;
}

int PrintMagnets(const CliOptions& options, std::FILE* out, std::FILE* errors) {
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  const FetchedPage fetched = FetchPage(Utf8ToGbk(Text(options.url)));
  platform::UnwindIfKilled();
  if (fetched.Failed()) {
    Write(errors, "magnet-finder-cli: " +
                      platform::PrintableText(platform::AddressWithoutPassword(options.url)) +
                      ": " + platform::PrintableText(fetched.failure) + "\n");
    return 1;
  }
  const std::vector<Text> links = FindMagnetLinks(matcher, PageTextOf(fetched));
  std::vector<std::string> utf8;
  for (const Text& link : links) {
    utf8.push_back(Utf8(options.raw ? link : LinkForOpening(link)));
  }
  if (options.format == Format::kJson) {
    Write(out, LinksJson(utf8));
  } else {
    for (const std::string& link : utf8) {
      Write(out, platform::PrintableText(link) + "\n");
    }
  }
  Flush(out);
  return options.open && !OpenAll(links, errors) ? 1 : 0;
}

}  // namespace

int RunSearch(const CliOptions& options, std::FILE* out, Progress& progress) {
  try {
    return WalkPages(options, out, progress);
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
