#include "app/scraper.h"

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/site.h"
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

void AppendEntryRow(std::int32_t match) {
  const int row = InsertListRow(kResultList);
  SetListCellText(kResultList, row, 0, ToText(std::int32_t{ListRowCount(kResultList)}));
  const Text title = EntryMatcher->SubMatchText(match, 2);
  SetListCellText(kResultList, row, 1,
                  MarkupPattern->Replace(title, Text(), 1, std::nullopt, true, true));
  SetListCellText(kResultList, row, 2, SearchSiteBase() + EntryMatcher->SubMatchText(match, 1));
}

}  // namespace

void ScrapeResultPage(const Text& keyword, const Text& page) {
  const ComApartmentScope apartment;
  const Bytes body = WebRequest({.url = ResultPageAddress(keyword, page)});

  const std::lock_guard lock(PageWorkLock);
  PageText = ToText(body);
  PageText = Utf8ToGbk(PageText);
  MarkupPattern->Compile(kMarkupPattern);
  EntryMatcher->Search(kEntryPattern, PageText);
  const std::int32_t matches = EntryMatcher->MatchCount();
  for (std::int32_t i = 1; i <= matches; ++i) {
    AppendEntryRow(i);
  }
}

}  // namespace mf
