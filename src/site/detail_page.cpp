#include "site/detail_page.h"

#include "platform/threads.h"
#include "site/site_address.h"
#include "support/regexp_matcher.h"

namespace mf {
namespace {

const Text& MagnetPattern() {
  static const Text pattern = "[磁力下载|迅雷下载]：<a href=\"(.*?)\">"_gbk;
  return pattern;
}

}  // namespace

Text DetailPageAddress(const Text& link) {
  return SearchSiteBase() + link;
}

std::vector<Text> FindMagnetLinks(RegExpMatcher& matcher, const Text& pageText) {
  matcher.Search(MagnetPattern(), pageText);
  std::vector<Text> links;
  const std::int32_t matches = matcher.MatchCount();
  links.reserve(static_cast<std::size_t>(matches));
  for (std::int32_t i = 1; i <= matches; ++i) {
    platform::UnwindIfKilled();
    links.push_back(matcher.SubMatchText(i, 1));
  }
  return links;
}

}  // namespace mf
