// magnet-finder-cli: the search and the magnet links of one detail page, in a terminal or a
// script. See CliHelpText() (--help) for the command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "cli/cli_options.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "cli/search_sites.h"
#include "cli/site_commands.h"
#include "cli/site_probe.h"
#include "cli/sites_check.h"
#include "cli/stoppable_run.h"
#include "platform/printable_text.h"
#include "site/result_page.h"
#include "site/site_address.h"
#include "site/site_catalogue.h"
#include "site/site_definition.h"
#include "web/proxy_setting.h"
#include "web/web_request.h"

#ifndef MF_VERSION
#define MF_VERSION "unknown"
#endif

namespace {

using mf::cli::CliOptions;
using mf::cli::Command;

constexpr int kUsage = 2;

int UsageError(const std::string& error) {
  std::fprintf(stderr, "magnet-finder-cli: %s (see --help)\n", error.c_str());
  return kUsage;
}

// The site from --site, --mirror and the environment, made the site in use; an error line when
// one of them cannot be used. Without --site the catalogue is not read: the built-in site.
std::string ChooseSite(const CliOptions& options) {
  std::variant<mf::Text, std::string> base =
      options.mirror ? mf::ParseSiteAddress(*options.mirror) : mf::SiteFromEnvironment();
  if (auto* error = std::get_if<std::string>(&base)) {
    return options.mirror ? "--mirror: " + *error : *error;
  }
  mf::ChosenSite chosen;
  if (options.site) {
    auto found = mf::ChooseSite(*options.site, mf::LoadSiteCatalogue());
    if (auto* error = std::get_if<std::string>(&found)) {
      return "--site: " + *error;
    }
    chosen = std::get<mf::ChosenSite>(found);
  }
  // --mirror, else an address in --site, else the environment, else the first mirror.
  const mf::Text& mirror = std::get<mf::Text>(base);
  const mf::Text& at = options.mirror || chosen.base.empty() ? mirror : chosen.base;
  if (chosen.definition) {
    mf::UseSite(chosen.definition, at.empty() ? std::nullopt : std::optional(at));
  } else if (!at.empty()) {
    mf::UseSearchSite(at);
  }
  return std::string();
}

// The progress of one site says "page K/N"; that of several names each site.
mf::cli::Progress ProgressOf(const CliOptions& options,
                             const std::vector<mf::cli::SearchSite>& sites) {
  const auto style = mf::cli::Progress::StyleFor(stderr, options.quiet);
  const auto pagesOf = [&](const mf::cli::SearchSite& site) {
    return site.definition->PagesToWalk(options.pages);
  };
  if (sites.size() == 1) {
    return mf::cli::Progress(stderr, style, pagesOf(sites[0]));
  }
  std::vector<mf::cli::Progress::Site> named;
  for (const mf::cli::SearchSite& site : sites) {
    named.push_back({site.definition->id, pagesOf(site)});
  }
  return mf::cli::Progress(stderr, style, std::move(named));
}

int Search(const CliOptions& options) {
  auto chosen = mf::cli::ChooseSearchSites(options);
  if (auto* error = std::get_if<std::string>(&chosen)) {
    return UsageError(*error);
  }
  mf::cli::SearchSites& search = std::get<mf::cli::SearchSites>(chosen);
  // A keyword is sent as each site takes it: one that a site cannot send is refused.
  for (const mf::cli::SearchSite& site : search.sites) {
    if (std::string refusal = mf::KeywordRefusal(options.keyword, *site.definition);
        !refusal.empty()) {
      return UsageError(refusal);
    }
  }
  for (const std::string& skipped : search.skipped) {
    std::fprintf(stderr, "magnet-finder-cli: %s\n", skipped.c_str());
  }
  if (search.sites.empty()) {
    std::fputs("magnet-finder-cli: no usable site definition\n", stderr);
    return 1;
  }
  return mf::cli::RunStoppable([&] {
    mf::cli::Progress progress = ProgressOf(options, search.sites);
    return mf::cli::RunSearch(options, std::move(search.sites), stdout, progress);
  });
}

int SitesCheck(CliOptions options) {
  options.allSites = options.sites.empty();
  auto chosen = mf::cli::ChooseSearchSites(options);
  if (auto* error = std::get_if<std::string>(&chosen)) {
    // The sites are named as words here, not by --site.
    return UsageError(error->starts_with("--site: ") ? "sites check: " + error->substr(8) : *error);
  }
  mf::cli::SearchSites& check = std::get<mf::cli::SearchSites>(chosen);
  for (const std::string& skipped : check.skipped) {
    std::fprintf(stderr, "magnet-finder-cli: %s\n", skipped.c_str());
  }
  return mf::cli::RunStoppable(
      [&] { return mf::cli::RunSitesCheck(options, check.sites, stdout, stderr); });
}

int RunSiteCommand(const CliOptions& options) {
  switch (options.command) {
    case Command::kSites:
      return mf::cli::RunSites(stdout);
    case Command::kSitesCheck:
      return SitesCheck(options);
    case Command::kSiteLint:
      return mf::cli::RunSiteLint(options.sites, stdout);
    default:
      return mf::cli::RunSiteTest(options.sites, stdout);
  }
}

// `status`, once what stdio still holds for stdout is written; 1 when that fails.
int WithOutputWritten(int status) {
  // A text larger than stdio's buffer is written past it: its error stays in the stream's flag.
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return status;
  }
  if (status != 0) {
    return status;  // a command that failed on its output has said so
  }
  if (errno != EPIPE) {
    std::fprintf(stderr, "magnet-finder-cli: cannot write the output: %s\n", std::strerror(errno));
  }
  return 1;
}

