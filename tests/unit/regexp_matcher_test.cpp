#include "support/regexp_matcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/com_apartment.h"
#include "support/encoding.h"

namespace mf {
namespace {

const Text kEntryPattern("href=\"(.*?)\">(.*?)</a></div>");
Text MagnetPattern() {
  return "[磁力下载|迅雷下载]：<a href=\"(.*?)\">"_gbk;
}

TEST(RegExpMatcher, DefaultsIgnoreCaseAndFindEveryMatch) {
  RegExpMatcher matcher;
  EXPECT_TRUE(matcher.Search(Text("a.c"), Text("ABC abc")));
  EXPECT_EQ(matcher.MatchCount(), 2);
  EXPECT_EQ(matcher.MatchText(1), Text("ABC"));
  EXPECT_EQ(matcher.MatchText(2), Text("abc"));

  EXPECT_TRUE(matcher.Search(Text("a.c"), Text("ABC abc"), /*caseSensitive=*/true));
  EXPECT_EQ(matcher.MatchCount(), 1);
  EXPECT_TRUE(matcher.Search(Text("a.c"), Text("ABC abc"), false, true, /*global=*/false));
  EXPECT_EQ(matcher.MatchCount(), 1);
}

TEST(RegExpMatcher, EntryPatternOverAChinesePage) {
  const Text page =
      "<div><a href=\"/a/1\">中文<span class=\"mhl\">电影</span></a></div>"
      "<div><A HREF=\"/a/2\">第二部</A></DIV>\r\n"
      "<div><a href=\"/a/3\">断开\r\n</a></div>\r\n"
      "<div><a href=\"/a/4\">末尾</a></div>"_gbk;
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(kEntryPattern, page));
  ASSERT_EQ(matcher.MatchCount(), 3);
  EXPECT_EQ(matcher.SubMatchCount(), 2);
  EXPECT_EQ(matcher.SubMatchText(1, 1), Text("/a/1"));
  EXPECT_EQ(matcher.SubMatchText(1, 2), "中文<span class=\"mhl\">电影</span>"_gbk);
  EXPECT_EQ(matcher.SubMatchText(2, 1), Text("/a/2"));
  EXPECT_EQ(matcher.SubMatchText(2, 2), "第二部"_gbk);
  EXPECT_EQ(matcher.SubMatchText(3, 1), Text("/a/4"));
  EXPECT_EQ(matcher.SubMatchText(3, 2), "末尾"_gbk);
}

TEST(RegExpMatcher, MagnetPatternNeedsALabelCharacterAndTheFullWidthColon) {
  const Text page =
      "<p>磁力下载：<a href=\"magnet:?xt=urn:btih:1&amp;dn=x\">1</a></p>\n"
      "<p>迅雷下载:<a href=\"thunder://plain-colon\">2</a></p>\n"
      "<p>下载地址：<a href=\"magnet:?xt=urn:btih:3\">3</a></p>\n"
      "<p>迅雷下载：<a href=\"thunder://4\">4</a></p>\n"_gbk;
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(MagnetPattern(), page));
  ASSERT_EQ(matcher.MatchCount(), 2);
  EXPECT_EQ(matcher.SubMatchText(1, 1), Text("magnet:?xt=urn:btih:1&amp;dn=x"));
  EXPECT_EQ(matcher.SubMatchText(2, 1), Text("thunder://4"));
  EXPECT_EQ(matcher.MatchText(1), "载：<a href=\"magnet:?xt=urn:btih:1&amp;dn=x\">"_gbk);
}

// A class of Chinese characters matches whole characters: a byte-wise engine would match the
// second byte of 中 (0xD6 0xD0) against the first byte of 行 (0xD0 0xD0).
TEST(RegExpMatcher, ChineseTextComesBackInWholeCharacters) {
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search("([行]+)(.)"_gbk, "中行行银"_gbk));
  ASSERT_EQ(matcher.MatchCount(), 1);
  EXPECT_EQ(matcher.SubMatchText(1, 1), "行行"_gbk);
  EXPECT_EQ(matcher.SubMatchText(1, 2), "银"_gbk);
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(matcher.MatchText(1))), "行行银"_gbk);
}

TEST(RegExpMatcher, FailedSearchForgetsThePreviousMatches) {
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(Text("\\d"), Text("1 2 3")));
  ASSERT_EQ(matcher.MatchCount(), 3);
  EXPECT_FALSE(matcher.Search(Text("(\\d"), Text("1 2 3")));
  EXPECT_TRUE(ComIsEmpty(matcher.matchCollection));
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.MatchText(1), Text());
  EXPECT_EQ(matcher.SubMatchCount(), 0);
  EXPECT_EQ(matcher.ReplaceMatches(Text("x")), Text());
  EXPECT_EQ(matcher.PatternText(), Text("(\\d"));
}

