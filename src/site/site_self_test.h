// Site layer: a definition's own tests, run offline through the code a real search runs: the
// address a keyword gives, and the rows and magnet links that saved pages give, against those the
// definition expects.
//
// Saved pages are read from the definition's folder; a definition without one (the embedded
// built-in site) runs its address tests only. The calling thread must not be in an apartment of
// its own (the run enters one). Reads files; no network.
#pragma once

#include <string>
#include <vector>

#include "site/result_page.h"
#include "site/site_definition.h"

namespace mf {

struct SiteTestOutcome {
  const SiteTest* test = nullptr;
  enum class Result { kPassed, kFailed, kSkipped } result = Result::kPassed;
  // What went wrong, one line each, printable (control bytes escaped): the first differences
  // between what was expected and what came out, or why the saved page could not be read.
  std::vector<std::string> lines;
};

std::vector<SiteTestOutcome> RunSiteTests(const SiteDefinition& site);

// Rows as a result-page test writes them (UTF-8): title and address, and with `fullRows` every
// optional field too (the hash as 40 lower-case hex digits). A result-page test compares the rows
// that its saved page gives, built on the first mirror, in this form.
std::vector<SiteTest::Row> RowsAsTested(const std::vector<EntryRow>& rows, bool fullRows);

}  // namespace mf
