#include "app/magnet.h"

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

void WriteMagnetLines() {
  EntryMatcher->Search(MagnetPattern(), PageText);
  const std::int32_t matches = EntryMatcher->MatchCount();
  for (std::int32_t i = 1; i <= matches; ++i) {
    const Text link = EntryMatcher->SubMatchText(i, 1);
    AppendToEditBox(kOutput, {"磁"_gbk + ToText(i) + "："_gbk + link + Text("\r\n")});
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

  const std::lock_guard lock(PageWorkLock);
  PageText = ToText(body);
  PageText = Utf8ToGbk(PageText);
  if (PageText.empty()) {
    SetEditBoxText(kOutput, "获取失败，重新单击开始搜索"_gbk);
    return 0;
  }
  SetEditBoxText(kOutput, Text());
  WriteMagnetLines();
  return 0;
}

}  // namespace mf
