// magnet-finder-cli sites check: a live check of several sites at once (site/site_check.h), each
// on a thread of its own and ended at its deadline by a kill of its fetch, the verdicts written in
// the order the sites were given and kept for `sites` and the window (site/check_record.h).
//
// Runs on the command's thread, which a signal may kill (stoppable_run.h): a kill ends its wait at
// once, and on its way out it kills every check still running and waits for them (bounded).
#pragma once

#include <chrono>
#include <cstdio>
#include <vector>

#include "cli/cli_options.h"
#include "cli/search_sites.h"

namespace mf::cli {

// How long a site has to give its first page.
inline constexpr std::chrono::seconds kCheckDeadline{10};

// Checks `sites`, options.jobs at the same time, writes one line per site (or, with
// options.format json, one array) to `out` and notes to `errors`, and keeps the verdicts in the
// user's cache. Returns the exit status: 0 when every site is ok, 1 otherwise.
int RunSitesCheck(const CliOptions& options, const std::vector<SearchSite>& sites, std::FILE* out,
                  std::FILE* errors,
                  std::chrono::milliseconds deadline = std::chrono::milliseconds(kCheckDeadline));

}  // namespace mf::cli
