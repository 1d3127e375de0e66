#include "cli/site_commands.h"

#include <memory>
#include <variant>

#include "cli/cli_output.h"
#include "platform/printable_text.h"
#include "site/check_record.h"
#include "site/site_catalogue.h"
#include "site/site_self_test.h"

namespace mf::cli {
namespace {

void Write(std::FILE* out, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), out);
}

std::string StatusOf(const CatalogueEntry& entry) {
  if (!entry.definition) {
    return FirstError(entry.problems);
  }
  return entry.overridden ? "ok, overridden by a later file" : "ok";
}

// "ok at 2026-09-01T12:00:00Z", "not checked here" before the first check, "-" for a file that
// does not load.
std::string LastCheckOf(const SiteDefinition* site, const CheckRecords& checks) {
  if (site == nullptr) {
    return "-";
  }
  const auto found = checks.find(site->id);
  return found == checks.end() ? "not checked here"
                               : std::string(VerdictName(found->second.verdict)) + " at " +
                                     CheckTime(found->second.at);
}

// Runs the tests of one definition and writes its report; true when none failed.
bool TestOne(const SiteDefinition& site, std::FILE* out) {
  const std::vector<SiteTestOutcome> outcomes = RunSiteTests(site);
  int failed = 0;
  int skipped = 0;
  std::string details;
  for (const SiteTestOutcome& outcome : outcomes) {
    if (outcome.result == SiteTestOutcome::Result::kPassed) {
      continue;
    }
    const bool skip = outcome.result == SiteTestOutcome::Result::kSkipped;
    (skip ? skipped : failed) += 1;
    details += "  " + platform::PrintableText(site.file) + ":" +
               std::to_string(outcome.test->line) + ": " + (skip ? "skipped" : "failed") + "\n";
    for (const std::string& line : outcome.lines) {
      details += "    " + line + "\n";
    }
  }
  const std::size_t passed = outcomes.size() - static_cast<std::size_t>(failed + skipped);
  std::string summary = platform::PrintableText(site.id) + ": " + std::to_string(passed) + " of " +
                        std::to_string(outcomes.size()) + " tests passed";
  summary += failed > 0 ? ", " + std::to_string(failed) + " failed" : "";
  summary += skipped > 0 ? ", " + std::to_string(skipped) + " skipped" : "";
  summary += outcomes.empty() ? " (the definition has no tests)" : "";
  Write(out, summary + "\n" + details);
  return failed == 0;
}

}  // namespace

int RunSites(std::FILE* out) {
  const SiteCatalogue catalogue = LoadSiteCatalogue();
  const CheckRecords checks = ReadCheckRecords();
  Write(out, "id\tname\tmirror\tfile\tstatus\tlast check\n");
  for (const CatalogueEntry& entry : catalogue.entries) {
    const SiteDefinition* site = entry.definition.get();
    Write(out, TsvField(site ? site->id : "-") + "\t" + TsvField(site ? site->name : "-") + "\t" +
                   TsvField(site ? platform::AddressWithoutPassword(site->mirrors.front()) : "-") +
                   "\t" + TsvField(entry.file) + "\t" + TsvField(StatusOf(entry)) + "\t" +
                   LastCheckOf(site, checks) + "\n");
  }
  return 0;
}

int RunSiteLint(const std::vector<std::string>& files, std::FILE* out) {
  bool anyError = false;
  for (const std::string& file : files) {
    LoadedSite loaded = LoadSiteFile(file);
    if (loaded.definition) {
      for (SiteProblem& warning : SavedPageCaptureWarnings(*loaded.definition)) {
        loaded.problems.push_back(std::move(warning));
      }
    }
    for (const SiteProblem& problem : loaded.problems) {
      Write(out, problem.ToString() + "\n");
    }
    anyError = anyError || !loaded.definition;
    if (loaded.problems.empty()) {
      Write(out, platform::PrintableText(file) + ": ok\n");
    }
  }
  return anyError ? 1 : 0;
}

int RunSiteTest(const std::vector<std::string>& sites, std::FILE* out) {
  const SiteCatalogue catalogue = LoadSiteCatalogue();
  bool allPassed = true;
  if (sites.empty()) {
    for (const CatalogueEntry& entry : catalogue.entries) {
      if (!entry.definition) {
        Write(out, FirstError(entry.problems) + "\n");
        allPassed = false;
      } else if (!entry.overridden) {
        allPassed = TestOne(*entry.definition, out) && allPassed;
      }
    }
    return allPassed ? 0 : 1;
  }
  for (const std::string& given : sites) {
    const auto chosen = ChooseSite(given, catalogue);
    if (const auto* error = std::get_if<std::string>(&chosen)) {
      Write(out, platform::PrintableText(*error) + "\n");
      allPassed = false;
      continue;
    }
    allPassed = TestOne(*std::get<ChosenSite>(chosen).definition, out) && allPassed;
  }
  return allPassed ? 0 : 1;
}

}  // namespace mf::cli