int Run(const CliOptions& options) {
  if (options.verbose) {
    mf::EnableFailureLog();
  }
  if (options.proxy) {
    mf::UseProxy(*options.proxy);
  }
  if (options.command == Command::kSiteProbe) {
    return mf::cli::RunStoppable([&] { return mf::cli::RunSiteProbe(options, stdout, stderr); });
  }
  if (options.command != Command::kSearch && options.command != Command::kMagnets) {
    return RunSiteCommand(options);
  }
  if (options.command == Command::kSearch) {
    return Search(options);
  }
  if (const std::string error = ChooseSite(options); !error.empty()) {
    return UsageError(error);
  }
  if (const mf::SiteInUse site = mf::CurrentSite(); site.definition->magnetPattern.empty()) {
    return UsageError("magnets: the site '" + mf::platform::PrintableText(site.definition->id) +
                      "' has no detail pages: its rows carry their magnet links (search prints "
                      "them)");
  }
  {
    const std::string problem = mf::WebAddressProblem(options.url);
    if (!problem.empty()) {
      return UsageError(problem);
    }
    return mf::cli::RunStoppable([&] { return mf::cli::RunMagnets(options, stdout, stderr); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = mf::cli::ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc));
  mf::HideProxyPasswords(argc, argv);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    return UsageError(*error);
  }
  const CliOptions& options = std::get<CliOptions>(parsed);
  switch (options.command) {
    case Command::kHelp:
      std::fputs(mf::cli::CliHelpText(), stdout);
      return WithOutputWritten(0);
    case Command::kVersion:
      std::fputs("magnet-finder-cli " MF_VERSION "\n", stdout);
      return WithOutputWritten(0);
    case Command::kSearch:
    case Command::kSitesCheck: {
      // The workers (of a search or a check) have counted themselves out, but their threads end a
      // moment later (libcurl's and OpenSSL's per-thread state goes at the thread's very end). As
      // the window does, the process ends without exit handlers or static destructors, none of
      // which may run beside them; stdout is written out first and stderr holds nothing.
      const int status = WithOutputWritten(Run(options));
      std::quick_exit(status);
    }
    default:
      return WithOutputWritten(Run(options));
  }
}
