// Site layer: every site definition the programs can find, and the choice of one by id, file or
// address.
//
// Definitions come from three places, later ones overriding earlier ones with the same id: the
// built-in one (embedded), the bundled folder (share/magnet-finder/sites/ beside the installed
// programs, or the source tree's sites/ when run from a build tree), and the user's folder
// ($XDG_DATA_HOME/magnet-finder/sites/, by default ~/.local/share/magnet-finder/sites/). A
// folder that is missing or unreadable holds nothing; a broken file is listed with its problems
// and skipped. The programs never write to these folders. Any thread; no shared state.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "site/site_definition.h"
#include "support/text_types.h"

namespace mf {

struct CatalogueEntry {
  std::string file;                                  // "built-in" for the embedded one
  std::shared_ptr<const SiteDefinition> definition;  // null when the file is broken
  std::vector<SiteProblem> problems;                 // errors and warnings
  bool overridden = false;                           // a later file has the same id
};

struct SiteCatalogue {
  std::vector<CatalogueEntry> entries;  // built-in, bundled, user; each folder by file name

  // The definition in use for `id`; null when none.
  std::shared_ptr<const SiteDefinition> Find(std::string_view id) const;
  // Every definition in use, the built-in one first, then by id.
  std::vector<std::shared_ptr<const SiteDefinition>> Usable() const;
};

// The folders searched after the built-in definition, in order (they need not exist).
std::vector<std::string> SiteFolders();
std::string UserSiteFolder();

SiteCatalogue LoadSiteCatalogue();
// The same over the given folders (tests and benchmarks).
SiteCatalogue LoadSiteCatalogue(const std::vector<std::string>& folders);

// What the user asked for with --site: an id, a definition file (a path ending in .yaml or .yml),
// or an address (http:// or https://: the built-in site at that address). The chosen definition
// and its base (empty text: its own first mirror), or an error line naming the value.
struct ChosenSite {
  std::shared_ptr<const SiteDefinition> definition;
  Text base;
};
std::variant<ChosenSite, std::string> ChooseSite(std::string_view value,
                                                 const SiteCatalogue& catalogue);

}  // namespace mf
