#include "site/page_fetch.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>

#include "platform/request_log.h"
#include "platform/threads.h"

#include "site/site_address.h"
#include "support/encoding.h"
#include "support/text_ops.h"
#include "web/web_request.h"

namespace mf {

namespace {

// What a Retry-After past any sensible wait counts as: nine digits of seconds (31 years).
constexpr std::int64_t kLongestRetryAfter = 999'999'999;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return lower;
}

// The value of the last header `name` (lower case) in a header block, trimmed; empty when none.
// After a redirect the block may hold more than one answer's headers: the last is the final one's.
std::string HeaderValue(const Text& headers, std::string_view name) {
  const std::string lower = Lower(headers.view());
  std::size_t found = std::string::npos;
  for (std::size_t at = lower.find(name); at != std::string::npos; at = lower.find(name, at + 1)) {
    const bool lineStart = at == 0 || lower[at - 1] == '\n';
    if (lineStart && at + name.size() < lower.size() && lower[at + name.size()] == ':') {
      found = at;
    }
  }
  if (found == std::string::npos) {
    return std::string();
  }
  const std::size_t start = found + name.size() + 1;
  const std::size_t end = headers.view().find_first_of("\r\n", start);
  std::string value(headers.view().substr(start, end == std::string::npos ? end : end - start));
  const std::size_t first = value.find_first_not_of(" \t");
  const std::size_t last = value.find_last_not_of(" \t");
  return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
}

bool Unreachable(platform::HttpRequest::Failure failure) {
  using Failure = platform::HttpRequest::Failure;
  return failure == Failure::kNameNotResolved || failure == Failure::kCannotConnect ||
         failure == Failure::kTimedOut || failure == Failure::kSecure;
}

// Waits `wait`; a kill of the calling thread ends the wait at once and unwinds.
void KillableWait(std::chrono::milliseconds wait) {
  std::mutex mutex;
  std::condition_variable woken;
  bool killed = false;
  const platform::KillWakeup wakeup([&] {
    const std::lock_guard lock(mutex);
    killed = true;
    woken.notify_all();
  });
  std::unique_lock lock(mutex);
  woken.wait_for(lock, wait, [&] { return killed; });
  lock.unlock();
  platform::UnwindIfKilled();
}

FetchedPage FetchOnce(const Text& address, bool followRedirects, Text& headers,
                      const SiteDefinition* site) {
  FetchedPage page;
  if (site != nullptr) {
    PaceRequest(*site);
  }
  page.body = WebRequest({.url = address,
                          .extraHeaders = site != nullptr ? SiteHeaderLines(*site) : Text(),
                          .responseHeaders = &headers,
                          .statusCode = &page.status,
                          .disableRedirects = !followRedirects});
  page.charset = CharsetOf(headers);
  page.contentType = Lower(HeaderValue(headers, "content-type"));
  page.failure = LastRequestFailure();
  page.unreachable = page.status == 0 && Unreachable(platform::LastRequestOutcome().failure);
  if (!followRedirects && page.status >= 300 && page.status < 400) {
    page.location = HeaderValue(headers, "location");
    if (!page.location.empty()) {
      return page;  // the caller follows it
    }
  }
  if (page.failure.empty() && ToText(page.body).empty()) {
    page.failure = "empty page";
  }
  return page;
}

FetchedPage Fetch(const Text& address, bool followRedirects, const SiteDefinition* site) {
  for (int attempt = 0;; ++attempt) {
    Text headers;
    FetchedPage page = FetchOnce(address, followRedirects, headers, site);
    if (page.status != 429 && page.status != 503) {
      return page;
    }
    const std::int64_t wait = RetryAfterSeconds(headers, std::chrono::system_clock::now());
    if (wait < 0 || attempt == kRetries) {
      return page;
    }
    if (!WaitsForRetryAfter(wait)) {
      page.failure += " (it asks to wait " + std::to_string(wait) + " s, over the " +
                      std::to_string(kMostRetryAfter.count()) + " s the program waits)";
      return page;
    }
    KillableWait(std::chrono::seconds(wait));
  }
}

// When the next request to each site with a delay may start, by its id; for every thread.
struct RequestBook {
  std::mutex mutex;
  std::map<std::string, std::chrono::steady_clock::time_point> next;
};

RequestBook& Book() {
  static RequestBook* const book = new RequestBook;  // never destroyed: workers may outlive exit
  return *book;
}

}  // namespace

