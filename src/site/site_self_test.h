// Site layer: a definition's own tests, run offline through the code a real search runs: the
// address a keyword gives, and the rows and magnet links that saved pages give, against those the
// definition expects.
//
// Saved pages are read from the definition's folder; a definition without one (the embedded
// built-in site) runs its address tests only. The calling thread must not be in an apartment of
// its own (the run enters one). Reads files; no network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "site/result_page.h"
#include "site/site_definition.h"

namespace mf {

class RegExpMatcher;
class regex;

struct SiteTestOutcome {
  const SiteTest* test = nullptr;
  enum class Result { kPassed, kFailed, kSkipped } result = Result::kPassed;
  // What went wrong, one line each, printable (control bytes escaped): the first differences
  // between what was expected and what came out, or why the saved page could not be read.
  std::vector<std::string> lines;
};

std::vector<SiteTestOutcome> RunSiteTests(const SiteDefinition& site);

// Warnings, at each test's place, for the groups of an HTML site that capture on its own saved
// pages what no link can be: a link group's text with spaces or markup, or without any of
// '/', '.', '?', '=' and digits (a label such as "下载"), and a magnet group's text that does
// not start with "magnet:". A wrong group number is the usual cause. Pages that cannot be read
// give nothing here (the tests report them).
std::vector<SiteProblem> SavedPageCaptureWarnings(const SiteDefinition& site);

// Rows as a result-page test writes them (UTF-8): title and address, and with `fullRows` every
// optional field too (the hash as 40 lower-case hex digits). A result-page test compares the rows
// that its saved page gives, built on the first mirror, in this form. The rows are `site`'s.
std::vector<SiteTest::Row> RowsAsTested(const std::vector<EntryRow>& rows, bool fullRows,
                                        const SiteDefinition& site);

// What the tests read, for a program that writes tests (site probe --save), so that what it
// writes is what they will find.
//
// The address of result page `page` for `keyword` (UTF-8), built on the first mirror; UTF-8.
std::string TestAddress(const SiteDefinition& site, const std::string& keyword, std::int32_t page);
// The entries of a saved result page's bytes, read in the site's page encoding (or as `charset`,
// what the answer named, says), detail addresses built on the first mirror.
PageEntries SavedPageEntries(const SiteDefinition& site, RegExpMatcher& matcher, regex& markup,
                             const Bytes& body, const std::string& charset);
// The magnet links of a saved detail page's bytes, as written (UTF-8).
std::vector<std::string> SavedPageMagnets(const SiteDefinition& site, RegExpMatcher& matcher,
                                          const Bytes& body, const std::string& charset);

}  // namespace mf
