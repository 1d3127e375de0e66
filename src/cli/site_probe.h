// magnet-finder-cli site probe ID|FILE KEYWORD: a live check of one site definition, for the person
// who writes or repairs it. Walks the first result pages for the keyword through the site's
// mirrors, shows for each page what came back and what the definition found in it (and, when it
// found nothing, what can be said of the page), fetches the first row's detail page, and with
// --save writes the pages and a copy of the definition whose tests pin what they gave, ready for
// `site test`.
//
// Runs on the command's killable thread (stoppable_run.h): a kill ends a fetch at once.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace mf::cli {

// 0 when every page gave entries; 1 when a page gave none or could not be fetched, or --save
// could not write; 2 when the site or the mirror cannot be used. Findings go to `out`, the lines
// that end the command early to `err`.
int RunSiteProbe(const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace mf::cli
