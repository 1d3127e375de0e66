#include "site/page_fetch.h"

#include "support/encoding.h"
#include "support/text_ops.h"
#include "web/web_request.h"

namespace mf {

FetchedPage FetchPage(const Text& address) {
  FetchedPage page;
  page.body = WebRequest({.url = address, .statusCode = &page.status});
  page.failure = LastRequestFailure();
  if (page.failure.empty() && ToText(page.body).empty()) {
    page.failure = "empty page";
  }
  return page;
}

Text PageTextOf(const Bytes& body) {
  return Utf8ToGbk(ToText(body));
}

}  // namespace mf