TEST(RegExpMatcher, EmptySubjectGivesAnEmptyCollection) {
  RegExpMatcher matcher;
  EXPECT_TRUE(matcher.Search(kEntryPattern, Text()));
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.SubMatchCount(), 0);
}

TEST(RegExpMatcher, NumbersOutOfRangeGiveEmptyText) {
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(Text("(a)(x)?"), Text("a a")));
  ASSERT_EQ(matcher.MatchCount(), 2);
  EXPECT_EQ(matcher.SubMatchText(1, 1), Text("a"));
  EXPECT_EQ(matcher.SubMatchText(3, 1), Text());
  EXPECT_EQ(matcher.SubMatchText(0, 1), Text());
  EXPECT_EQ(matcher.SubMatchText(1, 0), Text());
  EXPECT_EQ(matcher.SubMatchText(1, 3), Text());
  EXPECT_EQ(matcher.SubMatchText(1, 2), Text());  // took no part
  EXPECT_EQ(matcher.MatchText(3), Text());
  EXPECT_EQ(matcher.MatchText(INT32_MIN), Text());
}

TEST(RegExpMatcher, NothingBeforeTheFirstSearch) {
  RegExpMatcher matcher;
  EXPECT_EQ(matcher.MatchCount(), 0);
  EXPECT_EQ(matcher.MatchText(1), Text());
  EXPECT_EQ(matcher.PatternText(), Text());
  EXPECT_EQ(matcher.ReplaceMatches(), Text());
}

TEST(RegExpMatcher, QuoteMarkerStandsForADoubleQuoteOnlyWhenAsked) {
  const Text pattern = "href=#引号(.*?)#引号"_gbk;
  const Text subject("<a href=\"/x\">");
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(pattern, subject, false, true, true, /*quoteMarker=*/true));
  EXPECT_EQ(matcher.PatternText(), Text("href=\"(.*?)\""));
  ASSERT_EQ(matcher.MatchCount(), 1);
  EXPECT_EQ(matcher.SubMatchText(1, 1), Text("/x"));

  ASSERT_TRUE(matcher.Search(pattern, subject));
  EXPECT_EQ(matcher.PatternText(), pattern);
  EXPECT_EQ(matcher.MatchCount(), 0);
}

TEST(RegExpMatcher, AnchorsFollowTheMultilineOption) {
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(Text("^\\w+$"), Text("one\r\ntwo")));
  EXPECT_EQ(matcher.MatchCount(), 2);
  ASSERT_TRUE(matcher.Search(Text("^\\w+$"), Text("one\r\ntwo"), false, /*multiline=*/false));
  EXPECT_EQ(matcher.MatchCount(), 0);
}

TEST(RegExpMatcher, ReplaceMatchesUsesTheObjectsReplacementRules) {
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search("(中)(文)"_gbk, "中文和中文"_gbk));
  EXPECT_EQ(matcher.ReplaceMatches("$2$1"_gbk), "文中和文中"_gbk);
  EXPECT_EQ(matcher.ReplaceMatches(), "和"_gbk);
  ASSERT_TRUE(matcher.Search("(中)(文)"_gbk, "中文和中文"_gbk, false, true, /*global=*/false));
  EXPECT_EQ(matcher.ReplaceMatches(Text("[$&]")), "[中文]和中文"_gbk);
}

// Positions are byte offsets in the subject, also after Chinese text (one UTF-16 unit, two
// bytes each), where a search from the unit index would find an earlier occurrence.
TEST(RegExpMatcher, PositionsAreByteOffsetsOfTheFoundText) {
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(Text("ab(c?)"), "中中中ab ab"_gbk));
  ASSERT_EQ(matcher.MatchCount(), 2);
  std::int32_t position = -99;
  EXPECT_EQ(matcher.MatchText(1, &position), Text("ab"));
  EXPECT_EQ(position, 6);
  EXPECT_EQ(matcher.MatchText(2, &position), Text("ab"));
  EXPECT_EQ(position, 9);

  ASSERT_TRUE(matcher.Search(Text("=(x+)"), "中x=xx"_gbk));
  EXPECT_EQ(matcher.SubMatchText(1, 1, &position), Text("xx"));
  EXPECT_EQ(position, 4);
  EXPECT_EQ(matcher.MatchText(2, &position), Text());
  EXPECT_EQ(position, -2);
}

