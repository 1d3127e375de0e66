// Site layer: telling a site's own pages from other answers, and the live check of a site
// (magnet-finder-cli sites check): its first result page for the definition's check keyword,
// judged with exactly one verdict.
//
// A page a walk fetched is not the site's when it cannot be read in the site's format (a JSON
// site's page that does not parse as JSON) or lacks the text the definition's `check` names as on
// every page of the site (a parked or resold domain). Such a page counts as a failed page in every
// walk. CheckSite blocks on the network; everything else is pure. Any thread.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/page_fetch.h"
#include "site/site_definition.h"
#include "support/text_types.h"

namespace mf {

struct WalkedPage;

// Why `page`, a page fetched for `site`, is not one of the site's pages ("the page is not JSON",
// "not the site: 'TEXT' is not on the page"); empty when it may be one. A page that failed already
// keeps its own reason.
std::string NotTheSitesPage(const FetchedPage& page, const SiteDefinition& site);
// Makes that reason the page's failure.
void FailIfNotTheSite(FetchedPage& page, const SiteDefinition& site);

// The title of a challenge page (a "Just a moment..." page put before a site by its front), or
// empty when `page` is none.
std::string ChallengeTitle(const FetchedPage& page);

enum class CheckVerdict { kOk, kNoRows, kUnreachable, kBlocked, kNotTheSite };
// "ok", "no-rows", "unreachable", "blocked", "not-the-site".
const char* VerdictName(CheckVerdict verdict);
std::optional<CheckVerdict> VerdictNamed(std::string_view name);

// The keyword a check searches for when the definition names none: a word Chinese index sites,
// the built-in one among them, always have results for.
inline constexpr std::string_view kDefaultCheckKeyword = "电影";

struct SiteCheck {
  CheckVerdict verdict = CheckVerdict::kUnreachable;
  std::size_t rows = 0;  // on the first page
  Text mirror;           // the mirror that answered; empty when none did
  // What the verdict rests on ("HTTP 403", "cannot connect (...)"), UTF-8; empty for ok.
  std::string reason;
};

// The verdict on the first page of a check's walk of `site`:
//   unreachable   no answer: the name not resolved, the connection refused or timed out, TLS
//                 failed, or the connection ended before an answer
//   blocked       HTTP 403, 429 or 503, or a challenge page whatever its status
//   not-the-site  any other answer that is not the site's page: another HTTP error (404, 500,
//                 502, ...), a redirect away from the mirrors, an empty page, a JSON site's page
//                 that is not JSON, a page without the definition's check page-text
//   no-rows       the site's page, without rows
//   ok            the site's page, with rows
SiteCheck JudgeCheckPage(const WalkedPage& page, const SiteDefinition& site);

// Fetches the first result page of `site` at `bases` for its check keyword (kDefaultCheckKeyword
// when it names none) and judges it. Blocks the calling thread, which must be in an apartment; a
// kill abandons it at once (platform::ThreadKilled).
SiteCheck CheckSite(std::shared_ptr<const SiteDefinition> site, std::vector<Text> bases);

}  // namespace mf
