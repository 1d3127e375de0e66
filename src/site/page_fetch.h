// Fetching one page of the site, and what its bytes are as program text.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "site/site_definition.h"
#include "support/text_types.h"

namespace mf {

struct FetchedPage {
  Bytes body;               // empty when no response arrived
  std::int32_t status = 0;  // of the final response; 0 when none arrived
  // Why the page counts as not fetched ("timed out", "HTTP 404", "empty page"); empty when it
  // was fetched.
  std::string failure;
  std::string charset;  // what the answer's Content-Type names, lower case; empty when nothing
  // No answer came because the server could not be reached: its name not resolved, the
  // connection refused or timed out, or TLS failed.
  bool unreachable = false;
  // A redirect's Location (3xx status, when redirects were not followed); empty otherwise.
  std::string location;
  std::string contentType;  // the answer's Content-Type, lower case

  bool Failed() const { return !failure.empty(); }
};

// A GET of `address` with the request routine's defaults. A page counts as not fetched when no
// response arrived, its status is 400 or above, or nothing comes before its first zero byte.
// An answer 429 or 503 with a Retry-After of at most kMostRetryAfter is asked again after that
// wait, at most kRetries times. Blocks the calling thread, which must be in an apartment; a kill
// abandons it (or its wait) at once.
FetchedPage FetchPage(const Text& address);
// The same with redirects left to the caller: a 3xx answer comes back as it is, with `location`.
FetchedPage FetchPageNoRedirects(const Text& address);
// The same for a page of `site`: every request (an answer asked again after Retry-After too)
// carries the site's request headers and waits for its delay (PaceRequest). A site without
// either is fetched as above, byte for byte.
FetchedPage FetchPage(const Text& address, const SiteDefinition& site);
FetchedPage FetchPageNoRedirects(const Text& address, const SiteDefinition& site);

// Waits until the site's delay has passed since the last request to it that this process made or
// is about to make, from any thread, and books the next: requests to one site start at least its
// delay apart. No wait for a site without one. A kill of the calling thread ends the wait at once
// (platform::ThreadKilled).
void PaceRequest(const SiteDefinition& site);

// The site's request headers as header lines ("User-Agent: ...", separated by CR LF), for
// WebRequestParams::extraHeaders: the empty text for a site without any, so that its requests
// carry the routine's defaults, byte for byte.
Text SiteHeaderLines(const SiteDefinition& site);

inline constexpr std::chrono::seconds kMostRetryAfter{30};
inline constexpr int kRetries = 2;

// The seconds a Retry-After header of `responseHeaders` asks for (a number, or an HTTP date
// counted from `now`; a wait past 999,999,999 s counts as that); -1 when there is none or it
// cannot be read.
std::int64_t RetryAfterSeconds(const Text& responseHeaders,
                               std::chrono::system_clock::time_point now);
// Whether a page is asked again after a wait of `seconds`: at most kMostRetryAfter.
bool WaitsForRetryAfter(std::int64_t seconds);

// The page as program text: the bytes up to the first zero byte, read as UTF-8 and converted to
// code page 936.
Text PageTextOf(const Bytes& body);
// The same, read as `encoding` says; `charset` is what the answer named.
Text PageTextOf(const Bytes& body, PageEncoding encoding, std::string_view charset);
// True when a page is read as GBK: the definition says so, or says `charset` and the answer
// names GBK, GB2312, GB18030 or one of their aliases.
bool ReadsAsGbk(PageEncoding encoding, std::string_view charset);
// As the site in use reads its pages.
Text PageTextOf(const FetchedPage& page);
// The page as `site` keeps its text: the built-in site's as PageTextOf (code page 936), any
// other site's as well-formed UTF-8, a GBK page converted once, so that no character a site
// writes is lost on the way to the rows.
Text SitePageText(const Bytes& body, const SiteDefinition& site, std::string_view charset);

// The charset that a response header block names in its Content-Type, lower case.
std::string CharsetOf(const Text& responseHeaders);

}  // namespace mf
