#include "app/magnet.h"

#include <vector>

#include "app/main_window.h"
#include "app/scraper.h"
#include "app/search_control.h"
#include "support/encoding.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"
#include "support/threads.h"
#include "web/web_request.h"

namespace mf {
namespace {

constexpr EditBoxControl kOutput = &MainWindow::编辑框_输出;
constexpr ListControl kResultList = &MainWindow::超级列表框1;

// One character of the two labels (or the bar), the full-width colon and a link: group 1.
const Text& MagnetPattern() {
  static const Text pattern = "[磁力下载|迅雷下载]：<a href=\"(.*?)\">"_gbk;
  return pattern;
}

// The links of the page in PageText, in page order; PageWorkLock held.
std::vector<Text> ReadMagnetLinks() {
  std::vector<Text> links;
  EntryMatcher->Search(MagnetPattern(), PageText);
  const std::int32_t matches = EntryMatcher->MatchCount();
  for (std::int32_t i = 1; i <= matches; ++i) {
    links.push_back(EntryMatcher->SubMatchText(i, 1));
  }
  return links;
}

void WriteMagnetLines(const std::vector<Text>& links) {
  for (std::size_t i = 0; i < links.size(); ++i) {
    const Text number = ToText(static_cast<std::int32_t>(i + 1));
    AppendToEditBox(kOutput, {"磁"_gbk + number + "："_gbk + links[i] + Text("\r\n")});
  }
}

}  // namespace

void OnResultListDoubleClick(int, int, int) {
  SetEditBoxText(kOutput, Text());
  RunOnNewThread(&FetchMagnetLinks);
}

std::uint32_t FetchMagnetLinks(void*) {
  const ComApartmentScope apartment;
  SetEditBoxText(kOutput, "正在获取磁力。。。"_gbk);
  const Text address = GetListCellText(kResultList, SelectedListRow(kResultList), 2);
  const Bytes body = WebRequest({.url = address});

  // The page and its matches are read under the lock; the output box is written after it, so
  // the search worker never waits for this thread's trips to the window.
  std::vector<Text> links;
  bool fetched = false;
  {
    const std::lock_guard lock(PageWorkLock);
    PageText = ToText(body);
    PageText = Utf8ToGbk(PageText);
    fetched = !PageText.empty();
    if (fetched) {
      links = ReadMagnetLinks();
    }
  }
  if (!fetched) {
    SetEditBoxText(kOutput, "获取失败，重新单击开始搜索"_gbk);
    return 0;
  }
  SetEditBoxText(kOutput, Text());
  WriteMagnetLines(links);
  return 0;
}

}  // namespace mf
