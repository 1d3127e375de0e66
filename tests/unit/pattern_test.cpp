#include "support/pattern.h"

#include <gtest/gtest.h>

#include <string>

#include "text_printing.h"

namespace mf {
namespace {

const Text kMarkup("<span class=\"mhl\">|</span>|<span class=\".*?</script>");

// Removes the markup as the result-page scraper does.
Text StripMarkup(const regex& pattern, const Text& title) {
  return pattern.Replace(title, Text(), 1, std::nullopt, true, true);
}

class MarkupPattern : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pattern_.Compile(kMarkup)); }
  regex pattern_;
};

TEST_F(MarkupPattern, RemovesHighlightSpans) {
  EXPECT_EQ(StripMarkup(pattern_, Text("a<span class=\"mhl\">b</span>c")), Text("abc"));
  EXPECT_EQ(StripMarkup(pattern_, "<span class=\"mhl\">中文</span>字幕"_gbk), "中文字幕"_gbk);
  EXPECT_EQ(StripMarkup(pattern_, Text("plain")), Text("plain"));
}

TEST_F(MarkupPattern, RemovesOtherSpansUpToTheNearestScriptEnd) {
  EXPECT_EQ(StripMarkup(pattern_, Text("x<span class=\"t\">y</script>z")), Text("xz"));
  EXPECT_EQ(StripMarkup(pattern_, Text("x<span class=\"t\">y</script>z</script>w")),
            Text("xz</script>w"));
  // "." takes line breaks too.
  EXPECT_EQ(StripMarkup(pattern_, Text("x<span class=\"t\">\r\ny</script>z")), Text("xz"));
  EXPECT_EQ(StripMarkup(pattern_, Text("x<span class=\"t\">y")), Text("x<span class=\"t\">y"));
  // The first alternative that fits wins: a highlight span is not swallowed up to a script end.
  EXPECT_EQ(StripMarkup(pattern_, Text("<span class=\"mhl\">a</span><span class=\"u\">b</script>")),
            Text("a"));
}

TEST_F(MarkupPattern, StartAndLengthSelectThePieceThatIsReturned) {
  const Text abcdef("abcdef");
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 3, std::nullopt, true, true), Text("cdef"));
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 2, 3, true, true), Text("bcd"));
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 6, 1, true, true), Text("f"));
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 0, std::nullopt, true, true), Text());
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 7, std::nullopt, true, true), Text());
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 1, 7, true, true), Text());
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 1, -1, true, true), Text());
  EXPECT_EQ(pattern_.Replace(abcdef, Text(), 2, 2147483647, true, true), Text());
  EXPECT_EQ(pattern_.Replace(Text(), Text(), 1, std::nullopt, true, true), Text());
}

TEST(Pattern, FormatFlags) {
  regex pattern;
  ASSERT_TRUE(pattern.Compile(Text("(\\d)")));
  const Text subject("a1b2c");
  EXPECT_EQ(pattern.Replace(subject, Text(), 1, std::nullopt, false, true), Text());
  EXPECT_EQ(pattern.Replace(subject, Text("<$1>"), 1, std::nullopt, false, true), Text("<1><2>"));
  EXPECT_EQ(pattern.Replace(subject, Text("#"), 1, std::nullopt, true, false), Text("a#b2c"));
  EXPECT_EQ(pattern.Replace(subject, Text("#"), 1, std::nullopt, false, false), Text("#"));
  EXPECT_EQ(pattern.Replace(subject, Text("(?1[$1])"), 1, std::nullopt, true, true),
            Text("a[1]b[2]c"));  // the extended format syntax applies
}

TEST(Pattern, LinesAnchorsAndCase) {
  regex pattern;
  ASSERT_TRUE(pattern.Compile(Text("^x")));
  EXPECT_EQ(pattern.Replace(Text("x\nx"), Text("y"), 1, std::nullopt, true, true), Text("y\ny"));
  ASSERT_TRUE(pattern.Compile(Text("abc")));
  EXPECT_EQ(pattern.Replace(Text("ABC"), Text("-"), 1, std::nullopt, true, true), Text("ABC"));
  ASSERT_TRUE(pattern.Compile(Text("abc"), false));
  EXPECT_EQ(pattern.Replace(Text("ABC"), Text("-"), 1, std::nullopt, true, true), Text("-"));
}

TEST(Pattern, RejectedPatternKeepsThePreviousOne) {
  regex pattern;
  EXPECT_EQ(pattern.Replace(Text("abc"), Text("-"), 1, std::nullopt, true, true), Text());
  EXPECT_FALSE(pattern.Compile(Text("(")));
  EXPECT_EQ(pattern.Replace(Text("abc"), Text("-"), 1, std::nullopt, true, true), Text());
  ASSERT_TRUE(pattern.Compile(Text("b")));
  EXPECT_FALSE(pattern.Compile(Text("a(b")));
  EXPECT_EQ(pattern.Replace(Text("abc"), Text("-"), 1, std::nullopt, true, true), Text("a-c"));
}

TEST(Pattern, AMatchTooComplexGivesTheEmptyText) {
  regex pattern;
  ASSERT_TRUE(pattern.Compile(Text("(x+x+)+y")));
  EXPECT_EQ(pattern.Replace(Text(std::string(64, 'x')), Text(), 1, std::nullopt, true, true),
            Text());
}

}  // namespace
}  // namespace mf
