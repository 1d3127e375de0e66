#include "cli/search_sites.h"

#include <optional>

#include "site/site_address.h"
#include "site/site_catalogue.h"
#include "site/site_walk.h"

namespace mf::cli {
namespace {

std::string Quoted(const std::string& value) {
  return "'" + value + "'";
}

}  // namespace

std::variant<SearchSites, std::string> ChooseSearchSites(const CliOptions& options) {
  std::variant<Text, std::string> replacement =
      options.mirror ? ParseSiteAddress(*options.mirror) : SiteFromEnvironment();
  if (auto* error = std::get_if<std::string>(&replacement)) {
    return options.mirror ? "--mirror: " + *error : *error;
  }
  const Text& mirror = std::get<Text>(replacement);
  SearchSites chosen;
  if (!options.allSites && options.sites.empty()) {
    chosen.sites.push_back({std::make_shared<const SiteDefinition>(BuiltInSite()),
                            MirrorBases(BuiltInSite(), mirror)});
    return chosen;
  }
  const SiteCatalogue catalogue = LoadSiteCatalogue();
  if (options.allSites) {
    for (const CatalogueEntry& entry : catalogue.entries) {
      if (!entry.definition) {
        chosen.skipped.push_back("skipped " + FirstError(entry.problems));
      }
    }
    for (auto& definition : catalogue.Usable()) {
      chosen.sites.push_back({definition, MirrorBases(*definition, mirror)});
    }
    return chosen;
  }
  std::vector<std::string> givenAs;
  for (const std::string& name : options.sites) {
    auto found = ChooseSite(name, catalogue);
    if (auto* error = std::get_if<std::string>(&found)) {
      return "--site: " + *error;
    }
    const ChosenSite& site = std::get<ChosenSite>(found);
    for (std::size_t i = 0; i < chosen.sites.size(); ++i) {
      if (chosen.sites[i].definition->id == site.definition->id) {
        return "--site: " + Quoted(givenAs[i]) + " and " + Quoted(name) + " are both the site " +
               Quoted(site.definition->id);
      }
    }
    const Text& at = options.mirror || site.base.empty() ? mirror : site.base;
    chosen.sites.push_back({site.definition, MirrorBases(*site.definition, at)});
    givenAs.push_back(name);
  }
  return chosen;
}

}  // namespace mf::cli
