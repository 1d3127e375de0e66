#include "site/site_check.h"

#include <algorithm>
#include <array>
#include <functional>
#include <nlohmann/json.hpp>

#include "site/page_diagnosis.h"
#include "site/site_walk.h"
#include "site/xml_rows.h"
#include "support/encoding.h"
#include "support/text_ops.h"

namespace mf {
namespace {

// How the front pages that hold a visitor back until a script or a person has proven itself
// begin their titles, lower case. Such a page comes with any status, 200 included.
constexpr std::array<std::string_view, 7> kChallengeTitles = {
    "just a moment",         "attention required", "please wait",         "ddos-guard",
    "checking your browser", "one more step",      "verify you are human"};
// Text only a challenge page holds.
constexpr std::string_view kChallengeMarker = "/cdn-cgi/challenge-platform/";

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return lower;
}

// The page's text as UTF-8, read as the definition reads it.
std::string PageUtf8(const FetchedPage& page, const SiteDefinition& site) {
  const Text text = ToText(page.body);
  return ReadsAsGbk(site.pageEncoding, page.charset) ? GbkToUtf8(text).str() : text.str();
}

// True when `text` holds `what`, ASCII letters in either case.
bool HoldsNoCase(const std::string& text, std::string_view what) {
  const std::string lower = Lower(text);
  const std::string wanted = Lower(what);
  return std::search(lower.begin(), lower.end(),
                     std::boyer_moore_horspool_searcher(wanted.begin(), wanted.end())) !=
         lower.end();
}

// " (a page titled "...")", or nothing for a page without a title.
std::string TitledAs(std::string_view utf8) {
  const std::string title = PageTitle(utf8, 80);
  return title.empty() ? std::string() : " (a page titled \"" + title + "\")";
}

}  // namespace

std::string NotTheSitesPage(const FetchedPage& page, const SiteDefinition& site) {
  if (page.Failed()) {
    return std::string();
  }
  if (site.pageFormat == PageFormat::kJson) {
    const Text body = ToText(page.body);
    if (!nlohmann::json::accept(body.view().begin(), body.view().end())) {
      return "the page is not JSON" + TitledAs(body.view());
    }
  }
  if (site.pageFormat == PageFormat::kXml) {
    const Text body = ToText(page.body);
    if (!IsSitesFeed(body.view(), site)) {
      return "the page is not the site's feed" + TitledAs(body.view());
    }
  }
  if (!site.checkPageText.empty() && !HoldsNoCase(PageUtf8(page, site), site.checkPageText)) {
    return "not the site: '" + site.checkPageText + "' is not on the page";
  }
  return std::string();
}

void FailIfNotTheSite(FetchedPage& page, const SiteDefinition& site) {
  if (std::string reason = NotTheSitesPage(page, site); !reason.empty()) {
    page.failure = std::move(reason);
  }
}

std::string ChallengeTitle(const FetchedPage& page) {
  const std::string_view body = page.body.view();
  const std::string title = PageTitle(body, 80);
  const std::string lower = Lower(title);
  const bool titled = std::any_of(kChallengeTitles.begin(), kChallengeTitles.end(),
                                  [&](std::string_view start) { return lower.starts_with(start); });
  if (titled || body.find(kChallengeMarker) != std::string_view::npos) {
    return title.empty() ? std::string("(untitled)") : title;
  }
  return std::string();
}

const char* VerdictName(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::kOk:
      return "ok";
    case CheckVerdict::kNoRows:
      return "no-rows";
    case CheckVerdict::kUnreachable:
      return "unreachable";
    case CheckVerdict::kBlocked:
      return "blocked";
    default:
      return "not-the-site";
  }
}

std::optional<CheckVerdict> VerdictNamed(std::string_view name) {
  for (const CheckVerdict verdict :
       {CheckVerdict::kOk, CheckVerdict::kNoRows, CheckVerdict::kUnreachable,
        CheckVerdict::kBlocked, CheckVerdict::kNotTheSite}) {
    if (name == VerdictName(verdict)) {
      return verdict;
    }
  }
  return std::nullopt;
}

SiteCheck JudgeCheckPage(const WalkedPage& walked, const SiteDefinition& site) {
  const FetchedPage& page = walked.fetch.page;
  SiteCheck check;
  check.rows = walked.entries.rows.size();
  check.reason = page.failure;
  if (page.status == 0) {
    check.verdict = CheckVerdict::kUnreachable;
    check.reason = page.failure.empty() ? "no answer" : page.failure;
    check.rows = 0;
    return check;
  }
  check.mirror = walked.fetch.base;
  const std::string challenge = ChallengeTitle(page);
  if (page.status == 403 || page.status == 429 || page.status == 503 || !challenge.empty()) {
    check.verdict = CheckVerdict::kBlocked;
    if (!challenge.empty()) {
      check.reason =
          "a challenge page: \"" + challenge + "\"" +
          (page.status >= 400 ? " (HTTP " + std::to_string(page.status) + ")" : std::string());
    }
  } else if (page.Failed()) {
    check.verdict = CheckVerdict::kNotTheSite;
  } else if (check.rows > 0) {
    check.verdict = CheckVerdict::kOk;
  } else {
    check.verdict = CheckVerdict::kNoRows;
    const std::string keyword =
        site.checkKeyword.empty() ? std::string(kDefaultCheckKeyword) : site.checkKeyword;
    check.reason =
        "no rows for '" + keyword + "'" +
        (walked.entries.problems.empty() ? std::string() : ": " + walked.entries.problems.front());
  }
  if (check.verdict != CheckVerdict::kOk && check.verdict != CheckVerdict::kNoRows) {
    check.rows = 0;
  }
  return check;
}

SiteCheck CheckSite(std::shared_ptr<const SiteDefinition> site, std::vector<Text> bases) {
  const std::string keyword =
      site->checkKeyword.empty() ? std::string(kDefaultCheckKeyword) : site->checkKeyword;
  SiteWalk walk(site, std::move(bases), Text(keyword), 1);
  return JudgeCheckPage(walk.Next(), *site);
}

}  // namespace mf