TEST(RegExpMatcher, CopySharesTheResultsAndKeepsThemAfterTheOriginalMovesOn) {
  const int depth = platform::ComApartmentDepth();
  {
    RegExpMatcher original;
    ASSERT_TRUE(original.Search(Text("\\d+"), Text("12 34")));
    RegExpMatcher copy(original);
    EXPECT_EQ(copy.expressionObject.object(), original.expressionObject.object());
    ASSERT_TRUE(original.Search(Text("x"), Text("y")));
    EXPECT_EQ(copy.MatchCount(), 2);
    EXPECT_EQ(copy.MatchText(2), Text("34"));
    EXPECT_EQ(copy.ReplaceMatches(Text("#")), Text("# #"));

    RegExpMatcher assigned;
    assigned = original;
    EXPECT_EQ(assigned.PatternText(), Text("x"));
    EXPECT_EQ(assigned.MatchCount(), 0);
    EXPECT_EQ(platform::ComApartmentDepth(), depth + 3);
  }
  EXPECT_EQ(platform::ComApartmentDepth(), depth);
}

// Groups come back right whatever order matches are read in, also while a copy that shares the
// results reads them on another thread.
TEST(RegExpMatcher, GroupsReadInAnyOrderAlsoFromTwoThreads) {
  std::string lines;
  for (int i = 1; i <= 50; ++i) {
    lines += "<div><a href=\"/" + std::to_string(i) + "\">t" + std::to_string(i) + "</a></div>\n";
  }
  RegExpMatcher matcher;
  ASSERT_TRUE(matcher.Search(kEntryPattern, Text(lines)));
  ASSERT_EQ(matcher.MatchCount(), 50);
  auto readAll = [](const RegExpMatcher& reader, int stride, int* correct) {
    for (int round = 0; round < 20; ++round) {
      for (int step = 0; step < 50; ++step) {
        const int n = (step * stride) % 50 + 1;
        const std::string number = std::to_string(n);
        const int k = step % 2 + 1;
        const Text expected(k == 1 ? "/" + number : "t" + number);
        if (reader.SubMatchText(n, k) == expected) {
          ++*correct;
        }
      }
    }
  };
  int correct[2] = {0, 0};
  std::thread other([&] {
    const RegExpMatcher copy(matcher);
    readAll(copy, 7, &correct[1]);
  });
  readAll(matcher, 13, &correct[0]);
  other.join();
  EXPECT_EQ(correct[0], 1000);
  EXPECT_EQ(correct[1], 1000);
  EXPECT_EQ(matcher.SubMatchText(3, 2), Text("t3"));
  EXPECT_EQ(matcher.SubMatchText(3, 1), Text("/3"));
  EXPECT_EQ(matcher.SubMatchText(1, 2), Text("t1"));
}

// The search worker and magnet threads each search with an instance of their own at the same
// time; they share only the object's class information and must not disturb each other.
TEST(RegExpMatcher, InstancesOnSeveralThreadsSearchIndependently) {
  auto searchMany = [](int id, int* correct) {
    RegExpMatcher matcher;
    const Text link("/" + std::to_string(id));
    const Text page = "<div><a href=\""_gbk + link + "\">标题</a></div>\n"_gbk;
    for (int i = 0; i < 200; ++i) {
      if (matcher.Search(kEntryPattern, page) && matcher.MatchCount() == 1 &&
          matcher.SubMatchText(1, 1) == link && matcher.SubMatchText(1, 2) == "标题"_gbk) {
        ++*correct;
      }
    }
  };
  int correct[2] = {0, 0};
  std::thread first(searchMany, 1, &correct[0]);
  std::thread second(searchMany, 2, &correct[1]);
  first.join();
  second.join();
  EXPECT_EQ(correct[0], 200);
  EXPECT_EQ(correct[1], 200);
}

// A runaway pattern over a long line must fail the search, not hang the calling worker.
TEST(RegExpMatcher, RunawaySearchOverAHostileLineFails) {
  std::string line;
  while (line.size() < 2 * 1024 * 1024) {
    line += "<div><a href=\"/a\">\xB1\xEA\xCC\xE2";  // 标题
  }
  const Text subject(line);
  RegExpMatcher matcher;
  const auto started = std::chrono::steady_clock::now();
  const bool found = matcher.Search(Text("(?:<a href=\"(.*?)\">(.*?))*?</a></div>"), subject);
  std::printf("runaway search over a 2 MB line: returned after %.1f ms\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
                  .count());
  EXPECT_FALSE(found);
  EXPECT_EQ(matcher.MatchCount(), 0);

  EXPECT_TRUE(matcher.Search(kEntryPattern, subject));  // the plain entry pattern: no entry
  EXPECT_EQ(matcher.MatchCount(), 0);
}

}  // namespace
}  // namespace mf
