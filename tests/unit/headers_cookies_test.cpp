#include "web/headers_cookies.h"

#include <gtest/gtest.h>

#include <string>

#include "support/text_ops.h"
#include "text_printing.h"

namespace mf {
namespace {

using Pairs = std::vector<std::pair<Text, Text>>;

Text Raw(std::string_view bytes) {
  return Text(bytes);
}

std::pair<Text, Text> Pair(const char* name, const char* value) {
  return {Text(name), Text(value)};
}

const char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";
const char kFormType[] = "application/x-www-form-urlencoded";

TEST(CompleteRequestHeaders, EmptyTextGetsAllFiveDefaultsInOrder) {
  const Text url("http://127.0.0.1/list/a/1");
  const Text headers = CompleteRequestHeaders(Text(), url);
  EXPECT_EQ(headers, Text("Accept: */*\r\nReferer: http://127.0.0.1/list/a/1\r\n"
                          "Accept-Language: zh-cn\r\nUser-Agent: ") +
                         Text(kUserAgent) + Text("\r\nContent-Type: ") + Text(kFormType));
  EXPECT_EQ(SplitHeaderLines(headers),
            Pairs({Pair("Accept", "*/*"), Pair("Referer", "http://127.0.0.1/list/a/1"),
                   Pair("Accept-Language", "zh-cn"), Pair("User-Agent", kUserAgent),
                   Pair("Content-Type", kFormType)}));
  EXPECT_EQ(SplitHeaderLines(CompleteRequestHeaders(Text(), Text()))[1], Pair("Referer", ""));
}

TEST(CompleteRequestHeaders, CallersLinesComeFirstAndSatisfyTheirKeys) {
  const Pairs pairs = SplitHeaderLines(CompleteRequestHeaders(Text("User-Agent: mine"), Text("u")));
  EXPECT_EQ(pairs, Pairs({Pair("User-Agent", "mine"), Pair("Accept", "*/*"), Pair("Referer", "u"),
                          Pair("Accept-Language", "zh-cn"), Pair("Content-Type", kFormType)}));
}

TEST(CompleteRequestHeaders, KeysAreCaseSensitiveSubstringsAnywhere) {
  // A lower-case line does not count: both go out.
  EXPECT_EQ(SplitHeaderLines(CompleteRequestHeaders(Text("accept: x"), Text("u")))[1],
            Pair("Accept", "*/*"));
  // A longer name ending in the key counts, and so does the key inside a value.
  const Text headers = CompleteRequestHeaders(
      Text("X-Accept: y\r\nX-Note: Referer: Accept-Language: User-Agent: Content-Type:"),
      Text("u"));
  EXPECT_EQ(headers,
            Text("X-Accept: y\r\nX-Note: Referer: Accept-Language: User-Agent: Content-Type:"));
}

TEST(SplitHeaderLines, CutsOnlyAtCrLfAndSkipsEmptyLines) {
  EXPECT_EQ(SplitHeaderLines(Text("A: 1\r\n\r\nB: 2\r\n")),
            Pairs({Pair("A", "1"), Pair("B", "2")}));
  EXPECT_EQ(SplitHeaderLines(Text("A: 1\nB: 2\r\nC: 3")),
            Pairs({Pair("A", "1\nB: 2"), Pair("C", "3")}));
  // Without any CR LF the whole text is the one line, even when it is empty.
  EXPECT_EQ(SplitHeaderLines(Text("A: 1")), Pairs({Pair("A", "1")}));
  EXPECT_EQ(SplitHeaderLines(Text()), Pairs({Pair("", "")}));
  // A CR after a lead byte belongs to its character: no line break there.
  EXPECT_EQ(SplitHeaderLines(Raw("A: \x81\r\nB: 2\r\nC: 3")),
            Pairs({{Text("A"), Raw("\x81\r\nB: 2")}, Pair("C", "3")}));
}

TEST(HeaderLine, DividesAtTheFirstColonAndTrimsBlanks) {
  EXPECT_EQ(HeaderLineName(Text(" X : a:b ")), Text("X"));
  EXPECT_EQ(HeaderLineValue(Text(" X : a:b ")), Text("a:b"));
  EXPECT_EQ(HeaderLineName("　名：X　:　值 "_gbk), "名：X"_gbk);  // full-width colon is not ":"
  EXPECT_EQ(HeaderLineValue(Raw("X:\xA1\xA1v\xA1\xA1")), Text("v"));
  EXPECT_EQ(HeaderLineValue(Text("X:\tv\t")), Text("\tv\t"));
  EXPECT_EQ(HeaderLineName(Text("no colon")), Text());
  EXPECT_EQ(HeaderLineValue(Text("no colon")), Text());
  EXPECT_EQ(SplitHeaderLines(Text("a\r\nno colon")), Pairs({Pair("", ""), Pair("", "")}));
  EXPECT_EQ(HeaderLineValue(Text("X:")), Text());
}

TEST(Base64Encode, MatchesTheRfcVectors) {
  EXPECT_EQ(Base64Encode(Bytes()), Text());
  EXPECT_EQ(Base64Encode(Bytes("f")), Text("Zg=="));
  EXPECT_EQ(Base64Encode(Bytes("fo")), Text("Zm8="));
  EXPECT_EQ(Base64Encode(Bytes("foo")), Text("Zm9v"));
  EXPECT_EQ(Base64Encode(Bytes("foob")), Text("Zm9vYg=="));
  EXPECT_EQ(Base64Encode(Bytes("fooba")), Text("Zm9vYmE="));
  EXPECT_EQ(Base64Encode(Bytes("foobar")), Text("Zm9vYmFy"));
  EXPECT_EQ(Base64Encode(Bytes(std::string_view("\0\xFF\xFE", 3))), Text("AP/+"));
  const Text longer = Base64Encode(Bytes(std::string(100, 'a')));
  EXPECT_EQ(TextLength(longer), 136);
  EXPECT_EQ(FindText(longer, Text("\n")), -1);
}

TEST(ProxyCredentialValue, EncodesUserColonPassword) {
  EXPECT_EQ(ProxyCredentialValue(Text("Aladdin"), Text("open sesame")),
            Text("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="));
  EXPECT_EQ(ProxyCredentialValue(Text("user"), Text()), Text("Basic dXNlcjo="));
  EXPECT_EQ(ProxyCredentialValue("用户"_gbk, Text("p")), Text("Basic 08O7pzpw"));
}

TEST(CollectResponseCookies, NormalizesNamesAndJoinsCookies) {
  const ResponseCookies result = CollectResponseCookies(
      Text("HTTP/1.1 200 OK\r\nset-cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nX: y\r\n"));
  EXPECT_EQ(result.headers,
            Text("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\nX: y\r\n"));
  EXPECT_EQ(result.cookies, Text("a=1; b=2"));
  EXPECT_EQ(CollectResponseCookies(Text("SET-COOKIE:c=3")).cookies, Text("c=3"));
  EXPECT_EQ(CollectResponseCookies(Text("Set-Cookie: \xA1\xA1"
                                        "d=4 ;"))
                .cookies,
            Text("d=4"));
}

TEST(CollectResponseCookies, NoCookiesOrOddLines) {
  const Text plain("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n");
  EXPECT_EQ(CollectResponseCookies(plain).headers, plain);
  EXPECT_EQ(CollectResponseCookies(plain).cookies, Text());
  EXPECT_EQ(CollectResponseCookies(Text()).cookies, Text());
  // A name that only begins with Set-Cookie gives an empty entry, which still adds its "; ".
  EXPECT_EQ(CollectResponseCookies(Text("Set-Cookie2: a=1; v=1\r\nSet-Cookie2: b=2; v=1")).cookies,
            Text("; "));
  EXPECT_EQ(CollectResponseCookies(Text("Set-Cookie2: a=1\r\nSet-Cookie: b=2; p")).cookies,
            Text("Set-Cookie2: a=1; b=2"));
}

TEST(TextBetween, MarkersStartAndCase) {
  const Text link("<a href=\"/x/1\">t</a>");
  EXPECT_EQ(TextBetween(link, "href=#引号"_gbk, "#引号"_gbk), Text("/x/1"));
  EXPECT_EQ(TextBetween(link, Text("href=\""), Text("\"")), Text("/x/1"));
  EXPECT_EQ(TextBetween(link, Text("HREF=\""), Text("\"")), Text());
  EXPECT_EQ(TextBetween(link, Text("HREF=\""), Text("\""), 0, true), Text("/x/1"));
  EXPECT_EQ(TextBetween(Text("[a][b]"), Text("["), Text("]"), 2), Text("b"));
  EXPECT_EQ(TextBetween(Text("[a][b]"), Text("["), Text("]"), 7), Text());
  EXPECT_EQ(TextBetween(Text("[]"), Text("["), Text("]")), Text());
  EXPECT_EQ(TextBetween(Text("a] [b"), Text("["), Text("]")), Text());  // right only in front
  EXPECT_EQ(TextBetween(Text("[ab"), Text("["), Text("]")), Text());
  EXPECT_EQ(TextBetween(Text("ab]"), Text("["), Text("]")), Text());
}

TEST(TextBetween, MarkersNeverMatchInsideACharacter) {
  // 0xB0 0x5B is one character whose trail byte is "[".
  EXPECT_EQ(TextBetween(Raw("\xB0[x]a[y]"), Text("["), Text("]")), Text("y"));
  EXPECT_EQ(TextBetween("<中文>"_gbk, Text("<"), Text(">")), "中文"_gbk);
}

}  // namespace
}  // namespace mf
