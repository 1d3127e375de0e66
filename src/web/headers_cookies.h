// The text logic of an HTTP request: default request headers, header lines cut into name/value
// pairs, the proxy credential and the cookies that a response sets.
//
// Header text is lines of "name: value" separated by CR LF; only the pair CR LF separates lines (a
// bare LF stays inside its line). Searches step by characters, so a separator or marker never
// matches from the second byte of a double-byte character. All functions are pure and never fail.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "support/text_types.h"

namespace mf {

// Appends, in this order, each default whose key the text lacks (a case-sensitive substring
// anywhere in the text): "Accept: */*", "Referer: " + `url`, "Accept-Language: zh-cn", a browser
// User-Agent and "Content-Type: application/x-www-form-urlencoded". An empty `extraHeaders`
// starts as "Accept: */*" without a leading line break.
Text CompleteRequestHeaders(const Text& extraHeaders, const Text& url);

// The (name, value) pair of every non-empty line, in order. A text without any CR LF is one line
// whatever it holds, so it always gives one pair.
std::vector<std::pair<Text, Text>> SplitHeaderLines(const Text& headers);

// The line divided at its first ":" and trimmed of spaces and full-width spaces; a line without
// ":" gives the empty text for both.
Text HeaderLineName(const Text& line);
Text HeaderLineValue(const Text& line);

// "Basic " + Base64 of `user` + ":" + `password`.
Text ProxyCredentialValue(const Text& user, const Text& password);
// RFC 4648 Base64 with padding and without line breaks.
Text Base64Encode(const Bytes& bytes);

struct ResponseCookies {
  Text headers;  // the response header block with every "Set-Cookie" name in that spelling
  Text cookies;  // "name=value; name=value" of the cookies set, in order
};
ResponseCookies CollectResponseCookies(const Text& responseHeaders);

// The text between the first `left` marker at or after `start` (below 1: from the beginning) and
// the next `right` marker behind it; the empty text when either is missing. "#引号" in a marker
// stands for a double quote.
Text TextBetween(const Text& text, const Text& left, const Text& right, std::int32_t start = 0,
                 bool ignoreCase = false);

}  // namespace mf
