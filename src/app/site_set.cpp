#include "app/site_set.h"

#include <mutex>
#include <variant>

#include "site/site_address.h"
#include "site/site_definition.h"
#include "site/site_walk.h"

namespace mf {
namespace {

struct SiteSet {
  std::mutex mutex;
  std::vector<SearchSite> sites;  // empty: the site in use alone
};

SiteSet& TheSiteSet() {
  static SiteSet* const set = new SiteSet;  // workers may read after main
  return *set;
}

}  // namespace

std::vector<SearchSite> SitesInUse() {
  {
    SiteSet& set = TheSiteSet();
    const std::lock_guard lock(set.mutex);
    if (!set.sites.empty()) {
      return set.sites;
    }
  }
  const SiteInUse site = CurrentSite();
  return {SearchSite{site.definition, site.mirrors}};
}

std::vector<std::shared_ptr<const SiteDefinition>> SiteDefinitionsInUse() {
  std::vector<std::shared_ptr<const SiteDefinition>> definitions;
  for (const SearchSite& site : SitesInUse()) {
    definitions.push_back(site.definition);
  }
  return definitions;
}

bool SeveralSitesInUse() {
  SiteSet& set = TheSiteSet();
  const std::lock_guard lock(set.mutex);
  return !set.sites.empty();
}

void UseSites(const std::vector<ChosenSite>& sites, const Text& replacement) {
  if (sites.empty()) {
    return;
  }
  Text environment;
  if (auto fromEnvironment = SiteFromEnvironment();
      auto* base = std::get_if<Text>(&fromEnvironment)) {
    environment = *base;
  }
  const auto baseOf = [&](const ChosenSite& site) {
    return !replacement.empty() ? replacement : !site.base.empty() ? site.base : environment;
  };
  const Text first = baseOf(sites.front());
  UseSite(sites.front().definition, first.empty() ? std::nullopt : std::optional<Text>(first));
  std::vector<SearchSite> several;
  if (sites.size() > 1) {
    for (const ChosenSite& site : sites) {
      several.push_back({site.definition, MirrorBases(*site.definition, baseOf(site))});
    }
  }
  SiteSet& set = TheSiteSet();
  const std::lock_guard lock(set.mutex);
  set.sites = std::move(several);
}

void UseOneSite() {
  SiteSet& set = TheSiteSet();
  const std::lock_guard lock(set.mutex);
  set.sites.clear();
}

std::string JoinedSiteIds(const std::vector<std::shared_ptr<const SiteDefinition>>& sites) {
  std::string ids;
  for (const auto& site : sites) {
    ids += (ids.empty() ? "" : ",") + site->id;
  }
  return ids;
}

}  // namespace mf
