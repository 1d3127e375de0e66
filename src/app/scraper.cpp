#include "app/scraper.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/ui_thread.h"
#include "platform/printable_text.h"
#include "platform/request_log.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
#include "site/site_address.h"
#include "site/site_check.h"
#include "site/site_walk.h"
#include "support/encoding.h"
#include "support/text_ops.h"
#include "support/threads.h"

namespace mf {

namespace {

constexpr ListControl kResultList = &MainWindow::超级列表框1;

// The page's rows, until the worker sends them with its status text. Rows are numbered by their
// arrival, so numbering goes on across pages and searches.
thread_local PageRows heldRows;

// The keyword as the site takes it: the built-in site's is the program's text, as it always
// was; any other site's is the keyword box's UTF-8, every character kept, while the box still
// holds the keyword the worker read.
Text SiteKeywordOf(const Text& keyword, const SiteDefinition& site) {
  if (site.programText) {
    return keyword;
  }
  const std::string typed = GetEditBoxUtf8Text(&MainWindow::编辑框_搜索内容);
  return Utf8ToGbk(Text(typed)) == keyword ? Text(typed) : GbkToUtf8(keyword);
}

// What the worker's walk knows between its pages: the mirror that answered and the entries seen.
// Each search runs on a thread of its own, so a walk lives as long as its search; a change of the
// site in use starts a new one from the next page.
struct WorkerWalk {
  SiteInUse site;
  MirrorFetcher mirrors{site.mirrors, site.definition};
  WalkEnd end{*site.definition};
  UnreachableRun unreachableRun{};
  bool ended = false;
  bool unreachable = false;  // the walk ended for want of any answer
  Text answered{};           // the mirror that answered last
};
thread_local std::unique_ptr<WorkerWalk> workerWalk;

WorkerWalk& WalkOf(const SiteInUse& site) {
  if (!workerWalk || workerWalk->site.definition != site.definition ||
      workerWalk->site.mirrors != site.mirrors) {
    workerWalk = std::make_unique<WorkerWalk>(WorkerWalk{.site = site});
    // A site picked during the search may give other columns.
    ShowListColumnsFor(kResultList, {site.definition});
  }
  return *workerWalk;
}

// With --verbose: each mirror passed over, and the one that answered when it is another than
// before.
void ReportMirrors(const MirrorFetcher::Result& fetch, WorkerWalk& walk) {
  if (!platform::FailureLogOn()) {
    return;
  }
  std::string lines;
  for (const std::string& passed : fetch.passedOver) {
    lines += "magnet-finder: mirror passed over: " + platform::PrintableText(passed) + "\n";
  }
  if (!fetch.page.Failed() && fetch.base != walk.answered) {
    walk.answered = fetch.base;
    lines += "magnet-finder: mirror answered: " +
             platform::PrintableText(platform::AddressWithoutPassword(fetch.base.view())) + "\n";
  }
  std::fputs(lines.c_str(), stderr);
}

}  // namespace

bool ScrapeResultPage(const Text& keyword, const Text& page) {
  const ComApartmentScope apartment;
  WorkerWalk& walk = WalkOf(CurrentSite());
  const SiteDefinition& site = *walk.site.definition;
  const Text siteKeyword = SiteKeywordOf(keyword, site);
  if (const std::string refusal = KeywordRefusal(siteKeyword.view(), site);
      !site.programText && !refusal.empty()) {
    // A GBK site cannot send this keyword: the page fails without a request, and the walk ends.
    std::fputs(("magnet-finder: " + refusal + "\n").c_str(), stderr);
    walk.ended = true;
    return false;
  }
  MirrorFetcher::Result fetch = walk.mirrors.Fetch(
      [&](const Text& base) { return ResultPageAddress(site, base, siteKeyword, page); });
  FetchedPage& fetched = fetch.page;
  FailIfNotTheSite(fetched, site);

  PageEntries entries;
  {
    const std::lock_guard lock(PageWorkLock);
    // The built-in site's page converted to code page 936, any other site's to UTF-8.
    PageText = SitePageText(fetched.body, site, fetched.charset);
    // A page that failed has no entries; the built-in site alone reads its error pages as pages.
    if (!fetched.Failed() || site.programText) {
      entries = ReadEntries(*EntryMatcher, *MarkupPattern, PageText, site, fetch.base);
    }
  }
  walk.unreachable = walk.unreachableRun.After(fetched);
  walk.ended = walk.end.After(fetched, entries) || walk.unreachable;
  ReportMirrors(fetch, walk);
  heldRows = PageRows{walk.site.definition, std::move(entries.rows)};
  return !fetched.Failed();
}

PageRows TakePageRows() {
  return std::exchange(heldRows, PageRows{});
}

bool WalkEndsAfterThisPage() {
  return workerWalk && workerWalk->ended;
}

bool WalkEndedUnreachable() {
  return workerWalk && workerWalk->unreachable;
}

}  // namespace mf
