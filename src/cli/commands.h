// The two commands of magnet-finder-cli. Each runs on a thread that a signal may kill
// (stoppable_run.h): a kill ends it at its next request or between two entries, and what it
// has written is whole lines. Both need the calling thread outside any apartment of its own.
#pragma once

#include <cstdio>
#include <vector>

#include "cli/cli_options.h"
#include "cli/progress.h"
#include "cli/search_sites.h"

namespace mf::cli {

// Walks the result pages of `sites` for options.keyword (options.pages of each, or each site's
// own count when 0), options.jobs sites at the same time (site_walkers.h), and writes every entry
// to `out` as its page arrives, each torrent with a known info-hash once; progress, failed pages
// and the problems of pages go to `progress`. One site whose rows have a title and a detail
// address only prints the three columns number, title and url; several sites, or rows with more
// fields, print the wide lines (cli_output.h). Returns the exit status: 0 when at least one page
// of any site was fetched, 1 when none was.
int RunSearch(const CliOptions& options, std::vector<SearchSite> sites, std::FILE* out,
              Progress& progress);

// Fetches the detail page options.url and writes its magnet links to `out`, decoded as a download
// tool wants them (LinkForOpening) or, with options.raw, as the page writes them; with options.open
// also hands each download link (site/download_link.h) to xdg-open and names every other on
// `errors`. Returns the exit status: 0 when the page was fetched (and, with options.open, every
// download link handed over and at least one link opened), 1 otherwise, with the reason on
// `errors`.
int RunMagnets(const CliOptions& options, std::FILE* out, std::FILE* errors);

}  // namespace mf::cli
