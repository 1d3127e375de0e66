#include "site/page_fetch.h"

#include <algorithm>

#include "site/site_address.h"
#include "support/encoding.h"
#include "support/text_ops.h"
#include "web/web_request.h"

namespace mf {

FetchedPage FetchPage(const Text& address) {
  FetchedPage page;
  Text headers;
  page.body = WebRequest({.url = address, .responseHeaders = &headers, .statusCode = &page.status});
  page.charset = CharsetOf(headers);
  page.failure = LastRequestFailure();
  if (page.failure.empty() && ToText(page.body).empty()) {
    page.failure = "empty page";
  }
  return page;
}

Text PageTextOf(const Bytes& body) {
  return Utf8ToGbk(ToText(body));
}

Text PageTextOf(const Bytes& body, PageEncoding encoding, std::string_view charset) {
  const bool gbk = encoding == PageEncoding::kGbk ||
                   (encoding == PageEncoding::kFromCharset &&
                    (charset == "gbk" || charset == "gb2312" || charset == "gb18030" ||
                     charset == "x-gbk" || charset == "cp936" || charset == "windows-936"));
  return gbk ? ToText(body) : PageTextOf(body);
}

Text PageTextOf(const FetchedPage& page) {
  return PageTextOf(page.body, CurrentSite().definition->pageEncoding, page.charset);
}

std::string CharsetOf(const Text& responseHeaders) {
  std::string lower(responseHeaders.view());
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  // The last Content-Type: after a redirect the block may hold more than one answer's headers.
  const std::size_t header = lower.rfind("content-type:");
  if (header == std::string::npos) {
    return std::string();
  }
  const std::size_t lineEnd = lower.find_first_of("\r\n", header);
  const std::string line = lower.substr(header, lineEnd - header);
  const std::size_t at = line.find("charset=");
  if (at == std::string::npos) {
    return std::string();
  }
  std::string charset = line.substr(at + 8, line.find_first_of("; 	", at + 8) - at - 8);
  std::erase(charset, '"');
  return charset;
}

}  // namespace mf
