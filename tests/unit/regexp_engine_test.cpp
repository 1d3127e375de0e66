#include "platform/regexp_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace mf::platform {
namespace {

const std::u16string kEntryPattern = u"href=\"(.*?)\">(.*?)</a></div>";
const std::u16string kMagnetPattern = u"[磁力下载|迅雷下载]：<a href=\"(.*?)\">";

RegExpEngine MakeEngine(std::u16string pattern, bool ignoreCase = true, bool multiline = true,
                        bool global = true) {
  RegExpEngine engine;
  engine.SetPattern(std::move(pattern));
  engine.SetIgnoreCase(ignoreCase);
  engine.SetMultiline(multiline);
  engine.SetGlobal(global);
  return engine;
}

std::vector<std::u16string> Values(const RegExpMatches& matches) {
  std::vector<std::u16string> values;
  for (std::size_t i = 0; i < matches.Count(); ++i) {
    values.emplace_back(matches.Value(i));
  }
  return values;
}

std::vector<std::size_t> Indexes(const RegExpMatches& matches) {
  std::vector<std::size_t> indexes;
  for (std::size_t i = 0; i < matches.Count(); ++i) {
    indexes.push_back(matches.FirstIndex(i));
  }
  return indexes;
}

TEST(RegExpEngine, EntryPatternFindsEveryEntryOfALineInOrder) {
  RegExpEngine engine = MakeEngine(kEntryPattern);
  auto matches = engine.Execute(
      u"<div><a href=\"/a/1\">中文<span class=\"mhl\">电影</span></a></div>"
      u"<div><a href=\"/a/2\">第二</a></div>\n");
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 2u);
  EXPECT_EQ(matches->GroupCount(), 2u);
  EXPECT_EQ(*matches->Group(0, 1), u"/a/1");
  EXPECT_EQ(*matches->Group(0, 2), u"中文<span class=\"mhl\">电影</span>");
  EXPECT_EQ(*matches->Group(1, 1), u"/a/2");
  EXPECT_EQ(*matches->Group(1, 2), u"第二");
}

// A compiled pattern is kept for the process and matched by many engines on many threads at
// once; each keeps its own results, and the same pattern with other options is another pattern.
TEST(RegExpEngine, EnginesOnManyThreadsShareACompiledPattern) {
  std::vector<std::thread> threads;
  std::vector<std::size_t> counts(4);
  for (std::size_t t = 0; t < counts.size(); ++t) {
    threads.emplace_back([t, &counts] {
      std::u16string page;
      for (std::size_t i = 0; i <= t; ++i) {
        page += u"<div><a href=\"/d\">x</a></div>\n";
      }
      for (int round = 0; round < 200; ++round) {
        RegExpEngine engine = MakeEngine(kEntryPattern);
        const auto matches = engine.Execute(page);
        counts[t] = matches ? matches->Count() : 0;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(counts, (std::vector<std::size_t>{1, 2, 3, 4}));
  EXPECT_EQ(MakeEngine(u"A", false).Execute(u"a")->Count(), 0u);
  EXPECT_EQ(MakeEngine(u"A", true).Execute(u"a")->Count(), 1u);
}

TEST(RegExpEngine, DotNeverCrossesALineBreak) {
  for (std::u16string lineBreak : {u"\n", u"\r", u"\r\n"}) {
    RegExpEngine engine = MakeEngine(kEntryPattern);
    auto matches = engine.Execute(u"<a href=\"/a/1\">标题" + lineBreak + u"</a></div>");
    ASSERT_TRUE(matches);
    EXPECT_EQ(matches->Count(), 0u);
  }
  RegExpEngine engine = MakeEngine(u"a.c");
  auto matches = engine.Execute(u"a\u2028c");  // only \r and \n break lines
  ASSERT_TRUE(matches);
  EXPECT_EQ(matches->Count(), 1u);
}

TEST(RegExpEngine, IgnoreCaseFoldsAsciiAndOtherScripts) {
  RegExpEngine caseless = MakeEngine(kEntryPattern);
  auto matches = caseless.Execute(u"<A HREF=\"/x\">T</A></DIV>");
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 1u);
  EXPECT_EQ(*matches->Group(0, 1), u"/x");

  RegExpEngine exact = MakeEngine(kEntryPattern, /*ignoreCase=*/false);
  EXPECT_EQ(exact.Execute(u"<A HREF=\"/x\">T</A></DIV>")->Count(), 0u);

  RegExpEngine greek = MakeEngine(u"ΣΟΦΊΑ ÄÖ");
  EXPECT_EQ(greek.Test(u"σοφία äö"), true);
}

TEST(RegExpEngine, MagnetPatternClassIsOneCharacterAndNeedsTheFullWidthColon) {
  RegExpEngine engine = MakeEngine(kMagnetPattern);
  auto matches = engine.Execute(
      u"磁力下载：<a href=\"magnet:?xt=1&amp;dn=a\">x</a>\r\n"
      u"迅雷下载:<a href=\"thunder://2\">plain colon</a>\r\n"
      u"|：<a href=\"magnet:?xt=3\">bar</a>");
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 2u);
  EXPECT_EQ(matches->Value(0), u"载：<a href=\"magnet:?xt=1&amp;dn=a\">");
  EXPECT_EQ(matches->FirstIndex(0), 3u);
  EXPECT_EQ(*matches->Group(0, 1), u"magnet:?xt=1&amp;dn=a");
  EXPECT_EQ(*matches->Group(1, 1), u"magnet:?xt=3");
}

TEST(RegExpEngine, IndexesAndLengthsCountUtf16Units) {
  RegExpEngine engine = MakeEngine(u"电影(\\d+)");
  auto matches = engine.Execute(u"中文𝄞电影1080");
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 1u);
  EXPECT_EQ(matches->FirstIndex(0), 4u);  // 中, 文, two units for U+1D11E
  EXPECT_EQ(matches->Length(0), 6u);
}

TEST(RegExpEngine, GroupThatTookNoPartIsNothingAndUnknownGroupsToo) {
  RegExpEngine engine = MakeEngine(u"(a)|(b)");
  auto matches = engine.Execute(u"b");
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 1u);
  EXPECT_FALSE(matches->Group(0, 1));
  EXPECT_EQ(*matches->Group(0, 2), u"b");
  EXPECT_FALSE(matches->Group(0, 3));
}

