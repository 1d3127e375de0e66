#include "app/scraper.h"

#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/site.h"
#include "app/ui_thread.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"
#include "support/threads.h"
#include "web/web_request.h"

namespace mf {

std::mutex PageWorkLock;

namespace {

constexpr ListControl kResultList = &MainWindow::超级列表框1;

// An entry: its link (group 1) and its title with markup (group 2), on one line.
const Text kEntryPattern("href=\"(.*?)\">(.*?)</a></div>");
// The highlight span, every closing span, and any other span up to the next "</script>".
const Text kMarkupPattern("<span class=\"mhl\">|</span>|<span class=\".*?</script>");

Text ResultPageAddress(const Text& keyword, const Text& page) {
  return SearchSiteBase() + Text("/list/") + UrlEncode(keyword, false, true) + Text("/") + page;
}

struct EntryRow {
  Text title;
  Text address;
};

// The title without markup and the detail-page address of every match of the last search.
std::vector<EntryRow> ReadEntryRows() {
  std::vector<EntryRow> rows;
  const std::int32_t matches = EntryMatcher->MatchCount();
  for (std::int32_t i = 1; i <= matches; ++i) {
    const Text title = EntryMatcher->SubMatchText(i, 2);
    rows.push_back({MarkupPattern->Replace(title, Text(), 1, std::nullopt, true, true),
                    SearchSiteBase() + EntryMatcher->SubMatchText(i, 1)});
  }
  return rows;
}

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

void ScrapeResultPage(const Text& keyword, const Text& page) {
  const ComApartmentScope apartment;
  const Bytes body = WebRequest({.url = ResultPageAddress(keyword, page)});

  std::vector<EntryRow> rows;
  {
    const std::lock_guard lock(PageWorkLock);
    PageText = ToText(body);
    PageText = Utf8ToGbk(PageText);
    MarkupPattern->Compile(kMarkupPattern);
    EntryMatcher->Search(kEntryPattern, PageText);
    rows = ReadEntryRows();
  }
  AppendEntryRows(std::move(rows));
}

}  // namespace mf
