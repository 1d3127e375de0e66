// The sites a search from the window walks: the site in use alone (site_address.h), or several
// ticked in the site menu, or every site ("全部站点"), or given as --site a,b. Several are walked
// at once (site_walkers.h). Any thread may read them; the UI thread changes them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "site/site_catalogue.h"
#include "site/site_walkers.h"
#include "support/text_types.h"

namespace mf {

struct SiteDefinition;

// The sites a search walks now: several when several were chosen, else the site in use alone.
std::vector<SearchSite> SitesInUse();
// The definitions of SitesInUse().
std::vector<std::shared_ptr<const SiteDefinition>> SiteDefinitionsInUse();
bool SeveralSitesInUse();

// Makes `sites` (two or more) the sites in use, the first the site in use; each at `replacement`
// (an address as ParseSiteAddress gives it, replacing every mirror's scheme, host and port) when
// given, else at its own base when it has one, else at MAGNET_FINDER_SITE when that is set. One
// site makes it the site in use alone.
void UseSites(const std::vector<ChosenSite>& sites, const Text& replacement = Text());
// Back to the site in use alone; UseSite does not do this by itself.
void UseOneSite();

// The ids of the sites, as the settings file keeps several: "a,b".
std::string JoinedSiteIds(const std::vector<std::shared_ptr<const SiteDefinition>>& sites);

}  // namespace mf
