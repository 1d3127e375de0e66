#include "site/site_walkers.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/threads.h"

namespace mf {

// Pages wait here until the command's thread has written them, and a worker fetches its next
// page only once its last one is written. So a site's pages go out one after another as a walk
// of one site always did: when its page K+1 is asked for, the rows of page K are out (a Ctrl-C
// then loses none of them), a reader that has gone away (a closed pipe, a full disk) costs the
// site no further request, and a slow reader holds the workers back instead of letting pages
// pile up in memory. The sites still overlap: writing a page takes far less than fetching one.
struct SiteWalkers::Shared {
  Shared(std::vector<SearchSite> sites, Text keyword, std::int32_t pages)
      : sites(std::move(sites)), keyword(std::move(keyword)), pages(pages) {}

  const std::vector<SearchSite> sites;
  const Text keyword;
  const std::int32_t pages;

  std::mutex mutex;
  std::condition_variable changed;  // a report was queued or taken, or a worker ended
  std::deque<WalkReport> queue;
  std::uint64_t queued = 0;   // reports queued so far
  std::uint64_t written = 0;  // of them, those the command's thread has written
  std::size_t nextSite = 0;
  int running = 0;  // workers that have not ended

  // A wake-up for a kill of the calling thread while it waits on `changed`. The kill's wake-up
  // runs on the killing thread; taking the mutex before notifying means the waiter is either
  // not yet waiting (and sees the kill in its predicate) or is woken.
  platform::KillWakeup WakeOnKill() {
    return platform::KillWakeup([this] {
      { const std::lock_guard lock(mutex); }
      changed.notify_all();
    });
  }

  std::optional<std::size_t> TakeSite() {
    const std::lock_guard lock(mutex);
    return nextSite < sites.size() ? std::optional(nextSite++) : std::nullopt;
  }

  // Queues the report and waits until the command's thread has written it; a kill of the worker
  // ends the wait (ThreadKilled).
  void Hand(WalkReport report) {
    const auto wakeup = WakeOnKill();
    std::unique_lock lock(mutex);
    queue.push_back(std::move(report));
    const std::uint64_t ticket = ++queued;
    changed.notify_all();
    changed.wait(lock, [&] { return written >= ticket || platform::IsThisThreadKilled(); });
    if (written < ticket) {
      lock.unlock();
      platform::UnwindIfKilled();
    }
  }

  void WorkerEnded() {
    const std::lock_guard lock(mutex);
    --running;
    changed.notify_all();
  }
};

namespace {

// Counts a worker out however it ends, a kill's unwinding included.
class RunningWorker {
 public:
  explicit RunningWorker(SiteWalkers::Shared& shared) : shared_(shared) {}
  ~RunningWorker() { shared_.WorkerEnded(); }
  RunningWorker(const RunningWorker&) = delete;
  RunningWorker& operator=(const RunningWorker&) = delete;

 private:
  SiteWalkers::Shared& shared_;
};

void WalkSite(SiteWalkers::Shared& shared, std::size_t index) {
  const SearchSite& site = shared.sites[index];
  WalkReport end{index, std::nullopt, {}};
  try {
    SiteWalk walk(site.definition, site.bases, shared.keyword, shared.pages);
    while (!walk.Done()) {
      WalkedPage page = walk.Next();
      page.fetch.page.body = Bytes();  // read already; the queue need not hold it
      shared.Hand(WalkReport{index, std::move(page), {}});
    }
  } catch (const std::exception& error) {
    end.broken = error.what();  // memory ran out, say: this site ends, the others go on
  }
  shared.Hand(std::move(end));
}

// A worker's thread: sites one after another until none is left.
std::uint32_t WalkSites(void* parameter) {
  const std::shared_ptr<SiteWalkers::Shared> shared =
      std::move(*std::unique_ptr<std::shared_ptr<SiteWalkers::Shared>>(
          static_cast<std::shared_ptr<SiteWalkers::Shared>*>(parameter)));
  const RunningWorker counted(*shared);
  const ComApartmentScope apartment;
  while (const auto site = shared->TakeSite()) {
    WalkSite(*shared, *site);
  }
  return 0;
}

}  // namespace

SiteWalkers::SiteWalkers(std::vector<SearchSite> sites, Text keyword, std::int32_t pages,
                         int jobs) {
  const std::size_t workers = std::min(static_cast<std::size_t>(std::max(jobs, 1)), sites.size());
  shared_ = std::make_shared<Shared>(std::move(sites), std::move(keyword), pages);
  for (std::size_t i = 0; i < workers; ++i) {
    {
      const std::lock_guard lock(shared_->mutex);
      ++shared_->running;
    }
    auto* parameter = new std::shared_ptr<Shared>(shared_);
    const ThreadHandle handle = StartThread(WalkSites, parameter);
    if (handle == 0) {
      delete parameter;
      shared_->WorkerEnded();
      break;
    }
    handles_.push_back(handle);
  }
}

SiteWalkers::~SiteWalkers() {
  for (const ThreadHandle handle : handles_) {
    KillThread(handle);
  }
  {
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait_for(lock, kUnwindBound, [&] { return shared_->running == 0; });
  }
  for (const ThreadHandle handle : handles_) {
    platform::CloseHandle(handle);
  }
}

std::optional<WalkReport> SiteWalkers::Next() {
  const auto wakeup = shared_->WakeOnKill();
  std::unique_lock lock(shared_->mutex);
  // The caller is done with every report it took before: their workers may go on.
  shared_->written = taken_;
  shared_->changed.notify_all();
  shared_->changed.wait(lock, [&] {
    return !shared_->queue.empty() || shared_->running == 0 || platform::IsThisThreadKilled();
  });
  if (platform::IsThisThreadKilled()) {
    lock.unlock();
    platform::UnwindIfKilled();
  }
  if (shared_->queue.empty()) {
    return std::nullopt;
  }
  WalkReport report = std::move(shared_->queue.front());
  shared_->queue.pop_front();
  ++taken_;
  return report;
}

}  // namespace mf
