#include "site/result_page.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/printable_text.h"
#include "platform/threads.h"
#include "site/detail_page.h"
#include "site/download_link.h"
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
#include "support/utf8_pattern.h"

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
  const bool gbk = site.keywordEncoding == KeywordEncoding::kGbk;
  // The built-in site's keyword is program text, any other site's UTF-8 (SiteKeyword).
  const Text encoded = site.programText ? UrlEncode(keyword, false, !gbk)
                                        : UrlEncode(gbk ? Utf8ToGbk(keyword) : keyword);
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

Text SiteKeyword(std::string_view utf8, const SiteDefinition& site) {
  return site.programText ? Utf8ToGbk(Text(utf8)) : Text(utf8);
}

std::string SiteTextToUtf8(const Text& text, const SiteDefinition& site) {
  return site.programText ? GbkToUtf8(text).str() : text.str();
}

std::string CharactersTheSiteCannotSend(std::string_view keyword, const SiteDefinition& site) {
  if (!site.programText && site.keywordEncoding == KeywordEncoding::kUtf8) {
    return std::string();
  }
  std::string outside;
  for (std::size_t i = 0; i < keyword.size();) {
    const auto lead = static_cast<unsigned char>(keyword[i]);
    const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    const std::string character(keyword.substr(i, length));
    i += length;
    if (GbkToUtf8(Utf8ToGbk(Text(character))).str() != character &&
        outside.find(character) == std::string::npos) {
      outside += character;
    }
  }
  return outside;
}

