#include "site/site_catalogue.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>

#include "site/site_address.h"

#ifndef MF_SOURCE_SITES_DIR
#define MF_SOURCE_SITES_DIR ""
#endif

namespace mf {
namespace {

namespace fs = std::filesystem;

bool IsDefinitionFile(const fs::path& path) {
  const std::string extension = path.extension().string();
  return extension == ".yaml" || extension == ".yml";
}

// The definition files of `folder`, by name; nothing when it cannot be read.
std::vector<fs::path> DefinitionFiles(const std::string& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (IsDefinitionFile(it->path()) && it->is_regular_file(error)) {
      files.push_back(it->path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string BundledFolder() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path installed = program.parent_path().parent_path() / "share/magnet-finder/sites";
    if (fs::is_directory(installed, error)) {
      return installed.string();
    }
  }
  return MF_SOURCE_SITES_DIR;
}

CatalogueEntry EntryOf(LoadedSite loaded, std::string file) {
  CatalogueEntry entry{std::move(file), nullptr, std::move(loaded.problems), false};
  if (loaded.definition) {
    entry.definition = std::make_shared<const SiteDefinition>(std::move(*loaded.definition));
  }
  return entry;
}

// Every file loaded, in order. Parsing is most of a catalogue's cost at start-up; with many files,
// a second thread parses the later half.
std::vector<LoadedSite> LoadFiles(const std::vector<std::string>& files) {
  constexpr std::size_t kWorthASecondThread = 16;
  std::vector<LoadedSite> loaded(files.size());
  const auto load = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      loaded[i] = LoadSiteFile(files[i]);
    }
  };
  if (files.size() < kWorthASecondThread) {
    load(0, files.size());
    return loaded;
  }
  const std::size_t half = files.size() / 2;
  std::thread second(load, half, files.size());
  load(0, half);
  second.join();
  return loaded;
}

std::string Known(const SiteCatalogue& catalogue) {
  std::string known;
  for (const auto& site : catalogue.Usable()) {
    known += (known.empty() ? "" : ", ") + site->id;
  }
  return known;
}

}  // namespace

std::shared_ptr<const SiteDefinition> SiteCatalogue::Find(std::string_view id) const {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (entry->definition && entry->definition->id == id) {
      return entry->definition;
    }
  }
  return nullptr;
}

std::vector<std::shared_ptr<const SiteDefinition>> SiteCatalogue::Usable() const {
  std::vector<std::shared_ptr<const SiteDefinition>> usable;
  for (const CatalogueEntry& entry : entries) {
    if (entry.definition && !entry.overridden) {
      usable.push_back(entry.definition);
    }
  }
  const std::string builtIn = BuiltInSite().id;
  std::stable_sort(usable.begin(), usable.end(), [&](const auto& a, const auto& b) {
    return std::pair(a->id != builtIn, a->id) < std::pair(b->id != builtIn, b->id);
  });
  return usable;
}

std::string UserSiteFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
  if (data != nullptr && data[0] == '/') {
    return std::string(data) + "/magnet-finder/sites";
  }
  return home != nullptr && home[0] != '\0'
             ? std::string(home) + "/.local/share/magnet-finder/sites"
             : std::string();
}

std::vector<std::string> SiteFolders() {
  std::vector<std::string> folders;
  for (std::string folder : {BundledFolder(), UserSiteFolder()}) {
    if (!folder.empty()) {
      folders.push_back(std::move(folder));
    }
  }
  return folders;
}

SiteCatalogue LoadSiteCatalogue() {
  return LoadSiteCatalogue(SiteFolders());
}

SiteCatalogue LoadSiteCatalogue(const std::vector<std::string>& folders) {
  SiteCatalogue catalogue;
  catalogue.entries.push_back(
      {"built-in", std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}), {}, false});
  std::vector<std::string> files;
  for (const std::string& folder : folders) {
    for (const fs::path& file : DefinitionFiles(folder)) {
      files.push_back(file.string());
    }
  }
  for (LoadedSite& loaded : LoadFiles(files)) {
    catalogue.entries.push_back(
        EntryOf(std::move(loaded), std::move(files[catalogue.entries.size() - 1])));
  }
  std::map<std::string, CatalogueEntry*> latest;
  for (CatalogueEntry& entry : catalogue.entries) {
    if (!entry.definition) {
      continue;
    }
    CatalogueEntry*& before = latest[entry.definition->id];
    if (before != nullptr) {
      before->overridden = true;
    }
    before = &entry;
  }
  return catalogue;
}

std::variant<ChosenSite, std::string> ChooseSite(std::string_view value,
                                                 const SiteCatalogue& catalogue) {
  const std::string given(value);
  if (value.find("://") != std::string_view::npos) {
    auto base = ParseSiteAddress(value);
    if (auto* error = std::get_if<std::string>(&base)) {
      return *error;
    }
    return ChosenSite{catalogue.Find(BuiltInSite().id), std::get<Text>(base)};
  }
  if (IsDefinitionFile(fs::path(given))) {
    LoadedSite loaded = LoadSiteFile(given);
    if (!loaded.definition) {
      return FirstError(loaded.problems);
    }
    return ChosenSite{std::make_shared<const SiteDefinition>(std::move(*loaded.definition)), {}};
  }
  if (auto found = catalogue.Find(value)) {
    return ChosenSite{found, {}};
  }
  for (const CatalogueEntry& entry : catalogue.entries) {
    if (!entry.definition && fs::path(entry.file).stem() == given) {
      return "site '" + given + "' is broken: " + FirstError(entry.problems);
    }
  }
  if (given.empty()) {
    return "an empty site: give an id, a definition file or an address";
  }
  return "unknown site '" + given + "' (known: " + Known(catalogue) + ")";
}

}  // namespace mf
