// Site layer: walking several sites at the same time for a search, for either front end: a
// bounded number of worker threads, each taking the next site not yet walked, walking it page by
// page (site/site_walk.h) and handing every page to the searching thread through one queue,
// fetching the next page once that thread has taken in the last.
//
// Only the searching thread (the command's, or the window's search worker) writes output: it
// takes the pages from the queue in the order they came, so rows stream as they arrive, and lines
// of different sites never mix. Workers are
// started with StartThread, each in its own apartment, and build their SiteWalk on their own
// thread. A kill of the command's thread (Ctrl-C) wakes its wait on the queue at once; it then
// unwinds, and on its way out kills every worker and waits for them to end (bounded).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "site/site_walk.h"
#include "support/threads.h"

namespace mf {

// A site to walk and the mirrors to walk it on.
struct SearchSite {
  std::shared_ptr<const SiteDefinition> definition;
  std::vector<Text> bases;  // its mirrors, in order, as requests carry them
};

// What a worker hands over: one page of a site, or the end of a site's walk.
struct WalkReport {
  std::size_t site = 0;            // its place in the sites given
  std::optional<WalkedPage> page;  // empty at the end of the site's walk
  // At the end: why the walk stopped before its last page (an error of the walk itself, not of a
  // page); empty when it ran to its end.
  std::string broken;
};

class SiteWalkers {
 public:
  // How long the destructor waits for killed workers to unwind. A killed transfer ends at once,
  // so this only bounds a worker stuck elsewhere; Ctrl-C must end the program within 0.5 s.
  static constexpr std::chrono::milliseconds kUnwindBound{300};

  // Starts min(jobs, sites) workers at once. `keyword` in UTF-8; `pages` caps every site,
  // 0 for each site's own page count.
  SiteWalkers(std::vector<SearchSite> sites, Text keyword, std::int32_t pages, int jobs);
  // Kills the workers still running and waits up to kUnwindBound for them to end.
  ~SiteWalkers();
  SiteWalkers(const SiteWalkers&) = delete;
  SiteWalkers& operator=(const SiteWalkers&) = delete;

  // The next report, in the order they came; nothing once every walk has ended (or no worker
  // could be started: Started() is then 0). A call says that the reports returned before are
  // written: until then their workers wait. A kill of the calling thread ends the wait
  // (platform::ThreadKilled).
  std::optional<WalkReport> Next();

  int Started() const { return static_cast<int>(handles_.size()); }

  struct Shared;  // what the workers and the command's thread share; outlives both

 private:
  std::shared_ptr<Shared> shared_;
  std::vector<ThreadHandle> handles_;
  std::uint64_t taken_ = 0;  // reports Next has returned
};

}  // namespace mf
