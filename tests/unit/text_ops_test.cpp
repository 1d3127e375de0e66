#include "support/text_ops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "text_printing.h"

namespace mf {
namespace {

Text Raw(std::string_view bytes) {
  return Text(bytes);
}

std::vector<Text> Texts(std::initializer_list<const char*> items) {
  std::vector<Text> result;
  for (const char* item : items) {
    result.emplace_back(item);
  }
  return result;
}

TEST(ByteSlicing, CountsBytesAndClampsToTheText) {
  const Text abcdef("abcdef");
  EXPECT_EQ(TextLength(Text()), 0);
  EXPECT_EQ(TextLength("中文"_gbk), 4);
  EXPECT_EQ(LeftText(abcdef, 2), Text("ab"));
  EXPECT_EQ(LeftText(abcdef, 99), abcdef);
  EXPECT_EQ(LeftText(abcdef, 0), Text());
  EXPECT_EQ(LeftText(abcdef, -1), Text());
  EXPECT_EQ(RightText(abcdef, 2), Text("ef"));
  EXPECT_EQ(RightText(abcdef, 99), abcdef);
  EXPECT_EQ(RightText(abcdef, -3), Text());
  EXPECT_EQ(MidText(abcdef, 3, 2), Text("cd"));
  EXPECT_EQ(MidText(abcdef, 6, 5), Text("f"));
  EXPECT_EQ(MidText(abcdef, 7, 1), Text());
  EXPECT_EQ(MidText(abcdef, 0, 3), Text());
  EXPECT_EQ(MidText(abcdef, 2, 0), Text());
  EXPECT_EQ(LeftText("中文"_gbk, 3), Raw("\xD6\xD0\xCE"));  // may cut a character
}

TEST(FindText, PositionsStartAndCase) {
  const Text abc("abc");
  EXPECT_EQ(FindText(abc, Text("c")), 3);
  EXPECT_EQ(FindText(abc, Text("C")), -1);
  EXPECT_EQ(FindText(abc, Text("C"), 1, true), 3);
  EXPECT_EQ(FindText(abc, Text("d")), -1);
  EXPECT_EQ(FindText(abc, Text("c"), 4), -1);
  EXPECT_EQ(FindText(abc, Text("a"), 0), 1);
  EXPECT_EQ(FindText(abc, Text("a"), -5), 1);
  EXPECT_EQ(FindText(abc, Text("a"), 2), -1);
  EXPECT_EQ(FindText(Text("abab"), Text("ab"), 2), 3);
  EXPECT_EQ(FindText(abc, Text("abcd")), -1);
  EXPECT_EQ(FindText(Text("x[Y]"), Text("[y]"), 1, true), 2);
  EXPECT_EQ(FindText(Text("x[Y]"), Text("{y}"), 1, true), -1);  // only letters fold
}

TEST(FindText, EmptyNeedleIsFoundAtOneWhileTextRemains) {
  const Text abc("abc");
  EXPECT_EQ(FindText(abc, Text()), 1);
  EXPECT_EQ(FindText(abc, Text(), 3), 1);
  EXPECT_EQ(FindText(abc, Text(), 4), -1);
  EXPECT_EQ(FindText(Text(), Text()), -1);
  EXPECT_EQ(FindText(Text(), Text("a")), -1);
}

TEST(FindText, NeverMatchesOnTheSecondByteOfACharacter) {
  EXPECT_EQ(FindText(Raw("\xD6\xD0"
                         "a"),
                     Raw("\xD0")),
            -1);
  // 0x81 0x40 is one character whose trail byte is "@".
  EXPECT_EQ(FindText(Raw("\x81@@"), Text("@")), 3);
  EXPECT_EQ(FindText(Raw("\x81\x81\x81\x81"), Raw("\x81\x81")), 1);
  EXPECT_EQ(FindText(Raw("\x81\x81\x81\x81"), Raw("\x81\x81"), 2), 2);  // start may be mid-char
  EXPECT_EQ(FindText(Raw("a\x81\x81\x81\x81"), Raw("\x81\x81"), 3), 3);
  EXPECT_EQ(FindText(Raw("\xB0\xA1\xA1"), Raw("\xA1")), 3);  // lone lead at the end still compared
}

// Transcribes the character-stepping scan byte by byte, as the reference for the fast search.
int ReferenceFind(std::string_view text, std::string_view needle, int start, bool ignoreCase) {
  std::size_t i = start < 1 ? 0 : start - 1;
  if (i >= text.size()) {
    return -1;
  }
  if (needle.empty()) {
    return 1;
  }
  auto fold = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; };
  while (text.size() - i >= needle.size()) {
    bool equal = true;
    for (std::size_t k = 0; k < needle.size() && equal; ++k) {
      const unsigned char a = text[i + k], b = needle[k];
      equal = ignoreCase ? fold(a) == fold(b) : a == b;
    }
    if (equal) {
      return static_cast<int>(i + 1);
    }
    i += static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
    if (i > text.size()) {
      break;
    }
  }
  return -1;
}

std::string RandomBytes(std::mt19937& random, std::size_t maxLength) {
  static constexpr char kAlphabet[] = {'a', 'A', '@', ',', '\x81', '\xA1', '\xD6'};
  std::string bytes(random() % (maxLength + 1), ' ');
  for (char& byte : bytes) {
    byte = kAlphabet[random() % sizeof kAlphabet];
  }
  return bytes;
}

TEST(FindText, AgreesWithTheCharacterScanOnRandomTexts) {
  std::mt19937 random(936);
  for (int round = 0; round < 20000; ++round) {
    const std::string text = RandomBytes(random, 24);
    const std::string needle = RandomBytes(random, 3);
    const int start = static_cast<int>(random() % 28) - 2;
    const bool ignoreCase = random() % 2 == 0;
    ASSERT_EQ(FindText(Raw(text), Raw(needle), start, ignoreCase),
              ReferenceFind(text, needle, start, ignoreCase))
        << "text " << testing::PrintToString(text) << " needle " << testing::PrintToString(needle)
        << " start " << start;
  }
}

// Transcribes the replacement scan character by character, as the reference for the fast one.
std::string ReferenceReplace(std::string_view text, std::string_view old, std::string_view with,
                             int start, int count) {
  std::size_t i = start < 1 ? 0 : start - 1;
  if (text.empty() || old.empty() || i >= text.size() || count == 0) {
    return std::string(text);
  }
  std::string result(text.substr(0, i));
  for (int done = 0; i < text.size();) {
    if ((count > 0 && done == count) || text.size() - i < old.size()) {
      result += text.substr(i);
      break;
    }
    if (ReferenceFind(text.substr(i, old.size()), old, 1, false) == 1) {
      result += with;
      i += old.size();
      ++done;
    } else if (static_cast<unsigned char>(text[i]) < 0x80) {
      result += text[i++];
    } else if (i + 1 < text.size()) {
      result += text.substr(i, 2);
      i += 2;
    } else {
      break;  // a lone lead byte at the end is left out
    }
  }
  return result;
}

TEST(ReplaceSubtext, AgreesWithTheCharacterScanOnRandomTexts) {
  std::mt19937 random(65001);
  for (int round = 0; round < 20000; ++round) {
    const std::string text = RandomBytes(random, 16);
    const std::string old = RandomBytes(random, 2);
    const int start = static_cast<int>(random() % 20) - 2;
    const int count = static_cast<int>(random() % 4) - 1;
    ASSERT_EQ(ReplaceSubtext(Raw(text), Raw(old), Text("+"), start, count, true),
              Raw(ReferenceReplace(text, old, "+", start, count)))
        << "text " << testing::PrintToString(text) << " old " << testing::PrintToString(old)
        << " start " << start << " count " << count;
  }
}

TEST(ReplaceSubtext, CaseStartAndCount) {
  const Text header("Set-cookie: a");
  EXPECT_EQ(ReplaceSubtext(header, Text("set-COOKIE"), Text("Set-Cookie"), 1, std::nullopt, false),
            Text("Set-Cookie: a"));
  EXPECT_EQ(ReplaceSubtext(header, Text("set-COOKIE"), Text("Set-Cookie"), 1, std::nullopt, true),
            header);
  EXPECT_EQ(ReplaceSubtext(Text("aA"), Text("a"), Text("b")), Text("bb"));  // omitted: ignores case
  EXPECT_EQ(ReplaceSubtext(Text("aaa"), Text("aa"), Text("b")), Text("ba"));
  EXPECT_EQ(ReplaceSubtext(Text("a-b-c"), Text("-")), Text("abc"));
  EXPECT_EQ(ReplaceSubtext(Text("a-b-c"), Text("-"), Text("+"), 3), Text("a-b+c"));
  EXPECT_EQ(ReplaceSubtext(Text("a-b-c"), Text("-"), Text("+"), -4), Text("a+b+c"));
  EXPECT_EQ(ReplaceSubtext(Text("a-b-c-d"), Text("-"), Text("+"), 1, 2), Text("a+b+c-d"));
  EXPECT_EQ(ReplaceSubtext(Text("a-b-c"), Text("-"), Text("+"), 1, 0), Text("a-b-c"));
  EXPECT_EQ(ReplaceSubtext(Text("a-b-c"), Text("-"), Text("+"), 1, -1), Text("a+b+c"));
  EXPECT_EQ(ReplaceSubtext(Text("x"), Text("x"), Text("x"), 1, std::nullopt, true), Text("x"));
  EXPECT_EQ(ReplaceSubtext(Text("aa"), Text("a"), Text("aa")), Text("aaaa"));  // not searched again
}

TEST(ReplaceSubtext, UnchangedCasesAndEmptyResult) {
  EXPECT_EQ(ReplaceSubtext(Text(), Text("a"), Text("b")), Text());
  EXPECT_EQ(ReplaceSubtext(Text("abc"), Text(), Text("b")), Text("abc"));
  EXPECT_EQ(ReplaceSubtext(Text("abc"), Text("c"), Text("x"), 4), Text("abc"));
  EXPECT_EQ(ReplaceSubtext(Text("abab"), Text("ab")), Text());
}

TEST(ReplaceSubtext, StepsOverCharactersAndDropsALoneLeadByteItScansOnto) {
  // "\xD6\xD0" is one character: its trail byte is not an occurrence of "\xD0".
  EXPECT_EQ(ReplaceSubtext(Raw("\xD6\xD0"
                               "a\xD0\xD0"),
                           Raw("\xD0"), Text("x")),
            Raw("\xD6\xD0"
                "axx"));
  EXPECT_EQ(ReplaceSubtext(Raw("\x81@@"), Text("@"), Text("x")), Raw("\x81@x"));
  // The scan over a one-byte `old` reaches the cut character at the end and leaves it out...
  EXPECT_EQ(ReplaceSubtext(Raw("a-b\xD6"), Text("-"), Text("+")), Text("a+b"));
  EXPECT_EQ(ReplaceSubtext(Raw("ab\xD6"), Text("-"), Text("+")), Text("ab"));
  // ...unless it matches there, or the text is copied before the scan gets there.
  EXPECT_EQ(ReplaceSubtext(Raw("a\xD6"), Raw("\xD6"), Text("+")), Text("a+"));
  EXPECT_EQ(ReplaceSubtext(Raw("a-b-\xD6"), Text("-"), Text("+"), 1, 1), Raw("a+b-\xD6"));
  EXPECT_EQ(ReplaceSubtext(Raw("a-b\xD6"), Text("-b"), Text("+")), Raw("a+\xD6"));
  EXPECT_EQ(ReplaceSubtext(Raw("\xD6\xD6\xD6"), Text("-"), Text("+")), Raw("\xD6\xD6"));
  EXPECT_EQ(ReplaceSubtext(Raw("\xD6\xD6\xD6\xD6"), Text("-"), Text("+")), Raw("\xD6\xD6\xD6\xD6"));
}

TEST(SplitText, PiecesAndSeparators) {
  EXPECT_EQ(SplitText(Text()), std::vector<Text>());
  EXPECT_EQ(SplitText(Text("a"), Text("\r\n")), Texts({"a"}));
  EXPECT_EQ(SplitText(Text("a\r\n\r\nb"), Text("\r\n")), Texts({"a", "", "b"}));
  EXPECT_EQ(SplitText(Text(",a,b,")), Texts({"", "a", "b"}));
  EXPECT_EQ(SplitText(Text("a,b"), Text()), Texts({"a,b"}));
  EXPECT_EQ(SplitText(Text("a\nb\r\nc"), Text("\r\n")), Texts({"a\nb", "c"}));
  EXPECT_EQ(SplitText(Text("aXb"), Text("x")), Texts({"aXb"}));  // exact comparison
}

TEST(SplitText, MaximumCapsThePieces) {
  EXPECT_EQ(SplitText(Text("a,b,c"), Text(","), 1), Texts({"a"}));
  EXPECT_EQ(SplitText(Text("a,b,c"), Text(","), 2), Texts({"a", "b"}));
  EXPECT_EQ(SplitText(Text("a,b,c"), Text(","), 3), Texts({"a", "b", "c"}));
  EXPECT_EQ(SplitText(Text("abc"), Text(","), 1), Texts({"abc"}));
  EXPECT_EQ(SplitText(Text("a,b"), Text(","), 0), std::vector<Text>());
  EXPECT_EQ(SplitText(Text("a,b"), Text(","), -2), std::vector<Text>());
}

TEST(SplitText, StepsOverCharactersAndKeepsALoneLeadByte) {
  // 0x81 0x2C is one character whose trail byte is the separator.
  EXPECT_EQ(SplitText(Raw("\x81,a,b")), std::vector<Text>({Raw("\x81,a"), Text("b")}));
  EXPECT_EQ(SplitText(Raw("a,\xD6")), std::vector<Text>({Text("a"), Raw("\xD6")}));
}

TEST(TrimSpaces, RemovesSpacesAndFullWidthSpacesOnly) {
  EXPECT_EQ(TrimSpaces(Raw("\xA1\xA1 a b \xA1\xA1")), Text("a b"));
  EXPECT_EQ(TrimSpaces(Text("   ")), Text());
  EXPECT_EQ(TrimSpaces(Raw("\xA1\xA1")), Text());
  EXPECT_EQ(TrimSpaces(Text()), Text());
  EXPECT_EQ(TrimSpaces(Text("\ta \r\n")), Text("\ta \r\n"));
  EXPECT_EQ(TrimSpaces(Text(" x")), Text("x"));
  EXPECT_EQ(TrimSpaces("中 "_gbk), "中"_gbk);
}

TEST(TrimSpaces, FollowsCharactersAndDropsACutCharacterAtTheEnd) {
  // B0 A1 is a character, so the A1 A1 at the end is not a full-width space: the lone A1 goes.
  EXPECT_EQ(TrimSpaces(Raw("x\xB0\xA1\xA1")), Raw("x\xB0\xA1"));
  EXPECT_EQ(TrimSpaces(Raw("x \xD6")), Text("x "));
  EXPECT_EQ(TrimSpaces(Raw("\xD6")), Text());
  EXPECT_EQ(TrimSpaces(Raw(" \xA1")), Text());
}

TEST(CharCodes, SpacesCharactersAndCodes) {
  EXPECT_EQ(SpaceText(3), Text("   "));
  EXPECT_EQ(SpaceText(0), Text());
  EXPECT_EQ(SpaceText(-2), Text());
  EXPECT_EQ(CharFromCode(65), Text("A"));
  EXPECT_EQ(CharFromCode(0xB0), Raw("\xB0"));
  EXPECT_EQ(CharFromCode(0), Text());
  EXPECT_EQ(CharCodeAt(Text("=")), 61);
  EXPECT_EQ(CharCodeAt(Raw("\xB0\xA1")), -80);
  EXPECT_EQ(CharCodeAt(Text("ab"), 2), 98);
  EXPECT_EQ(CharCodeAt(Text("ab"), 0), 0);
  EXPECT_EQ(CharCodeAt(Text("ab"), 3), 0);
  EXPECT_EQ(ToHexText(10), Text("A"));
  EXPECT_EQ(ToHexText(255), Text("FF"));
  EXPECT_EQ(ToHexText(0), Text("0"));
  EXPECT_EQ(ToHexText(-1), Text("FFFFFFFF"));
  EXPECT_EQ(ToHexText(-2147483647 - 1), Text("80000000"));
}

TEST(ToInteger, ParsesTextLikeTheClassicLibrary) {
  EXPECT_EQ(ToInteger(Text()), 0);
  EXPECT_EQ(ToInteger(Text("12abc")), 12);
  EXPECT_EQ(ToInteger(Text("abc")), 0);
  EXPECT_EQ(ToInteger(Text("  -7")), -7);
  EXPECT_EQ(ToInteger(Text("\t\n\v\f\r+8")), 8);
  EXPECT_EQ(ToInteger(Text("- 8")), 0);
  EXPECT_EQ(ToInteger(Text("-")), 0);
  EXPECT_EQ(ToInteger(Text("100")), 100);
  EXPECT_EQ(ToInteger(Text("2147483647")), 2147483647);
  EXPECT_EQ(ToInteger(Text("2147483648")), -2147483647 - 1);
  EXPECT_EQ(ToInteger(Text("4294967297")), 1);
  EXPECT_EQ(ToInteger(Text("-4294967295")), 1);
}

TEST(ToInteger, FullWidthFormsCountAsAscii) {
  EXPECT_EQ(ToInteger(Raw("\xA3\xB1\xA3\xB2")), 12);          // full-width 1 2
  EXPECT_EQ(ToInteger(Raw("\xA1\xA1\xA3\xAD\xA3\xB3")), -3);  // ideographic space, -3
  EXPECT_EQ(ToInteger(Raw("\xA3\xB4"
                          "5\xA3\xB6x")),
            456);
  EXPECT_EQ(ToInteger("１２个"_gbk), 12);
  EXPECT_EQ(ToInteger(Raw("\xA1\xAB"
                          "5")),
            0);                           // a tilde is no sign
  EXPECT_EQ(ToInteger(Raw("7\xA3")), 7);  // lone lead byte ends the digits
  EXPECT_EQ(ToInteger(Raw("\xB0\xA1"
                          "5")),
            0);  // other characters are not digits
}

TEST(ToInteger, OtherKindsAndBytes) {
  EXPECT_EQ(ToInteger(std::int32_t{-5}), -5);
  EXPECT_EQ(ToInteger(std::uint8_t{200}), 200);
  EXPECT_EQ(ToInteger(true), 1);
  EXPECT_EQ(ToInteger(false), 0);
  EXPECT_EQ(ToInteger(2.9), 2);
  EXPECT_EQ(ToInteger(-2.9), -2);
  EXPECT_EQ(ToInteger(1e300), -2147483647 - 1);
  EXPECT_EQ(ToInteger(std::nan("")), -2147483647 - 1);
  EXPECT_EQ(ToByte(Text("257")), 1);
  EXPECT_EQ(ToByte(std::int32_t{-1}), 255);
  EXPECT_EQ(ToByte(300.7), 44);
}

TEST(ToText, NumbersTextsAndBytes) {
  EXPECT_EQ(ToText(std::int32_t{-42}), Text("-42"));
  EXPECT_EQ(ToText(std::int32_t{0}), Text("0"));
  EXPECT_EQ(ToText(std::int32_t{-2147483647 - 1}), Text("-2147483648"));
  EXPECT_EQ(ToText(std::uint8_t{255}), Text("255"));
  EXPECT_EQ(ToText(Text("x")), Text("x"));
  EXPECT_EQ(ToText(Bytes(std::string_view("AB\0C", 4))), Text("AB"));
  EXPECT_EQ(ToText(Bytes("ABC")), Text("ABC"));
  EXPECT_EQ(ToText(Bytes()), Text());
}

TEST(ToBytes, TextsBytesAndIntegers) {
  EXPECT_EQ(ToBytes(Text("ab")), Bytes("ab"));
  EXPECT_EQ(ToBytes(Text()), Bytes());
  EXPECT_EQ(ToBytes(Bytes(std::string_view("\0x", 2))), Bytes(std::string_view("\0x", 2)));
  EXPECT_EQ(ToBytes(std::int32_t{0x01020304}), Bytes("\x04\x03\x02\x01"));
  EXPECT_EQ(ToBytes(std::int32_t{-1}), Bytes("\xFF\xFF\xFF\xFF"));
  EXPECT_EQ(BytesLength(Bytes()), 0);
  EXPECT_EQ(BytesLength(ZeroBytes(3)), 3);
  EXPECT_EQ(ZeroBytes(3), Bytes(std::string_view("\0\0\0", 3)));
  EXPECT_EQ(ZeroBytes(-1), Bytes());
}

TEST(Arithmetic, RemainderShiftsAndBits) {
  EXPECT_DOUBLE_EQ(Remainder(7, 3), 1);
  EXPECT_DOUBLE_EQ(Remainder(-7, 3), -1);
  EXPECT_DOUBLE_EQ(Remainder(7.5, -2), 1.5);
  EXPECT_EQ(ShiftLeft(1, 4), 16);
  EXPECT_EQ(ShiftLeft(1, 33), 2);
  EXPECT_EQ(ShiftLeft(1, 31), -2147483647 - 1);
  EXPECT_EQ(ShiftLeft(3, -1), ShiftLeft(3, 31));
  EXPECT_EQ(ShiftRight(-16, 2), -4);
  EXPECT_EQ(ShiftRight(16, 34), 4);
  EXPECT_EQ(BitAnd(0xF0F, 0x0FF), 0x00F);
  EXPECT_EQ(BitAnd(-1, 0x7F, 0x3C, 0x0C), 0x0C);
}

TEST(ArithmeticDeathTest, RemainderByZeroEndsTheProcess) {
  EXPECT_EXIT(Remainder(1, 0), testing::ExitedWithCode(EXIT_FAILURE), "不能求余数于零");
}

}  // namespace
}  // namespace mf