FetchedPage FetchPage(const Text& address) {
  return Fetch(address, true, nullptr);
}

FetchedPage FetchPageNoRedirects(const Text& address) {
  return Fetch(address, false, nullptr);
}

FetchedPage FetchPage(const Text& address, const SiteDefinition& site) {
  return Fetch(address, true, &site);
}

FetchedPage FetchPageNoRedirects(const Text& address, const SiteDefinition& site) {
  return Fetch(address, false, &site);
}

void PaceRequest(const SiteDefinition& site) {
  if (site.delay <= std::chrono::milliseconds::zero()) {
    return;
  }
  std::chrono::steady_clock::time_point start;
  {
    RequestBook& book = Book();
    const std::lock_guard lock(book.mutex);
    const auto now = std::chrono::steady_clock::now();
    auto& next = book.next[site.id];
    start = std::max(now, next);
    next = start + site.delay;
  }
  const auto wait = start - std::chrono::steady_clock::now();
  if (wait > std::chrono::steady_clock::duration::zero()) {
    KillableWait(std::chrono::ceil<std::chrono::milliseconds>(wait));
  }
}

Text SiteHeaderLines(const SiteDefinition& site) {
  std::string lines;
  for (const auto& [name, value] : site.requestHeaders) {
    lines += (lines.empty() ? "" : "\r\n") + name + ": " + value;
  }
  return Text(lines);
}

std::int64_t RetryAfterSeconds(const Text& responseHeaders,
                               std::chrono::system_clock::time_point now) {
  const std::string value = HeaderValue(responseHeaders, "retry-after");
  if (value.empty()) {
    return -1;
  }
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return value.size() > 9 ? kLongestRetryAfter : std::stoll(value);
  }
  // An HTTP date: "Wed, 09 Dec 2026 15:00:00 GMT".
  std::tm when{};
  const char* end = strptime(value.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &when);
  if (end == nullptr || *end != '\0') {
    return -1;
  }
  // In seconds, not in the clock's nanoseconds, which end in 2262: a date after it would wrap.
  const std::int64_t wait =
      std::int64_t{timegm(&when)} - std::int64_t{std::chrono::system_clock::to_time_t(now)};
  return std::clamp<std::int64_t>(wait, 0, kLongestRetryAfter);
}

bool WaitsForRetryAfter(std::int64_t seconds) {
  return seconds >= 0 && seconds <= kMostRetryAfter.count();
}

Text PageTextOf(const Bytes& body) {
  return Utf8ToGbk(ToText(body));
}

bool ReadsAsGbk(PageEncoding encoding, std::string_view charset) {
  return encoding == PageEncoding::kGbk ||
         (encoding == PageEncoding::kFromCharset &&
          (charset == "gbk" || charset == "gb2312" || charset == "gb18030" || charset == "x-gbk" ||
           charset == "cp936" || charset == "windows-936"));
}

Text PageTextOf(const Bytes& body, PageEncoding encoding, std::string_view charset) {
  return ReadsAsGbk(encoding, charset) ? ToText(body) : PageTextOf(body);
}

Text SitePageText(const Bytes& body, const SiteDefinition& site, std::string_view charset) {
  if (site.programText) {
    return PageTextOf(body, site.pageEncoding, charset);
  }
  const Text bytes = ToText(body);
  return ReadsAsGbk(site.pageEncoding, charset) ? GbkToUtf8(bytes) : WellFormedUtf8(bytes);
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