std::string KeywordRefusal(std::string_view keyword, const SiteDefinition& site) {
  const std::string outside = CharactersTheSiteCannotSend(keyword, site);
  if (outside.empty()) {
    return std::string();
  }
  const std::string shown = "'" + platform::PrintableText(outside) + "'";
  return site.programText
             ? "the keyword holds characters outside code page 936 (GBK), the program's text: " +
                   shown
             : "the keyword holds characters that GBK cannot write, and " + site.id +
                   " sends its keyword in GBK: " + shown;
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

// A row's fields before they are checked, in the site's text.
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

// How a row's texts are cleaned: the built-in site's through the caller's markup pattern, as it
// always was; every other site's as UTF-8, drawing on the page's matching budget.
class RowCleaner {
 public:
  explicit RowCleaner(regex& markup) : markup_(&markup) {}
  explicit RowCleaner(const platform::MatchBudget& budget) : budget_(&budget) {}

  bool Utf8() const { return budget_ != nullptr; }
  // Nothing when a remove step's pattern gave up (Status says why).
  std::optional<Text> Clean(const std::vector<CleanupStep>& steps, const Text& text) {
    if (markup_ != nullptr) {
      return CleanTitle(steps, *markup_, text);
    }
    return CleanSiteText(steps, text, *budget_, &status_);
  }
  // A field's clean-up has no remove step, so it cannot give up.
  Text Field(const Text& text) { return Clean(FieldCleanup(), text).value_or(Text()); }
  platform::RegExpStatus Status() const { return status_; }
  bool BudgetSpent() const { return status_ == platform::RegExpStatus::kBudgetSpent; }
  std::string Utf8Of(const Text& text) const { return Utf8() ? text.str() : GbkToUtf8(text).str(); }

 private:
  regex* markup_ = nullptr;
  const platform::MatchBudget* budget_ = nullptr;
  platform::RegExpStatus status_ = platform::RegExpStatus::kOk;
};

// Why a pattern gave up, for a problem line: the page's budget, or the limit of one search.
std::string GaveUp(const std::string& pattern, platform::RegExpStatus status) {
  const char* why = status == platform::RegExpStatus::kBudgetSpent
                        ? "the page's matching took too long"
                    : status == platform::RegExpStatus::kMatchLimit ? "too much backtracking"
                                                                    : "the matcher failed";
  return "the " + pattern + " pattern gave up (" + why + ")";
}

// The detail page's address for a row's link. A UTF-8 site's link is made ASCII, so that it
// reaches the request as the bytes the site wrote.
Text DetailAddress(const SiteDefinition& site, const Text& base, const Text& link, bool utf8) {
  return ExpandAddress(site.detailAddress,
                       {{"base", base}, {"link", utf8 ? PercentEncodedNonAscii(link) : link}});
}

// The row that `raw` (the `number`th of its page) makes, or a problem when it makes none.
std::optional<EntryRow> MakeRow(const RawRow& raw, std::size_t number, const SiteDefinition& site,
                                const Text& base, RowCleaner& cleaner,
                                std::vector<std::string>& problems) {
  const std::string where = "row " + std::to_string(number) + ": ";
  const auto quoted = [&](const Text& text) {
    return "'" + platform::PrintableText(cleaner.Utf8Of(text)) + "'";
  };
  EntryRow row;
  const std::optional<Text> title = cleaner.Clean(site.titleCleanup, raw.title);
  if (!title) {
    problems.push_back(where + "left out: " + GaveUp("clean-up", cleaner.Status()));
    return std::nullopt;
  }
  row.title = *title;
  if (site.HasLink() && !raw.link.empty()) {
    row.address = DetailAddress(site, base, raw.link, cleaner.Utf8());
  }
  row.size = cleaner.Field(Field(raw, RowField::kSize));
  row.date = cleaner.Field(Field(raw, RowField::kDate));
  row.seeders = cleaner.Field(Field(raw, RowField::kSeeders));
  row.leechers = cleaner.Field(Field(raw, RowField::kLeechers));
  Text magnet = LinkForOpening(Field(raw, RowField::kMagnet));
  const Text hash = cleaner.Field(Field(raw, RowField::kHash));
  if (!site.HasLink() && magnet.empty() && hash.empty()) {
    return std::nullopt;  // an item the site lists without a torrent (an archive item, say)
  }
  // The row's magnet goes to the list, the output box, a copy and the desktop's handler as it
  // is: one that could not be handed over (a line break, a space, another scheme) is none.
  if (const std::string refusal =
          magnet.empty()
              ? std::string()
              : DownloadLinkRefusal(site.programText ? magnet : PercentEncodedNonAscii(magnet));
      !refusal.empty()) {
    problems.push_back(where + quoted(magnet) + " is not taken as its magnet: " + refusal);
    magnet = Text();
  }
  if (!magnet.empty()) {
    row.magnet = magnet;
    row.infoHash = InfoHashOfMagnet(magnet.view()).value_or(std::string());
  }
  if (!hash.empty()) {
    if (const auto normalized = NormalizedInfoHash(hash.view())) {
      row.infoHash = *normalized;
      if (row.magnet.empty()) {
        row.magnet = Text(MagnetFromHash(hash.view(), cleaner.Utf8Of(row.title), site.trackers));
      }
    } else {
      problems.push_back(where + quoted(hash) +
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
    problems.push_back(where + quoted(unread.text) + " is no " + unread.what);
  }
  return row;
}

// The fields of a row that a match's groups give.
RawRow RawRowOf(const SiteDefinition& site, const std::function<Text(std::int32_t)>& group) {
  RawRow raw;
  raw.title = group(site.titleGroup);
  if (site.linkGroup > 0) {
    raw.link = group(site.linkGroup);
  }
  for (std::size_t f = 0; f < kRowFieldCount; ++f) {
    if (site.fieldGroups[f] > 0) {
      raw.fields[f] = group(site.fieldGroups[f]);
    }
  }
  return raw;
}

std::vector<RawRow> HtmlRows(RegExpMatcher& matcher, const Text& pageText,
                             const SiteDefinition& site) {
  matcher.Search(site.entryPattern, pageText);
  const std::int32_t matches = matcher.MatchCount();
  std::vector<RawRow> rows;
  rows.reserve(static_cast<std::size_t>(std::max(matches, 0)));
  for (std::int32_t i = 1; i <= matches; ++i) {
    platform::UnwindIfKilled();
    rows.push_back(
        RawRowOf(site, [&](std::int32_t group) { return matcher.SubMatchText(i, group); }));
  }
  return rows;
}

// The same for a UTF-8 site's page, through the matcher's engine under the page's budget: the
// rows found before the entry pattern gave up are kept, and a problem says it gave up.
std::vector<RawRow> Utf8HtmlRows(const Text& pageText, const SiteDefinition& site,
                                 const platform::MatchBudget& budget, PageEntries& entries) {
  const Utf8Matches found = FindAllUtf8(site.entryPattern, pageText, budget);
  if (found.status != platform::RegExpStatus::kOk) {
    entries.problems.push_back(GaveUp("entry", found.status) + " after " +
                               std::to_string(found.matches.size()) + " rows");
  }
  std::vector<RawRow> rows;
  rows.reserve(found.matches.size());
  for (const std::vector<Text>& groups : found.matches) {
    rows.push_back(RawRowOf(site, [&](std::int32_t group) {
      return static_cast<std::size_t>(group) < groups.size() ? groups[group] : Text();
    }));
  }
  return rows;
}

// The rows of a JSON or XML answer, in the site's text.
std::vector<RawRow> AnswerRowsOf(const Text& pageText, const SiteDefinition& site,
                                 PageEntries& entries) {
  const std::string utf8 = site.programText ? GbkToUtf8(pageText).str() : pageText.str();
  const JsonRows json =
      site.pageFormat == PageFormat::kXml ? ReadXmlRows(utf8, site) : ReadJsonRows(utf8, site);
  entries.lastPage = json.lastPage;
  if (!json.problem.empty()) {
    entries.problems.push_back(platform::PrintableText(json.problem));
  }
  const auto siteText = [&](const std::string& text) {
    return site.programText ? Utf8ToGbk(Text(text)) : Text(text);
  };
  std::vector<RawRow> rows;
  rows.reserve(json.rows.size());
  for (const JsonRow& read : json.rows) {
    RawRow& raw = rows.emplace_back();
    raw.title = read.hasTitle ? siteText(read.title) : Text();
    raw.link = siteText(read.link);
    for (std::size_t f = 0; f < kRowFieldCount; ++f) {
      raw.fields[f] = siteText(read.fields[f]);
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

// The same for a UTF-8 site: a row whose clean-up gave up is left out with a problem.
std::optional<EntryRow> PlainRow(const RawRow& raw, std::size_t number, const SiteDefinition& site,
                                 const Text& base, RowCleaner& cleaner,
                                 std::vector<std::string>& problems) {
  std::optional<Text> title = cleaner.Clean(site.titleCleanup, raw.title);
  if (!title) {
    problems.push_back("row " + std::to_string(number) +
                       ": left out: " + GaveUp("clean-up", cleaner.Status()));
    return std::nullopt;
  }
  EntryRow row;
  row.title = std::move(*title);
  row.address = DetailAddress(site, base, raw.link, true);
  return row;
}

// The entries of a page of a site other than the built-in one: UTF-8 throughout, every search
// of the page (its entries and its titles' clean-up) drawing on one budget. Once it is spent the
// rows read so far are kept and the rest left out, with the problem that says so.
PageEntries SiteEntries(const Text& pageText, const SiteDefinition& site, const Text& base) {
  PageEntries entries;
  const platform::MatchBudget budget;
  RowCleaner cleaner(budget);
  const std::vector<RawRow> raws = site.pageFormat == PageFormat::kHtml
                                       ? Utf8HtmlRows(pageText, site, budget, entries)
                                       : AnswerRowsOf(pageText, site, entries);
  const bool plain = PlainRows(site);
  entries.listed = raws.size();
  entries.rows.reserve(raws.size());
  std::size_t read = 0;
  for (; read < raws.size() && !cleaner.BudgetSpent(); ++read) {
    platform::UnwindIfKilled();
    auto row = plain ? PlainRow(raws[read], read + 1, site, base, cleaner, entries.problems)
                     : MakeRow(raws[read], read + 1, site, base, cleaner, entries.problems);
    if (row) {
      entries.rows.push_back(std::move(*row));
    }
  }
  if (read < raws.size()) {
    entries.problems.push_back(std::to_string(raws.size() - read) +
                               " more rows left out: the page's matching took too long");
  }
  return entries;
}

}  // namespace

PageEntries ReadEntries(RegExpMatcher& matcher, regex& markup, const Text& pageText,
                        const SiteDefinition& site, const Text& base) {
  if (!site.programText) {
    return SiteEntries(pageText, site, base);
  }
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
  RowCleaner cleaner(markup);
  for (std::size_t i = 0; i < raws.size(); ++i) {
    platform::UnwindIfKilled();
    if (auto row = MakeRow(raws[i], i + 1, site, base, cleaner, entries.problems)) {
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
