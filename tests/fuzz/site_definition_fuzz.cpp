// Feeds arbitrary text as a site definition file through the loader, and checks what must hold for
// any text: it gives a definition or at least one error, never both and never neither; every
// problem prints as one line; a definition that loads has what the programs rely on (an id, http
// or https mirrors, a way to its entries and to their magnets, trackers and request headers
// fit to send), and its address templates give an http(s) address.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "site/result_page.h"
#include "site/site_address.h"
#include "site/site_definition.h"
#include "site/title_cleanup.h"

namespace {

bool IsError(const mf::SiteProblem& problem) {
  return problem.severity == mf::SiteProblem::Severity::kError;
}

void CheckDefinition(const mf::SiteDefinition& site) {
  MF_FUZZ_REQUIRE(!site.id.empty() && site.id.find('/') == std::string::npos, "a bad id loaded");
  MF_FUZZ_REQUIRE(!site.mirrors.empty(), "no mirror");
  for (const std::string& mirror : site.mirrors) {
    MF_FUZZ_REQUIRE(mf::WebAddressProblem(mirror).empty(), "a mirror that is no web address");
  }
  // Entries are found by a pattern or by pointers, and every row leads to its magnets: through a
  // detail page (a link, an address and a magnet pattern) or by a magnet or hash of its own.
  MF_FUZZ_REQUIRE(site.pageFormat != mf::PageFormat::kHtml ? !site.titlePointer.empty()
                                                           : !site.entryPattern.empty(),
                  "no way to find entries");
  // What goes into requests and magnet links is printable ASCII, in its bounds.
  const auto printable = [](const std::string& text, char least) {
    return std::all_of(text.begin(), text.end(),
                       [least](char c) { return c >= least && c < 0x7F; });
  };
  MF_FUZZ_REQUIRE(site.trackers.size() <= 32, "too many trackers");
  for (const std::string& tracker : site.trackers) {
    MF_FUZZ_REQUIRE(printable(tracker, '!') && tracker.size() <= 512, "a bad tracker loaded");
  }
  for (const auto& [name, value] : site.requestHeaders) {
    MF_FUZZ_REQUIRE(
        name == "User-Agent" || name == "Referer" || name == "Accept" || name == "Accept-Language",
        "a header a site may not set");
    MF_FUZZ_REQUIRE(printable(value, ' ') && !value.empty() && value.size() <= 1024,
                    "a header value with a control character");
  }
  MF_FUZZ_REQUIRE(site.delay.count() >= 0 && site.delay.count() <= 60'000, "a delay out of bounds");
  MF_FUZZ_REQUIRE(site.HasLink() == !site.detailAddress.empty() &&
                      site.detailAddress.empty() == site.magnetPattern.empty(),
                  "a link without a detail page, or a detail page without a link");
  MF_FUZZ_REQUIRE(
      site.HasLink() || site.HasField(mf::RowField::kMagnet) || site.HasField(mf::RowField::kHash),
      "rows that lead to no magnet");
  const mf::Text address =
      mf::ResultPageAddress(site, mf::Text(site.mirrors.front()), mf::Text("k"), mf::Text("1"));
  MF_FUZZ_REQUIRE(mf::WebAddressProblem(address.view()).empty() || address.empty(),
                  "a search address that is no web address");
  const mf::Text detail = mf::ExpandAddress(
      site.detailAddress, {{"base", mf::Text(site.mirrors.front())}, {"link", mf::Text("/d")}});
  MF_FUZZ_REQUIRE(site.detailAddress.empty() || site.detailAddress.starts_with("{link}") ||
                      mf::WebAddressProblem(detail.view()).empty(),
                  "a detail address that is no web address");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const mf::LoadedSite loaded = mf::ParseSiteDefinition(text, "fuzz.yaml", "");
  bool anyError = false;
  for (const mf::SiteProblem& problem : loaded.problems) {
    anyError = anyError || IsError(problem);
    for (const char c : problem.ToString()) {
      MF_FUZZ_REQUIRE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F,
                      "a problem line holds a control byte");
    }
  }
  MF_FUZZ_REQUIRE(anyError != loaded.definition.has_value(),
                  "a definition and an error, or neither");
  if (loaded.definition) {
    CheckDefinition(*loaded.definition);
  }
  return 0;
}
