#include "cli/commands.h"

#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "cli/cli_output.h"
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

void Write(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

std::string EntryLines(const std::vector<EntryRow>& rows, const CliOptions& options, int page,
                       long& number) {
  std::string lines;
  for (const EntryRow& row : rows) {
    ++number;
    lines += options.format == Format::kJson
                 ? EntryJson(number, page, Utf8(row.title), Utf8(row.address))
                 : EntryTsv(number, Utf8(row.title), Utf8(row.address));
  }
  return lines;
}

// Runs xdg-open on `link` and waits for it; true when it succeeded.
bool OpenWithDesktop(const std::string& link) {
  std::string program = "xdg-open";
  std::string argument = link;
  char* arguments[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, arguments, environ) != 0) {
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
    const Text link = LinkForOpening(links[i]);
    const std::string refusal = DownloadLinkRefusal(link);
    if (!refusal.empty()) {
      Write(errors,
            "magnet-finder-cli: link " + std::to_string(i + 1) + " not opened: " + refusal + "\n");
    } else if (OpenWithDesktop(Utf8(link))) {
      ++opened;
    } else {
      Write(errors, "magnet-finder-cli: xdg-open could not open " + Utf8(link) + "\n");
      all = false;
    }
  }
  return all && (opened > 0 || links.empty());
}

}  // namespace

int RunSearch(const CliOptions& options, std::FILE* out, Progress& progress) {
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
        EntryLines(FindEntries(matcher, markup, PageTextOf(fetched.body)), options, page, number);
    progress.Clear();
    Write(out, lines);
    std::fflush(out);
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

int RunMagnets(const CliOptions& options, std::FILE* out, std::FILE* errors) {
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  const FetchedPage fetched = FetchPage(Utf8ToGbk(Text(options.url)));
  platform::UnwindIfKilled();
  if (fetched.Failed()) {
    Write(errors, "magnet-finder-cli: " + options.url + ": " + fetched.failure + "\n");
    return 1;
  }
  const std::vector<Text> links = FindMagnetLinks(matcher, PageTextOf(fetched.body));
  std::vector<std::string> utf8;
  for (const Text& link : links) {
    utf8.push_back(Utf8(options.raw ? link : LinkForOpening(link)));
  }
  if (options.format == Format::kJson) {
    Write(out, LinksJson(utf8));
  } else {
    for (const std::string& link : utf8) {
      Write(out, link + "\n");
    }
  }
  std::fflush(out);
  return options.open && !OpenAll(links, errors) ? 1 : 0;
}

}  // namespace mf::cli