TEST(RegExpEngine, AnchorsMatchAtLineBreaksOnlyInMultilineMode) {
  const std::u16string subject = u"one\r\ntwo\nthree";
  RegExpEngine multi = MakeEngine(u"^\\w+$");
  EXPECT_EQ(Values(*multi.Execute(subject)),
            (std::vector<std::u16string>{u"one", u"two", u"three"}));
  RegExpEngine single = MakeEngine(u"^\\w+$", true, /*multiline=*/false);
  EXPECT_EQ(single.Execute(subject)->Count(), 0u);
  // Without multi-line mode "$" is the very end, not before a final line break.
  EXPECT_EQ(single.Test(u"three\n"), false);
  EXPECT_EQ(single.Test(u"three"), true);
}

TEST(RegExpEngine, EmptyMatchesAdvanceOneCharacter) {
  RegExpEngine empty = MakeEngine(u"");
  EXPECT_EQ(Indexes(*empty.Execute(u"abc")), (std::vector<std::size_t>{0, 1, 2, 3}));

  // A surrogate pair is stepped over as one character, never split.
  RegExpEngine optional = MakeEngine(u"x*");
  EXPECT_EQ(Indexes(*optional.Execute(u"a𝄞xxb")), (std::vector<std::size_t>{0, 1, 3, 5, 6}));
  EXPECT_EQ(Values(*optional.Execute(u"a𝄞xxb")),
            (std::vector<std::u16string>{u"", u"", u"xx", u"", u""}));
}

TEST(RegExpEngine, LoneSurrogatesAreCharactersAndAreReportedAsThemselves) {
  const std::u16string subject = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
  RegExpEngine dot = MakeEngine(u".");
  auto matches = dot.Execute(subject);
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 4u);
  EXPECT_EQ(matches->Value(1), std::u16string(1, char16_t(0xD800)));
  EXPECT_EQ(matches->Value(3), std::u16string(1, char16_t(0xDC00)));

  RegExpEngine letter = MakeEngine(u"b");
  EXPECT_EQ(Indexes(*letter.Execute(subject)), (std::vector<std::size_t>{2}));
  EXPECT_EQ(letter.Replace(subject, u"[$&]"),
            (std::u16string{u'a', char16_t(0xD800), u'[', u'b', u']', char16_t(0xDC00)}));
}

