#include "app/scraper.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/ui_thread.h"
#include "platform/printable_text.h"
#include "platform/request_log.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
#include "site/site_address.h"
#include "site/site_walk.h"
#include "support/encoding.h"
#include "support/text_ops.h"
#include "support/threads.h"

namespace mf {

namespace {

constexpr ListControl kResultList = &MainWindow::超级列表框1;

// All rows of a page go to the list in one trip to the UI thread. A trip costs two thread
// switches, and with one per cell they made up most of a search's time. Each row is numbered
// with the row count right after its insertion, so numbering goes on across pages and searches.
void AppendEntryRows(std::vector<EntryRow> rows) {
  if (rows.empty()) {
    return;
  }
  RunOnUiThread([rows = std::move(rows)] {
    for (const EntryRow& entry : rows) {
      const int row = InsertListRow(kResultList);
      SetListCellText(kResultList, row, 0, ToText(std::int32_t{ListRowCount(kResultList)}));
      SetListCellText(kResultList, row, 1, entry.title);
      // A row without a detail page keeps its magnet link where the address would be.
      SetListCellText(kResultList, row, 2, entry.address.empty() ? entry.magnet : entry.address);
    }
  });
}

// What the worker's walk knows between its pages: the mirror that answered and the entries seen.
// Each search runs on a thread of its own, so a walk lives as long as its search; a change of the
// site in use starts a new one from the next page.
struct WorkerWalk {
  SiteInUse site;
  MirrorFetcher mirrors{site.mirrors, site.definition};
  WalkEnd end{*site.definition};
  bool ended = false;
  Text answered{};  // the mirror that answered last
};
thread_local std::unique_ptr<WorkerWalk> workerWalk;

WorkerWalk& WalkOf(const SiteInUse& site) {
  if (!workerWalk || workerWalk->site.definition != site.definition ||
      workerWalk->site.mirrors != site.mirrors) {
    workerWalk = std::make_unique<WorkerWalk>(WorkerWalk{.site = site});
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
  const MirrorFetcher::Result fetch = walk.mirrors.Fetch(
      [&](const Text& base) { return ResultPageAddress(site, base, keyword, page); });
  const FetchedPage& fetched = fetch.page;

  PageEntries entries;
  {
    const std::lock_guard lock(PageWorkLock);
    // The site's encoding, converted to code page 936.
    PageText = PageTextOf(fetched.body, site.pageEncoding, fetched.charset);
    entries = ReadEntries(*EntryMatcher, *MarkupPattern, PageText, site, fetch.base);
  }
  walk.ended = walk.end.After(fetched, entries);
  ReportMirrors(fetch, walk);
  AppendEntryRows(std::move(entries.rows));
  return !fetched.Failed();
}

bool WalkEndsAfterThisPage() {
  return workerWalk && workerWalk->ended;
}

}  // namespace mf
