// The sites a search walks, from --site (one or a comma-separated list of ids, files and
// addresses), --all-sites, --mirror and MAGNET_FINDER_SITE. Reads the catalogue only when a site
// is named or all are asked for: with neither, the built-in site.
#pragma once

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_options.h"
#include "site/site_definition.h"
#include "site/site_walkers.h"
#include "support/text_types.h"

namespace mf::cli {

using mf::SearchSite;

struct SearchSites {
  std::vector<SearchSite> sites;  // in the order given; the catalogue's order for --all-sites
  // --all-sites: one line per broken definition passed over, "skipped FILE:LINE:COL: error: ...".
  std::vector<std::string> skipped;
};

// The sites, or one line naming the value that cannot be used. An address in --site is the
// built-in site there; --mirror, else that address, else MAGNET_FINDER_SITE, takes the place of
// the scheme, host and port of every mirror of every site.
std::variant<SearchSites, std::string> ChooseSearchSites(const CliOptions& options);

}  // namespace mf::cli
