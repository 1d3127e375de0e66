#include "site/result_page.h"

#include <optional>
#include <string_view>

#include "platform/threads.h"
#include "site/site_address.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"

namespace mf {
namespace {

const Text kEntryPattern("href=\"(.*?)\">(.*?)</a></div>");
// The highlight span, every closing span, and any other span up to the next "</script>".
const Text kMarkupPattern("<span class=\"mhl\">|</span>|<span class=\".*?</script>");
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

Text ResultPageAddress(const Text& keyword, const Text& page) {
  return SearchSiteBase() + Text("/list/") + UrlEncode(keyword, false, true) + Text("/") + page;
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

std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText) {
  markup.Compile(kMarkupPattern);
  matcher.Search(kEntryPattern, pageText);
  std::vector<EntryRow> rows;
  const std::int32_t matches = matcher.MatchCount();
  rows.reserve(static_cast<std::size_t>(matches));
  for (std::int32_t i = 1; i <= matches; ++i) {
    platform::UnwindIfKilled();
    rows.push_back({StripMarkup(markup, matcher.SubMatchText(i, 2)),
                    SearchSiteBase() + matcher.SubMatchText(i, 1)});
  }
  return rows;
}

}  // namespace mf
