#include "app/magnet.h"

#include <memory>
#include <vector>

#include "app/main_window.h"
#include "app/scraper.h"
#include "app/search_control.h"
#include "platform/threads.h"
#include "site/detail_page.h"
#include "site/download_link.h"
#include "site/page_fetch.h"
#include "site/site_address.h"
#include "support/encoding.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"
#include "support/threads.h"
#include "web/web_request.h"

namespace mf {
namespace {

constexpr EditBoxControl kOutput = &MainWindow::编辑框_输出;
constexpr ListControl kResultList = &MainWindow::超级列表框1;

// The fetch of the latest double-click; UI thread only. An earlier fetch is killed when a new one
// starts, so that the box never holds the links of two entries.
ThreadHandle latestFetch = 0;

// About this much text goes to the box per trip to the UI thread: one trip per line made 10,000
// links take seconds, one trip for all of them would hold the window for the whole insertion (the
// box lays out every line it takes, a few milliseconds for this much).
constexpr std::size_t kLinesPerTripBytes = 16 * 1024;

void WriteMagnetLines(const std::vector<Text>& links) {
  static const Text magnet = "磁"_gbk;
  static const Text colon = "："_gbk;
  static const Text lineEnd("\r\n");
  Text batch;
  for (std::size_t i = 0; i < links.size(); ++i) {
    batch += magnet + ToText(static_cast<std::int32_t>(i + 1)) + colon + links[i] + lineEnd;
    if (batch.size() >= kLinesPerTripBytes || i + 1 == links.size()) {
      AppendToEditBox(kOutput, {batch});
      batch = Text();
    }
  }
}

// A link as the box shows it: the page wrote it inside an attribute, where "&amp;" stands for
// "&", and what users copy from the box goes to their client as it stands. A link that decoding
// would not leave a download link (a reference to a line break, say) stays as the page wrote it,
// so that a line of the box is always one whole link.
Text ShownLink(const Text& written) {
  const Text decoded = LinkForOpening(written);
  return IsDownloadLink(decoded) ? decoded : written;
}

}  // namespace

void OnResultListDoubleClick(int, int, int) {
  KillThread(latestFetch);
  platform::CloseHandle(latestFetch);
  SetEditBoxText(kOutput, Text());
  if (!RunOnNewThread(&FetchMagnetLinks, nullptr, &latestFetch)) {
    latestFetch = 0;
  }
}

std::uint32_t FetchMagnetLinks(void*) {
  const ComApartmentScope apartment;
  SetEditBoxText(kOutput, "正在获取磁力。。。"_gbk);
  const Text address = GetListCellText(kResultList, SelectedListRow(kResultList), 2);
  const ListRowOrigin origin = SelectedListRowOrigin(kResultList);
  if (address.view().starts_with("magnet:")) {
    // A site whose rows carry their magnet link: there is no detail page to fetch.
    SetEditBoxText(kOutput, Text());
    WriteMagnetLines({address});
    return 0;
  }
  // The site's own headers and delay; the built-in site has neither, and its request is as it
  // always was.
  // The row's own site, when it came from a search of several.
  const std::shared_ptr<const SiteDefinition> site =
      origin.site ? origin.site : CurrentSite().definition;
  PaceRequest(*site);
  Text headers;
  const Bytes body = WebRequest(
      {.url = address, .extraHeaders = SiteHeaderLines(*site), .responseHeaders = &headers});

  // The page and its matches are read under the lock; the output box is written after it, so
  // the search worker never waits for this thread's trips to the window.
  std::vector<Text> links;
  bool fetched = false;
  {
    const std::lock_guard lock(PageWorkLock);
    PageText = SitePageText(body, *site, CharsetOf(headers));
    fetched = !PageText.empty();
    if (fetched) {
      // The built-in site's call as it always was; any other site's page is its UTF-8 text.
      links = site->programText ? FindMagnetLinks(*EntryMatcher, PageText)
                                : FindMagnetLinks(*EntryMatcher, PageText, *site);
    }
  }
  if (!fetched) {
    SetEditBoxText(kOutput, "获取失败，重新单击开始搜索"_gbk);
    return 0;
  }
  for (Text& link : links) {
    if (!site->programText) {
      // A UTF-8 site's links as ASCII, which the box, in the program's text, shows as they are.
      link = PercentEncodedNonAscii(link);
    }
    link = ShownLink(link);
  }
  SetEditBoxText(kOutput, Text());
  WriteMagnetLines(links);
  if (!links.empty()) {
    NoteListRowMagnet(kResultList, origin.arrival, links.front());
  }
  return 0;
}

}  // namespace mf
