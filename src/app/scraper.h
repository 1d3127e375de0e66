// Turning one result page of the search site into rows of the result list.
#pragma once

#include <memory>
#include <vector>

#include "site/result_page.h"
#include "support/text_types.h"

namespace mf {

// Fetches result page `page` (decimal digits) for `keyword` and makes one row per entry for
// 超级列表框1: its running number, its title without the highlight markup, and its detail-page
// address. The rows are held for the caller, who sends them to the list with the page's status
// text (TakePageRows). Runs on the search worker. False when the page could not be fetched (no
// response, an error status, an empty page, an answer that is not the site's: site_check.h): such a
// page adds no row, unless it is an error page of the built-in site that holds entries.
//
// The site's mirrors are tried in order, and the one that answered is asked first for the rest of
// the search. A row of a site without detail pages holds its magnet link in the address column.
bool ScrapeResultPage(const Text& keyword, const Text& page);

// The rows of the page ScrapeResultPage last read on this thread, with their site, that are not
// sent yet; taking them leaves none. A page's rows and its status text go to the window in one
// trip to the UI thread: each trip costs the worker two thread switches and a wait for whatever
// the UI thread is doing, such as drawing.
struct PageRows {
  std::shared_ptr<const SiteDefinition> site;
  std::vector<EntryRow> rows;
};
PageRows TakePageRows();

// True when the site's definition ends the walk after the page ScrapeResultPage last read on this
// thread (a page without entries, or with none not seen before, when the definition says so).
bool WalkEndsAfterThisPage();
// True when it ends because the site gave no answer to UnreachableRun::kPages pages in a row.
bool WalkEndedUnreachable();

}  // namespace mf
