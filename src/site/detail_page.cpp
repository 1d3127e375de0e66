#include "site/detail_page.h"

#include <charconv>
#include <string>
#include <string_view>
#include <utility>

#include "platform/threads.h"
#include "site/site_address.h"
#include "site/site_definition.h"
#include "site/title_cleanup.h"
#include "support/regexp_matcher.h"
#include "support/utf8_pattern.h"

namespace mf {
namespace {

// The character a reference at the start of `text` stands for, and its length; 0 for none.
std::pair<char, std::size_t> Reference(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  for (const auto& [name, character] : kNamed) {
    if (text.starts_with(name)) {
      return {character, name.size()};
    }
  }
  const std::size_t end = text.find(';');
  if (!text.starts_with("&#") || end == std::string_view::npos || end > 7) {
    return {'\0', 0};
  }
  const bool hex = text.size() > 2 && (text[2] == 'x' || text[2] == 'X');
  const std::string_view digits = text.substr(hex ? 3 : 2, end - (hex ? 3 : 2));
  unsigned value = 0;
  const auto [last, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
  if (digits.empty() || error != std::errc() || last != digits.data() + digits.size() ||
      value == 0 || value >= 128) {
    return {'\0', 0};
  }
  return {static_cast<char>(value), end + 1};
}

}  // namespace

Text LinkForOpening(const Text& link) {
  std::string decoded;
  std::string_view rest = link.view();
  while (!rest.empty()) {
    const auto [character, length] = Reference(rest);
    decoded += length > 0 ? character : rest.front();
    rest.remove_prefix(length > 0 ? length : 1);
  }
  return Text(decoded);
}

Text DetailPageAddress(const Text& link) {
  const SiteInUse site = CurrentSite();
  return ExpandAddress(site.definition->detailAddress, {{"base", site.base}, {"link", link}});
}

std::vector<Text> FindMagnetLinks(RegExpMatcher& matcher, const Text& pageText,
                                  const SiteDefinition& site) {
  if (!site.programText) {
    // The site's own text, UTF-8, through the same engine and limits.
    std::vector<Text> links;
    for (const std::vector<Text>& groups :
         FindAllUtf8(site.magnetPattern, pageText, platform::MatchBudget()).matches) {
      links.push_back(static_cast<std::size_t>(site.magnetGroup) < groups.size()
                          ? groups[static_cast<std::size_t>(site.magnetGroup)]
                          : Text());
    }
    return links;
  }
  matcher.Search(site.magnetPattern, pageText);
  std::vector<Text> links;
  const std::int32_t matches = matcher.MatchCount();
  links.reserve(static_cast<std::size_t>(matches));
  for (std::int32_t i = 1; i <= matches; ++i) {
    platform::UnwindIfKilled();
    links.push_back(matcher.SubMatchText(i, site.magnetGroup));
  }
  return links;
}

std::vector<Text> FindMagnetLinks(RegExpMatcher& matcher, const Text& pageText) {
  return FindMagnetLinks(matcher, pageText, *CurrentSite().definition);
}

}  // namespace mf
