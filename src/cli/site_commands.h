// The site commands of magnet-finder-cli: sites, site lint and site test. They read definition
// files, saved pages and the verdicts of earlier checks, and fetch nothing. Each returns the exit
// status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace mf::cli {

// Every definition found: id, name, first mirror, file, status and the verdict and time of its
// last check (sites_check.h), tab-separated with a header.
int RunSites(std::FILE* out);

// The problems of each file, one line each; 1 when any file has an error.
int RunSiteLint(const std::vector<std::string>& files, std::FILE* out);

// The tests of each definition named (an id or a file; none: every definition found), with the
// differences of those that fail; 1 when any fails or a definition cannot be loaded.
int RunSiteTest(const std::vector<std::string>& sites, std::FILE* out);

}  // namespace mf::cli