TEST(RegExpEngine, WithoutGlobalOnlyTheFirstMatchCounts) {
  RegExpEngine engine = MakeEngine(u"\\d", true, true, /*global=*/false);
  EXPECT_EQ(Values(*engine.Execute(u"a1b2")), std::vector<std::u16string>{u"1"});
  EXPECT_EQ(engine.Replace(u"a1b2", u"#"), u"a#b2");
  engine.SetGlobal(true);
  EXPECT_EQ(engine.Replace(u"a1b2", u"#"), u"a#b#");
}

TEST(RegExpEngine, BadPatternFailsAndARepairedPatternWorksAgain) {
  RegExpEngine engine = MakeEngine(u"(unclosed");
  EXPECT_FALSE(engine.Execute(u"unclosed"));
  EXPECT_EQ(engine.LastStatus(), RegExpStatus::kBadPattern);
  EXPECT_FALSE(engine.Replace(u"x", u"y"));
  EXPECT_FALSE(engine.Test(u"x"));
  engine.SetPattern(u"(closed)");
  ASSERT_TRUE(engine.Execute(u"closed"));
  EXPECT_EQ(engine.LastStatus(), RegExpStatus::kOk);
}

TEST(RegExpEngine, ObjectDialectEscapes) {
  EXPECT_EQ(MakeEngine(u"\\u4E2D").Test(u"中"), true);
  EXPECT_EQ(MakeEngine(u"\\x41").Test(u"a"), true);
  EXPECT_EQ(MakeEngine(u"(a)?\\1b").Test(u"b"), true);  // unset group matches empty
  EXPECT_EQ(MakeEngine(u"[]").Test(u"abc"), false);
}

TEST(RegExpEngine, ReplaceExpandsGroupsAndSpecialReferences) {
  RegExpEngine engine = MakeEngine(u"(b)(c)?");
  EXPECT_EQ(engine.Replace(u"abd", u"<$1|$2|$&|$`|$'|$$|$3|$0|$>"), u"a<b||b|a|d|$|$3|$0|$>d");

  RegExpEngine many = MakeEngine(u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)");
  EXPECT_EQ(many.Replace(u"abcdefghij", u"$10,$11,$01"), u"j,a1,a");
  EXPECT_EQ(MakeEngine(u"x").Replace(u"axb", u"$"), u"a$b");
}

TEST(RegExpEngine, ReplaceWithNoMatchGivesTheSubjectAndEmptySubjectWorks) {
  RegExpEngine engine = MakeEngine(u"z");
  EXPECT_EQ(engine.Replace(u"中文", u"x"), u"中文");
  auto matches = engine.Execute(u"");
  ASSERT_TRUE(matches);
  EXPECT_EQ(matches->Count(), 0u);
  EXPECT_EQ(engine.Test(u""), false);
}

TEST(RegExpEngine, MatchesOutliveTheEngineAndShareTheSubject) {
  auto subject = std::make_shared<const std::u16string>(u"a1 b2");
  std::optional<RegExpMatches> matches;
  {
    RegExpEngine engine = MakeEngine(u"(\\w)(\\d)");
    matches = engine.Execute(subject);
  }
  ASSERT_TRUE(matches);
  EXPECT_EQ(matches->Subject().get(), subject.get());
  EXPECT_EQ(*matches->Group(1, 1), u"b");
}

double MillisecondsSince(std::chrono::steady_clock::time_point started) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
      .count();
}

// One 2 MB line (1 M units) of entry openings whose closing text never comes.
std::u16string UnclosedLine() {
  std::u16string line;
  while (line.size() < 1024 * 1024) {
    line += u"<div><a href=\"/a\">标题";
  }
  return line;
}

// The entry pattern over a long line without its closing text: the search must come back, with
// the right answer (no entry) or a failure, never hang.
TEST(RegExpEngine, UnclosedEntryLineComesBack) {
  const std::u16string line = UnclosedLine();
  RegExpEngine engine = MakeEngine(kEntryPattern);
  const auto started = std::chrono::steady_clock::now();
  const auto matches = engine.Execute(line);
  std::printf("entry pattern over an unclosed 2 MB line: %s after %.1f ms\n",
              matches ? "no match" : "failed", MillisecondsSince(started));
  if (matches) {
    EXPECT_EQ(matches->Count(), 0u);
  } else {
    EXPECT_EQ(engine.LastStatus(), RegExpStatus::kMatchLimit);
  }
}

