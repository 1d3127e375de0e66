// The two commands of magnet-finder-cli. Each runs on a thread that a signal may kill
// (stoppable_run.h): a kill ends it at its next request or between two entries, and what it
// has written is whole lines. Both need the calling thread outside any apartment of its own.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"
#include "cli/progress.h"

namespace mf::cli {

// Walks result pages 1..options.pages for options.keyword and writes every entry to `out` as its
// page is read; progress and failed pages go to `progress`. Returns the exit status: 0 when at
// least one page was fetched, 1 when none was.
int RunSearch(const CliOptions& options, std::FILE* out, Progress& progress);

// Fetches the detail page options.url and writes its magnet links to `out`, decoded as a download
// tool wants them (LinkForOpening) or, with options.raw, as the page writes them; with options.open
// also hands each download link (site/download_link.h) to xdg-open and names every other on
// `errors`. Returns the exit status: 0 when the page was fetched (and, with options.open, every
// download link handed over and at least one link opened), 1 otherwise, with the reason on
// `errors`.
int RunMagnets(const CliOptions& options, std::FILE* out, std::FILE* errors);

}  // namespace mf::cli
