#include "support/encoding.h"

#include <gtest/gtest.h>

namespace mf {
namespace {

Text Raw(std::string_view bytes) {
  return Text(bytes);
}

TEST(UrlEncode, EscapesEveryByteAsTwoUpperCaseDigits) {
  EXPECT_EQ(UrlEncode(Text()), Text());
  EXPECT_EQ(UrlEncode(Text(), true, true), Text());
  EXPECT_EQ(UrlEncode(Text("abc"), false, true), Text("%61%62%63"));
  EXPECT_EQ(UrlEncode(Text("\n")), Text("%0A"));
  EXPECT_EQ(UrlEncode(Text("a b/c"), false, true), Text("%61%20%62%2F%63"));
}

TEST(UrlEncode, ConvertsToUtf8OnlyWhenAsked) {
  const Text zhong = Raw("\xD6\xD0");  // 中 in code page 936
  EXPECT_EQ(UrlEncode(zhong), Text("%D6%D0"));
  EXPECT_EQ(UrlEncode(zhong, false, true), Text("%E4%B8%AD"));
}

TEST(UrlEncode, KeepSafeLeavesLettersDigitsHyphenAndDot) {
  EXPECT_EQ(UrlEncode(Text("A-z.9/_~ "), true, false), Text("A-z.9%2F%5F%7E%20"));
}

TEST(Utf8ToGbk, ConvertsAndReplacesWhatCannotBeConverted) {
  EXPECT_EQ(Utf8ToGbk(Raw("\xE4\xB8\xAD")), Raw("\xD6\xD0"));
  EXPECT_EQ(Utf8ToGbk(Text("plain ascii")), Text("plain ascii"));
  EXPECT_EQ(Utf8ToGbk(Raw("a\xF0\x9F\x98\x80z")), Text("a?z"));  // emoji: not in 936
  EXPECT_EQ(Utf8ToGbk(Raw("a\xFFz")), Text("a?z"));              // invalid UTF-8
  EXPECT_EQ(Utf8ToGbk(Raw("a\xE4\xB8")), Text("a?"));            // truncated sequence
  EXPECT_EQ(Utf8ToGbk(Text()), Text());
}

TEST(GbkToUtf8, LoneLeadByteBecomesReplacementCharacter) {
  EXPECT_EQ(GbkToUtf8(Raw("\xD6\xD0")), Raw("\xE4\xB8\xAD"));
  EXPECT_EQ(GbkToUtf8(Raw("a\x81")), Raw("a\xEF\xBF\xBD"));
}

TEST(DecodeToUtf16, HoldsUnitsAndOneZeroUnit) {
  EXPECT_EQ(DecodeToUtf16(Text("ab")), Bytes(std::string_view("a\0b\0\0\0", 6)));
  EXPECT_EQ(DecodeToUtf16(Text()), Bytes());
  EXPECT_EQ(DecodeToUtf16(Raw("\xD6\xD0"), 936), Bytes(std::string_view("\x2D\x4E\0\0", 4)));
}

TEST(EncodeFromUtf16, StopsAtFirstZeroUnitAndNeverReadsPastTheEnd) {
  EXPECT_EQ(EncodeFromUtf16(Bytes(std::string_view("a\0b\0\0\0c\0", 8))), Text("ab"));
  EXPECT_EQ(EncodeFromUtf16(Bytes(std::string_view("a\0b\0", 4))), Text("ab"));
  EXPECT_EQ(EncodeFromUtf16(Bytes(std::string_view("a\0b", 3))), Text("a"));
  EXPECT_EQ(EncodeFromUtf16(Bytes()), Text());
  EXPECT_EQ(EncodeFromUtf16(Bytes(std::string_view("\x2D\x4E\0\0", 4)), 65001),
            Raw("\xE4\xB8\xAD"));
}

// ASCII takes a shortcut past the converter; everything else goes through it in one pass.
TEST(AnsiUtf16, AsciiMixedAndLongTextConvertBothWays) {
  EXPECT_EQ(AnsiToUtf16(Text("Item")), u"Item");
  EXPECT_EQ(Utf16ToAnsi(u"Item\x7F"), Text("Item\x7F"));
  EXPECT_EQ(AnsiToUtf16(Raw("a\xD6\xD0\x80")), u"a中€");  // 0x80 is the euro sign in 936
  EXPECT_EQ(Utf16ToAnsi(u"a中€"), Raw("a\xD6\xD0\x80"));
  EXPECT_EQ(Utf16ToAnsi(u"a\U0001F600z"), Text("a?z"));
  std::string longText;
  for (int i = 0; i < 100000; ++i) {
    longText += "\xD6\xD0x";
  }
  const std::u16string units = AnsiToUtf16(Raw(longText));
  EXPECT_EQ(units.size(), 200000u);
  EXPECT_EQ(Utf16ToAnsi(units), Raw(longText));
}

// A site's UTF-8 text: well-formed text passes unchanged, in every script; a byte that starts no
// character, a truncated, overlong or surrogate sequence becomes U+FFFD, and nothing else.
TEST(SiteUtf8, WellFormedTextStaysAndEveryBadByteBecomesTheReplacementCharacter) {
  for (const char* kept : {"", "ascii", "Björk ß ñ", "한국어 🎬", "葬送のフリーレン"}) {
    EXPECT_EQ(WellFormedUtf8(Text(kept)), Text(kept)) << kept;
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(Text(kept))), Text(kept)) << kept;
  }
  const std::pair<const char*, const char*> repaired[] = {
      {"a\x9b b", "a\uFFFD b"},                  // a lone continuation byte (CSI to some terminals)
      {"a\xc3", "a\uFFFD"},                      // a character cut short at the end
      {"\xc0\xafx", "\uFFFD\uFFFDx"},            // an overlong "/"
      {"\xed\xa0\x80y", "\uFFFD\uFFFD\uFFFDy"},  // a surrogate
      {"\xf4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
  };
  for (const auto& [bad, good] : repaired) {
    EXPECT_EQ(WellFormedUtf8(Text(bad)), Text(good)) << bad;
  }
  EXPECT_EQ(Utf8ToUtf16(Text("한🎬")), u"한🎬");
  EXPECT_EQ(PercentEncodedNonAscii(Text("/t/한 a?b=ö")), Text("/t/%ED%95%9C a?b=%C3%B6"));
}

TEST(GbkLiteral, ConvertsTheUtf8SourceLiteral) {
  EXPECT_EQ("中"_gbk, Raw("\xD6\xD0"));
  EXPECT_EQ("解析完毕"_gbk, Utf8ToGbk(Text("解析完毕")));
  EXPECT_EQ("abc"_gbk, Text("abc"));
}

// Every two-byte character that code page 936 defines survives the trip to UTF-8 and back.
TEST(GbkRoundTrip, EveryDoubleByteCharacter) {
  int defined = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) {
        continue;
      }
      const char pair[] = {static_cast<char>(lead), static_cast<char>(trail)};
      const Text gbk = Raw(std::string_view(pair, 2));
      const Text utf8 = GbkToUtf8(gbk);
      if (utf8 == Raw("\xEF\xBF\xBD")) {
        continue;  // not a character of the code page
      }
      ++defined;
      ASSERT_EQ(Utf8ToGbk(utf8), gbk) << std::hex << lead << ' ' << trail;
    }
  }
  EXPECT_GE(defined, 21886);  // the GBK repertoire, without the user-defined areas
}

}  // namespace
}  // namespace mf