// The bound must not cut short an honest scan: 4 MB of lines without entries, then one entry.
TEST(RegExpEngine, LongPageWithoutRunawayIsSearchedToTheEnd) {
  const std::u16string page =
      UnclosedLine() + u"\n" + UnclosedLine() + u"\n" + u"<div><a href=\"/last\">最后</a></div>";
  RegExpEngine engine = MakeEngine(kEntryPattern);
  auto matches = engine.Execute(page);
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->Count(), 1u);
  EXPECT_EQ(*matches->Group(0, 1), u"/last");
}

// A budget shared by several searches: none starts once it is spent, the matches found before
// are kept, and a search that gives up keeps them too. "." crosses line breaks only when asked.
TEST(RegExpEngine, ABudgetSpentStopsTheSearchesThatShareItAndKeepsWhatWasFound) {
  RegExpEngine engine = MakeEngine(u"<b>(.*?)</b>");
  const auto subject = std::make_shared<const std::u16string>(u"<b>1</b><b>2\n</b>");
  const MatchBudget plenty(std::chrono::seconds(60));
  RegExpEngine::Partial found = engine.ExecuteWithin(subject, plenty);
  EXPECT_EQ(found.status, RegExpStatus::kOk);
  EXPECT_EQ(found.matches.Count(), 1u);
  engine.SetDotAll(true);
  EXPECT_EQ(engine.ExecuteWithin(subject, plenty).matches.Count(), 2u);
  EXPECT_EQ(engine.ReplaceWithin(*subject, u"", plenty), u"");

  const MatchBudget spent(std::chrono::nanoseconds(0));
  found = engine.ExecuteWithin(subject, spent);
  EXPECT_EQ(found.status, RegExpStatus::kBudgetSpent);
  EXPECT_EQ(found.matches.Count(), 0u);
  EXPECT_FALSE(engine.ReplaceWithin(*subject, u"", spent));
  EXPECT_EQ(engine.LastStatus(), RegExpStatus::kBudgetSpent);

  // A budget is processor time: spent once the thread has used it up, not before.
  const auto processorTime = [] {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
  };
  const auto startedAt = processorTime();
  const MatchBudget brief(std::chrono::milliseconds(20));
  const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!brief.Spent() && std::chrono::steady_clock::now() < giveUpAt) {
  }
  EXPECT_TRUE(brief.Spent());
  EXPECT_GE(processorTime() - startedAt, std::chrono::milliseconds(20));

  // The first match found, then a runaway search over the rest: the first is kept.
  RegExpEngine runaway = MakeEngine(u"x|(?:a|aa)+$", false, false);
  found = runaway.ExecuteWithin(
      std::make_shared<const std::u16string>(u"x" + std::u16string(40, u'a') + u"!"), plenty);
  EXPECT_EQ(found.status, RegExpStatus::kMatchLimit);
  EXPECT_EQ(found.matches.Count(), 1u);
}

// A lazy pattern with a repeated group backtracks without end over the same line unless the
// search is bounded. It must fail (not claim "no match") and leave the engine usable.
TEST(RegExpEngine, RunawaySearchFailsInsteadOfHanging) {
  const std::u16string line = UnclosedLine();
  RegExpEngine engine = MakeEngine(u"(?:<a href=\"(.*?)\">(.*?))*?</a></div>");
  const auto started = std::chrono::steady_clock::now();
  const auto matches = engine.Execute(line);
  std::printf("runaway search over a 2 MB line: failed after %.1f ms\n",
              MillisecondsSince(started));
  EXPECT_FALSE(matches);
  EXPECT_EQ(engine.LastStatus(), RegExpStatus::kMatchLimit);
  EXPECT_FALSE(engine.Replace(line, u""));
  EXPECT_FALSE(engine.Test(line));

  auto closed = engine.Execute(u"<a href=\"/a\">t</a></div>");
  ASSERT_TRUE(closed);
  EXPECT_EQ(closed->Count(), 1u);
}

}  // namespace
}  // namespace mf::platform
