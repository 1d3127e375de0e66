#include "site/result_page.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/threads.h"
#include "site/site_address.h"
#include "site/site_definition.h"
#include "site/title_cleanup.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"

namespace mf {

// The highlight span, every closing span, and any other span up to the next "</script>".
const Text kMarkupPattern("<span class=\"mhl\">|</span>|<span class=\".*?</script>");

namespace {

// The same without the third branch, for text that no "</script>" follows.
const Text kMarkupWithoutScriptPattern("<span class=\"mhl\">|</span>");
constexpr std::string_view kScriptEnd = "</script>";

const regex& MarkupWithoutScript() {
  // One per thread: a pattern object serves one thread at a time.
  thread_local regex pattern;
  thread_local const bool compiled = pattern.Compile(kMarkupWithoutScriptPattern);
  (void)compiled;
  return pattern;
}

}  // namespace

Text ResultPageAddress(const SiteDefinition& site, const Text& base, const Text& keyword,
                       const Text& page) {
  const Text encoded = UrlEncode(keyword, false, site.keywordEncoding == KeywordEncoding::kUtf8);
  // The walk counts from 1; a site whose pages count from another number gets its own.
  const Text number =
      site.firstPage == 1
          ? page
          : Text(std::to_string(std::int64_t{ToInteger(page)} - 1 + site.firstPage));
  return ExpandAddress(site.searchAddress,
                       {{"base", base}, {"keyword", encoded}, {"page", number}});
}

Text ResultPageAddress(const Text& keyword, const Text& page) {
  const SiteInUse site = CurrentSite();
  return ResultPageAddress(*site.definition, site.base, keyword, page);
}

Text StripMarkup(const regex& markup, const Text& title) {
  const std::string_view whole = title.view();
  const std::size_t lastEnd = whole.rfind(kScriptEnd);
  const std::size_t cut = lastEnd == std::string_view::npos ? 0 : lastEnd + kScriptEnd.size();
  // No match crosses the cut: it falls right after a "</script>", and no branch can hold the ">"
  // that ends one anywhere but at its own end.
  const std::optional<Text> tail = MarkupWithoutScript().ReplaceAll(whole.substr(cut), Text());
  if (cut == 0 && markup.HasPattern()) {
    return tail.value_or(Text());  // the usual title: no "</script>" at all
  }
  const std::optional<Text> head = markup.ReplaceAll(whole.substr(0, cut), Text());
  if (!head || !tail) {
    return Text();  // no pattern, or the matching library gave up
  }
  return *head + *tail;
}

std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText,
                                  const SiteDefinition& site, const Text& base) {
  matcher.Search(site.entryPattern, pageText);
  std::vector<EntryRow> rows;
  const std::int32_t matches = matcher.MatchCount();
  rows.reserve(static_cast<std::size_t>(matches));
  for (std::int32_t i = 1; i <= matches; ++i) {
    platform::UnwindIfKilled();
    rows.push_back(
        {CleanTitle(site.titleCleanup, markup, matcher.SubMatchText(i, site.titleGroup)),
         ExpandAddress(site.detailAddress,
                       {{"base", base}, {"link", matcher.SubMatchText(i, site.linkGroup)}})});
  }
  return rows;
}

std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText) {
  const SiteInUse site = CurrentSite();
  return FindEntries(matcher, markup, pageText, *site.definition, site.base);
}

}  // namespace mf
