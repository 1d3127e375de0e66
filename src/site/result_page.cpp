#include "site/result_page.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/printable_text.h"
#include "platform/threads.h"
#include "site/detail_page.h"
#include "site/info_hash.h"
#include "site/json_rows.h"
#include "site/row_values.h"
#include "site/site_address.h"
#include "site/site_definition.h"
#include "site/title_cleanup.h"
#include "site/xml_rows.h"
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
  const std::int64_t offset = (std::int64_t{ToInteger(page)} - 1) * site.pageSize;
  return ExpandAddress(site.searchAddress, {{"base", base},
                                            {"keyword", encoded},
                                            {"page", number},
                                            {"offset", Text(std::to_string(offset))},
                                            {"page-size", Text(std::to_string(site.pageSize))}});
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

namespace {

// A row's fields before they are checked, in code page 936.
struct RawRow {
  Text title;
  Text link;
  std::array<Text, kRowFieldCount> fields;
};

const std::vector<CleanupStep>& FieldCleanup() {
  static const std::vector<CleanupStep> steps = {{CleanupStep::Kind::kDecodeReferences, Text()},
                                                 {CleanupStep::Kind::kTrim, Text()}};
  return steps;
}

Text Field(const RawRow& raw, RowField field) {
  return raw.fields[static_cast<std::size_t>(field)];
}

std::string Quoted(const Text& text) {
  return "'" + platform::PrintableText(GbkToUtf8(text).str()) + "'";
}

// The row that `raw` (the `number`th of its page) makes, or a problem when it makes none.
std::optional<EntryRow> MakeRow(const RawRow& raw, std::size_t number, const SiteDefinition& site,
                                const Text& base, regex& markup,
                                std::vector<std::string>& problems) {
  const std::string where = "row " + std::to_string(number) + ": ";
  EntryRow row;
  row.title = CleanTitle(site.titleCleanup, markup, raw.title);
  if (site.HasLink() && !raw.link.empty()) {
    row.address = ExpandAddress(site.detailAddress, {{"base", base}, {"link", raw.link}});
  }
  row.size = CleanTitle(FieldCleanup(), markup, Field(raw, RowField::kSize));
  row.date = CleanTitle(FieldCleanup(), markup, Field(raw, RowField::kDate));
  row.seeders = CleanTitle(FieldCleanup(), markup, Field(raw, RowField::kSeeders));
  row.leechers = CleanTitle(FieldCleanup(), markup, Field(raw, RowField::kLeechers));
  const Text magnet = LinkForOpening(Field(raw, RowField::kMagnet));
  const Text hash = CleanTitle(FieldCleanup(), markup, Field(raw, RowField::kHash));
  if (!site.HasLink() && magnet.empty() && hash.empty()) {
    return std::nullopt;  // an item the site lists without a torrent (an archive item, say)
  }
  if (!magnet.empty()) {
    row.magnet = magnet;
    row.infoHash = InfoHashOfMagnet(magnet.view()).value_or(std::string());
  }
  if (!hash.empty()) {
    if (const auto normalized = NormalizedInfoHash(hash.view())) {
      row.infoHash = *normalized;
      if (row.magnet.empty()) {
        row.magnet = Text(MagnetFromHash(hash.view(), GbkToUtf8(row.title).view(), site.trackers));
      }
    } else {
      problems.push_back(where + Quoted(hash) +
                         " is no info-hash (40 hex or 32 base32 characters)");
    }
  }
  if (IsZeroInfoHash(row.infoHash)) {
    return std::nullopt;  // a site's row for "no results", not a torrent
  }
  if (row.title.empty()) {
    problems.push_back(where + "left out: it has no title");
    return std::nullopt;
  }
  if (row.address.empty() && row.magnet.empty()) {
    problems.push_back(where + "left out: it has no " + (site.HasLink() ? "link, " : "") +
                       "magnet or valid info-hash");
    return std::nullopt;
  }
  for (const UnreadValue& unread : ReadRowNumbers(row, site)) {
    problems.push_back(where + Quoted(unread.text) + " is no " + unread.what);
  }
  return row;
}

std::vector<RawRow> HtmlRows(RegExpMatcher& matcher, const Text& pageText,
                             const SiteDefinition& site) {
  matcher.Search(site.entryPattern, pageText);
  const std::int32_t matches = matcher.MatchCount();
  std::vector<RawRow> rows(static_cast<std::size_t>(std::max(matches, 0)));
  for (std::int32_t i = 1; i <= matches; ++i) {
    platform::UnwindIfKilled();
    RawRow& raw = rows[static_cast<std::size_t>(i - 1)];
    raw.title = matcher.SubMatchText(i, site.titleGroup);
    if (site.linkGroup > 0) {
      raw.link = matcher.SubMatchText(i, site.linkGroup);
    }
    for (std::size_t f = 0; f < kRowFieldCount; ++f) {
      if (site.fieldGroups[f] > 0) {
        raw.fields[f] = matcher.SubMatchText(i, site.fieldGroups[f]);
      }
    }
  }
  return rows;
}

// The rows of a JSON or XML answer.
std::vector<RawRow> AnswerRowsOf(const Text& pageText, const SiteDefinition& site,
                                 PageEntries& entries) {
  const std::string utf8 = GbkToUtf8(pageText).str();
  const JsonRows json =
      site.pageFormat == PageFormat::kXml ? ReadXmlRows(utf8, site) : ReadJsonRows(utf8, site);
  entries.lastPage = json.lastPage;
  if (!json.problem.empty()) {
    entries.problems.push_back(platform::PrintableText(json.problem));
  }
  std::vector<RawRow> rows;
  rows.reserve(json.rows.size());
  for (const JsonRow& read : json.rows) {
    RawRow& raw = rows.emplace_back();
    raw.title = read.hasTitle ? Utf8ToGbk(Text(read.title)) : Text();
    raw.link = Utf8ToGbk(Text(read.link));
    for (std::size_t f = 0; f < kRowFieldCount; ++f) {
      raw.fields[f] = Utf8ToGbk(Text(read.fields[f]));
    }
  }
  return rows;
}

// A site whose rows hold only a title and a link keeps every match as it is, as the built-in site
// always has: an entry with an empty title or link is still a row.
bool PlainRows(const SiteDefinition& site) {
  return site.pageFormat == PageFormat::kHtml && site.HasLink() &&
         std::none_of(site.fieldGroups.begin(), site.fieldGroups.end(),
                      [](std::int32_t group) { return group > 0; });
}

std::vector<EntryRow> PlainEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText,
                                   const SiteDefinition& site, const Text& base) {
  matcher.Search(site.entryPattern, pageText);
  std::vector<EntryRow> rows;
  const std::int32_t matches = matcher.MatchCount();
  rows.reserve(static_cast<std::size_t>(std::max(matches, 0)));
  for (std::int32_t i = 1; i <= matches; ++i) {
    platform::UnwindIfKilled();
    EntryRow& row = rows.emplace_back();
    row.title = CleanTitle(site.titleCleanup, markup, matcher.SubMatchText(i, site.titleGroup));
    row.address = ExpandAddress(
        site.detailAddress, {{"base", base}, {"link", matcher.SubMatchText(i, site.linkGroup)}});
  }
  return rows;
}

}  // namespace

PageEntries ReadEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText,
                        const SiteDefinition& site, const Text& base) {
  PageEntries entries;
  if (PlainRows(site)) {
    entries.rows = PlainEntries(matcher, markup, pageText, site, base);
    entries.listed = entries.rows.size();
    return entries;
  }
  const std::vector<RawRow> raws = site.pageFormat == PageFormat::kHtml
                                       ? HtmlRows(matcher, pageText, site)
                                       : AnswerRowsOf(pageText, site, entries);
  entries.listed = raws.size();
  entries.rows.reserve(raws.size());
  for (std::size_t i = 0; i < raws.size(); ++i) {
    platform::UnwindIfKilled();
    if (auto row = MakeRow(raws[i], i + 1, site, base, markup, entries.problems)) {
      entries.rows.push_back(std::move(*row));
    }
  }
  return entries;
}

std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText,
                                  const SiteDefinition& site, const Text& base) {
  return ReadEntries(matcher, markup, pageText, site, base).rows;
}

std::vector<EntryRow> FindEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText) {
  const SiteInUse site = CurrentSite();
  return FindEntries(matcher, markup, pageText, *site.definition, site.base);
}

}  // namespace mf
