#include "app/scraper.h"

#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/ui_thread.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
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
      SetListCellText(kResultList, row, 2, entry.address);
    }
  });
}

}  // namespace

bool ScrapeResultPage(const Text& keyword, const Text& page) {
  const ComApartmentScope apartment;
  const FetchedPage fetched = FetchPage(ResultPageAddress(keyword, page));

  std::vector<EntryRow> rows;
  {
    const std::lock_guard lock(PageWorkLock);
    PageText = PageTextOf(fetched);  // the site's encoding, converted to code page 936
    rows = FindEntries(*EntryMatcher, *MarkupPattern, PageText);
  }
  AppendEntryRows(std::move(rows));
  return !fetched.Failed();
}

}  // namespace mf
