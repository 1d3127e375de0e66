// Feeds arbitrary bytes as a detail page (the body as the site sends it) through PageTextOf and
// FindMagnetLinks, and checks what must hold for any page: each link is the group of one match of
// the link pattern that stands in the page, on one line, in page order, and no more links come
// back than the page can hold.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "site/detail_page.h"
#include "site/page_fetch.h"
#include "support/regexp_matcher.h"

namespace mf {
namespace {

// One character of the pattern's class: a label character or the bar.
bool TakeLabelCharacter(std::string_view& match) {
  static const Text labels = "磁力下载迅雷"_gbk;  // two bytes each
  for (std::size_t i = 0; i < labels.size(); i += 2) {
    if (fuzz::TakePrefix(match, labels.view().substr(i, 2))) {
      return true;
    }
  }
  return fuzz::TakePrefix(match, "|");
}

// A label character, the full-width colon, then <a href="<link>">.
bool IsLinkMatch(std::string_view match, const Text& link) {
  static const Text colon = "："_gbk;
  return TakeLabelCharacter(match) && fuzz::TakePrefix(match, colon.view()) &&
         fuzz::TakePrefix(match, "<a href=\"", true) && fuzz::TakePrefix(match, link.view()) &&
         fuzz::TakePrefix(match, "\">") && match.empty();
}

}  // namespace
}  // namespace mf

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const mf::Text page = mf::PageTextOf(mf::Bytes(data, size));
  mf::RegExpMatcher matcher;
  const std::vector<mf::Text> links = mf::FindMagnetLinks(matcher, page);
  MF_FUZZ_REQUIRE(links.size() == static_cast<std::size_t>(matcher.MatchCount()),
                  "links and matches differ in number");
  // The shortest match: "|：<a href=\"\">", 1 + 2 + 9 + 2 bytes.
  MF_FUZZ_REQUIRE(links.size() <= page.size() / 14, "more links than the page can hold");
  std::size_t searchFrom = 0;
  for (std::size_t i = 0; i < links.size(); ++i) {
    const mf::Text match = matcher.MatchText(static_cast<std::int32_t>(i + 1));
    MF_FUZZ_REQUIRE(mf::IsLinkMatch(match.view(), links[i]),
                    "a match is not label, colon, <a href=\"link\">");
    MF_FUZZ_REQUIRE(!mf::fuzz::HasLineBreak(links[i].view()), "a link spans lines");
    const std::size_t at = page.view().find(match.view(), searchFrom);
    MF_FUZZ_REQUIRE(at != std::string_view::npos, "a link is not in the page after the last one");
    searchFrom = at + match.size();
  }
  return 0;
}
