// The demo pages read the way the tool reads them: the keyword's address as the tool encodes it,
// the body cut at a zero byte and converted to code page 936, entries and magnet links found by
// the tool's own regular-expression engine, titles cleaned by its markup pattern; the GBK layout's
// pages read by the bundled definition that describes them.
#include <gtest/gtest.h>

#include "demo_pages.h"
#include "gbk_text.h"
#include "platform/regexp_engine.h"
#include "site/detail_page.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
#include "site/site_definition.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/text_types.h"
#include "text_printing.h"

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

// Many pages of the GBK layout, keywords with references and highlight tags in them included: the
// definition finds every entry with its title as a reader sees it, and every magnet link.
TEST(DemoPagesInTheTool, TheGbkDefinitionReadsTheGbkLayout) {
  const LoadedSite loaded = LoadSiteFile(MF_SOURCE_DIR "/sites/demo-gbk.yaml");
  ASSERT_TRUE(loaded.definition) << loaded.problems.front().ToString();
  const SiteDefinition& site = *loaded.definition;
  const Text base("http://127.0.0.1:1");
  RegExpMatcher matcher;
  mf::regex markup;
  for (const char* keyword : {"电影", "a&b", "<em>x</em>", "&#20013;"}) {
    for (int entries : {0, 1, 20, 57}) {
      const ResultPage page = MakeGbkResultPage(keyword, entries + 1, 0, entries);
      const Text text = PageTextOf(Bytes(ToGbk(page.body)), site.pageEncoding, "gbk");
      const std::vector<EntryRow> rows = FindEntries(matcher, markup, text, site, base);
      ASSERT_EQ(rows.size(), page.findable.size()) << keyword;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].title, Gbk(page.findable[i].title)) << keyword;
        EXPECT_EQ(rows[i].address, Gbk(base.str() + page.findable[i].link));
      }
    }
  }
  for (int links : {0, 1, 3}) {
    const DetailPage d = *MakeGbkDetailPage("0123456789abcdef", links);
    const Text text = PageTextOf(Bytes(ToGbk(d.body)), site.pageEncoding, "gbk");
    const std::vector<Text> found = FindMagnetLinks(matcher, text, site);
    ASSERT_EQ(found.size(), d.links.size());
    for (std::size_t i = 0; i < found.size(); ++i)
      EXPECT_EQ(found[i], Gbk(d.links[i]));
  }
}

}  // namespace
}  // namespace mf::demo
