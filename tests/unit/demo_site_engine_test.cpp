// The demo pages read the way the tool reads them: the keyword's address as the tool encodes it,
// the body cut at a zero byte and converted to code page 936, entries and magnet links found by
// the tool's own regular-expression engine, titles cleaned by its markup pattern.
#include <gtest/gtest.h>

#include "demo_pages.h"
#include "platform/regexp_engine.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/text_types.h"

namespace mf::demo {
namespace {

using platform::RegExpEngine;
using platform::RegExpStatus;

Text Gbk(std::string_view utf8) {
  return Utf8ToGbk(Text(utf8));
}

struct Found {
  RegExpStatus status;
  std::vector<std::pair<Text, Text>> groups;  // groups 1 and 2 (empty when absent), code page 936
};

Found Search(std::u16string pattern, const std::string& body) {
  RegExpEngine engine;
  engine.SetIgnoreCase(true);
  engine.SetMultiline(true);
  engine.SetGlobal(true);
  engine.SetPattern(std::move(pattern));
  const auto matches = engine.Execute(AnsiToUtf16(Gbk(body)));  // Text stops at a zero byte
  Found found{engine.LastStatus(), {}};
  for (std::size_t i = 0; matches && i < matches->Count(); ++i) {
    auto group = [&](std::size_t g) {
      return g <= matches->GroupCount() ? Utf16ToAnsi(matches->Group(i, g).value_or(u"")) : Text();
    };
    found.groups.emplace_back(group(1), group(2));
  }
  return found;
}

const std::u16string kEntryPattern = uR"re(href="(.*?)">(.*?)</a></div>)re";
const std::u16string kMagnetPattern = u"[磁力下载|迅雷下载]：<a href=\"(.*?)\">";

TEST(DemoPagesInTheTool, KeywordAddressesMatchTheToolsEncoding) {
  for (const char* keyword : {"电影", "abc", "a b/c", ""}) {
    EXPECT_EQ(PercentEncodeUtf8(keyword), UrlEncode(Gbk(keyword), false, true).str()) << keyword;
  }
}

TEST(DemoPagesInTheTool, EntriesAndCleanTitlesComeThroughConversion) {
  mf::regex markup;
  ASSERT_TRUE(markup.Compile(Text(R"(<span class="mhl">|</span>|<span class=".*?</script>)")));
  for (PageQuirk quirk : {PageQuirk::kNone, PageQuirk::kZeroByte, PageQuirk::kInvalidUtf8,
                          PageQuirk::kSplitEntry, PageQuirk::kUpperHref}) {
    const ResultPage page = MakeResultPage("电影", 7, quirk);
    const Found found = Search(kEntryPattern, page.body);
    ASSERT_EQ(found.status, RegExpStatus::kOk);
    ASSERT_EQ(found.groups.size(), page.findable.size()) << static_cast<int>(quirk);
    for (std::size_t i = 0; i < page.findable.size(); ++i) {
      const Entry& e = page.findable[i];
      EXPECT_EQ(found.groups[i].first, Gbk(e.link));
      EXPECT_EQ(found.groups[i].second, Gbk(e.titleHtml));
      EXPECT_EQ(markup.Replace(found.groups[i].second, Text(), 1, std::nullopt, true, true),
                Gbk(e.title));
      EXPECT_EQ(Gbk(e.title).view().find('?'), std::string_view::npos)
          << "titles stay inside code page 936 unless the page is meant to be broken";
      if (quirk == PageQuirk::kInvalidUtf8)
        break;  // its broken titles do hold '?'
    }
  }
}

TEST(DemoPagesInTheTool, MagnetLinksComeThroughConversion) {
  for (const Entry& e : MakeResultPage("电影", 1).findable) {
    const DetailPage d = *MakeDetailPage(e.link.substr(8, 16));
    const Found found = Search(kMagnetPattern, d.body);
    ASSERT_EQ(found.groups.size(), d.links.size());
    for (std::size_t i = 0; i < d.links.size(); ++i)
      EXPECT_EQ(found.groups[i].first, Gbk(d.links[i]));
  }
}

// The engine gets through both 2 MB lines within its limit and finds every entry around them.
TEST(DemoPagesInTheTool, LongLinesDoNotHideTheOtherEntries) {
  for (PageQuirk quirk : {PageQuirk::kLongLine, PageQuirk::kLongTitle}) {
    const ResultPage page = MakeResultPage("电影", 2, quirk);
    const Found found = Search(kEntryPattern, page.body);
    EXPECT_EQ(found.status, RegExpStatus::kOk);
    ASSERT_EQ(found.groups.size(), page.findable.size());
    EXPECT_EQ(found.groups.back().second, Gbk(page.findable.back().titleHtml));
  }
}

}  // namespace
}  // namespace mf::demo
