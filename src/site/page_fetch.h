// Fetching one page of the site, and what its bytes are as program text.
#pragma once

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

  bool Failed() const { return !failure.empty(); }
};

// A GET of `address` with the request routine's defaults. A page counts as not fetched when no
// response arrived, its status is 400 or above, or nothing comes before its first zero byte.
// Blocks the calling thread, which must be in an apartment; a kill abandons it at once.
FetchedPage FetchPage(const Text& address);

// The page as program text: the bytes up to the first zero byte, read as UTF-8 and converted to
// code page 936.
Text PageTextOf(const Bytes& body);
// The same, read as `encoding` says; `charset` is what the answer named.
Text PageTextOf(const Bytes& body, PageEncoding encoding, std::string_view charset);
// As the site in use reads its pages.
Text PageTextOf(const FetchedPage& page);

// The charset that a response header block names in its Content-Type, lower case.
std::string CharsetOf(const Text& responseHeaders);

}  // namespace mf
