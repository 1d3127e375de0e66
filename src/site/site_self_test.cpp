#include "site/site_self_test.h"

#include <fstream>
#include <optional>
#include <sstream>

#include "platform/printable_text.h"
#include "site/detail_page.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"
#include "support/threads.h"

namespace mf {
namespace {

constexpr std::size_t kDifferencesShown = 5;
constexpr std::size_t kMostSavedPageBytes = std::size_t{64} << 20;

using Outcome = SiteTestOutcome;

std::string Quoted(std::string_view text) {
  return "\"" + platform::PrintableText(text) + "\"";
}

std::optional<Bytes> ReadSavedPage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in || content.str().size() > kMostSavedPageBytes) {
    return std::nullopt;
  }
  return Bytes(content.str());
}

// The differences between two lists, the first few of them, one line each.
template <typename Item, typename Show>
std::vector<std::string> Differences(const std::vector<Item>& expected,
                                     const std::vector<Item>& got, const char* what, Show show) {
  std::vector<std::string> lines;
  if (expected.size() != got.size()) {
    lines.push_back("expected " + std::to_string(expected.size()) + " " + what + ", got " +
                    std::to_string(got.size()));
  }
  std::size_t shown = 0;
  for (std::size_t i = 0; i < std::max(expected.size(), got.size()); ++i) {
    const bool same = i < expected.size() && i < got.size() && expected[i] == got[i];
    if (same) {
      continue;
    }
    if (shown++ == kDifferencesShown) {
      lines.push_back("...");
      break;
    }
    const std::string number = std::to_string(i + 1);
    lines.push_back(number + ": expected " + (i < expected.size() ? show(expected[i]) : "nothing"));
    lines.push_back(std::string(number.size(), ' ') + "       got " +
                    (i < got.size() ? show(got[i]) : "nothing"));
  }
  return lines;
}

std::string ShowRow(const SiteTest::Row& row) {
  std::string shown = "[" + Quoted(row.title) + ", " + Quoted(row.address);
  for (std::size_t i = 0; i < kRowFieldCount; ++i) {
    if (!row.fields[i].empty()) {
      shown +=
          std::string(", ") + RowFieldName(static_cast<RowField>(i)) + ": " + Quoted(row.fields[i]);
    }
  }
  return shown + "]";
}

Outcome AddressTest(const SiteDefinition& site, const SiteTest& test) {
  const std::string got = TestAddress(site, test.keyword, test.page);
  if (got == test.address) {
    return {&test, Outcome::Result::kPassed, {}};
  }
  return {&test,
          Outcome::Result::kFailed,
          {"address: expected " + Quoted(test.address), "              got " + Quoted(got)}};
}

Outcome PageTest(const SiteDefinition& site, const SiteTest& test, RegExpMatcher& matcher,
                 regex& markup) {
  if (site.folder.empty()) {
    return {&test, Outcome::Result::kSkipped, {"no folder to read " + test.savedPage + " from"}};
  }
  const std::optional<Bytes> body = ReadSavedPage(site.folder + "/" + test.savedPage);
  if (!body) {
    return {&test,
            Outcome::Result::kFailed,
            {"cannot read " + platform::PrintableText(test.savedPage)}};
  }
  std::vector<std::string> lines;
  if (test.kind == SiteTest::Kind::kDetailPage) {
    lines = Differences(test.magnets, SavedPageMagnets(site, matcher, *body, test.charset),
                        "magnet links", Quoted);
  } else {
    const PageEntries entries = SavedPageEntries(site, matcher, markup, *body, test.charset);
    lines =
        Differences(test.rows, RowsAsTested(entries.rows, test.fullRows, site), "rows", ShowRow);
    if (!lines.empty()) {
      for (const std::string& problem : entries.problems) {
        lines.push_back("page problem: " + problem);
      }
    }
  }
  return {&test, lines.empty() ? Outcome::Result::kPassed : Outcome::Result::kFailed,
          std::move(lines)};
}

}  // namespace

std::vector<SiteTest::Row> RowsAsTested(const std::vector<EntryRow>& rows, bool fullRows,
                                        const SiteDefinition& site) {
  const auto Utf8 = [&](const Text& text) { return SiteTextToUtf8(text, site); };
  std::vector<SiteTest::Row> tested;
  tested.reserve(rows.size());
  for (const EntryRow& row : rows) {
    SiteTest::Row& out = tested.emplace_back();
    out.title = Utf8(row.title);
    out.address = Utf8(row.address);
    if (fullRows) {
      const Text* fields[kRowFieldCount] = {&row.magnet, nullptr,      &row.size,
                                            &row.date,   &row.seeders, &row.leechers};
      for (std::size_t i = 0; i < kRowFieldCount; ++i) {
        out.fields[i] = fields[i] != nullptr ? Utf8(*fields[i]) : row.infoHash;
      }
    }
  }
  return tested;
}

std::string TestAddress(const SiteDefinition& site, const std::string& keyword, std::int32_t page) {
  return SiteTextToUtf8(
      ResultPageAddress(site, Text(site.mirrors.front()), SiteKeyword(keyword, site), ToText(page)),
      site);
}

PageEntries SavedPageEntries(const SiteDefinition& site, RegExpMatcher& matcher, regex& markup,
                             const Bytes& body, const std::string& charset) {
  return ReadEntries(matcher, markup, SitePageText(body, site, charset), site,
                     Text(site.mirrors.front()));
}

std::vector<std::string> SavedPageMagnets(const SiteDefinition& site, RegExpMatcher& matcher,
                                          const Bytes& body, const std::string& charset) {
  std::vector<std::string> links;
  for (const Text& link : FindMagnetLinks(matcher, SitePageText(body, site, charset), site)) {
    links.push_back(SiteTextToUtf8(link, site));
  }
  return links;
}

std::vector<SiteTestOutcome> RunSiteTests(const SiteDefinition& site) {
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  regex markup;
  std::vector<SiteTestOutcome> outcomes;
  for (const SiteTest& test : site.tests) {
    outcomes.push_back(test.kind == SiteTest::Kind::kAddress
                           ? AddressTest(site, test)
                           : PageTest(site, test, matcher, markup));
  }
  return outcomes;
}

}  // namespace mf
