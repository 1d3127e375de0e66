#include "web/headers_cookies.h"

#include <algorithm>
#include <array>
#include <string>

#include "support/text_ops.h"

namespace mf {
namespace {

// Plain literals rather than `Text` objects: callers may run before this file's globals are made.
constexpr char kLineBreak[] = "\r\n";
constexpr char kSetCookie[] = "Set-Cookie";
constexpr char kSetCookieColon[] = "Set-Cookie:";

bool Contains(const Text& text, const Text& key) {
  return FindText(text, key) != -1;
}

struct DefaultHeader {
  const char* key;
  const char* line;  // appended after a line break when the key is missing
};

// Referer is not here: its line carries the request address.
constexpr std::array<DefaultHeader, 3> kLaterDefaults = {{
    {"Accept-Language:", "Accept-Language: zh-cn"},
    {"User-Agent:", "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)"},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded"},
}};

void AppendLineIfMissing(Text& headers, const Text& key, const Text& line) {
  if (!Contains(headers, key)) {
    headers += Text(kLineBreak) + line;
  }
}

// A marker may spell a double quote as "#引号", which is easier to write in a caller's literal.
Text WithQuotes(const Text& marker) {
  static const Text quoteWord = "#引号"_gbk;
  return ReplaceSubtext(marker, quoteWord, Text("\""), 1, std::nullopt, true);
}

// The entry that one "Set-Cookie" line adds to the received cookie text.
Text CookieEntry(const Text& line) {
  const Text entry = Contains(line, Text(";")) ? TextBetween(line, Text(kSetCookieColon), Text(";"))
                                               : ReplaceSubtext(line, Text(kSetCookieColon), Text(),
                                                                1, std::nullopt, false);
  return TrimSpaces(entry);
}

}  // namespace

Text CompleteRequestHeaders(const Text& extraHeaders, const Text& url) {
  const Text accept("Accept: */*");
  Text headers = extraHeaders.empty() ? accept : extraHeaders;
  AppendLineIfMissing(headers, Text("Accept:"), accept);
  AppendLineIfMissing(headers, Text("Referer:"), Text("Referer: ") + url);
  for (const DefaultHeader& header : kLaterDefaults) {
    AppendLineIfMissing(headers, Text(header.key), Text(header.line));
  }
  return headers;
}

std::vector<std::pair<Text, Text>> SplitHeaderLines(const Text& headers) {
  if (!Contains(headers, Text(kLineBreak))) {
    return {{HeaderLineName(headers), HeaderLineValue(headers)}};
  }
  std::vector<std::pair<Text, Text>> pairs;
  for (const Text& line : SplitText(headers, Text(kLineBreak))) {
    if (!line.empty()) {
      pairs.emplace_back(HeaderLineName(line), HeaderLineValue(line));
    }
  }
  return pairs;
}

Text HeaderLineName(const Text& line) {
  const std::int32_t colon = FindText(line, Text(":"));
  return colon == -1 ? Text() : TrimSpaces(LeftText(line, colon - 1));
}

Text HeaderLineValue(const Text& line) {
  const std::int32_t colon = FindText(line, Text(":"));
  return colon == -1 ? Text() : TrimSpaces(RightText(line, TextLength(line) - colon));
}

Text ProxyCredentialValue(const Text& user, const Text& password) {
  return Text("Basic ") + Base64Encode(ToBytes(user + Text(":") + password));
}

Text Base64Encode(const Bytes& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t real = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = static_cast<std::uint32_t>(bytes.byte(i)) << 16;
    if (real > 1) {
      group |= static_cast<std::uint32_t>(bytes.byte(i + 1)) << 8;
    }
    if (real > 2) {
      group |= bytes.byte(i + 2);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      encoded += k <= real ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return Text(encoded);
}

ResponseCookies CollectResponseCookies(const Text& responseHeaders) {
  ResponseCookies result;
  const Text setCookie(kSetCookie);
  result.headers = ReplaceSubtext(responseHeaders, setCookie, setCookie, 1, std::nullopt, false);
  Text received;
  for (const Text& line : SplitText(result.headers, Text(kLineBreak))) {
    if (Contains(line, setCookie)) {
      received += CookieEntry(line) + Text("; ");
    }
  }
  result.cookies = LeftText(received, TextLength(received) - 2);
  return result;
}

Text TextBetween(const Text& text, const Text& left, const Text& right, std::int32_t start,
                 bool ignoreCase) {
  const Text leftMarker = WithQuotes(left);
  const std::int32_t leftAt = FindText(text, leftMarker, start, ignoreCase);
  if (leftAt == -1) {
    return Text();
  }
  const std::int32_t from = leftAt + TextLength(leftMarker);
  const std::int32_t rightAt = FindText(text, WithQuotes(right), from, ignoreCase);
  return rightAt == -1 ? Text() : MidText(text, from, rightAt - from);
}

}  // namespace mf
