#include "cli/site_walkers.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/threads.h"

namespace mf::cli {

// Pages wait here until the command's thread has written them. The queue holds at most two
// reports per worker, so that a slow reader of the output (a pager, a full pipe) holds the workers
// back instead of letting pages pile up in memory, and a reader that has gone away (a closed
// pipe, a full disk) costs the sites few requests more.
struct SiteWalkers::Shared {
  Shared(std::vector<SearchSite> sites, Text keyword, std::int32_t pages, std::size_t mostQueued)
      : sites(std::move(sites)),
        keyword(std::move(keyword)),
        pages(pages),
        mostQueued(mostQueued) {}

  const std::vector<SearchSite> sites;
  const Text keyword;
  const std::int32_t pages;
  const std::size_t mostQueued;

  std::mutex mutex;
  std::condition_variable changed;  // a report was queued or taken, or a worker ended
  std::deque<WalkReport> queue;
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

  // Waits for room in the queue; a kill of the worker ends the wait (ThreadKilled).
  void Hand(WalkReport report) {
    const auto wakeup = WakeOnKill();
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return queue.size() < mostQueued || platform::IsThisThreadKilled(); });
    if (platform::IsThisThreadKilled()) {
      lock.unlock();
      platform::UnwindIfKilled();
    }
    queue.push_back(std::move(report));
    changed.notify_all();
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
  shared_ = std::make_shared<Shared>(std::move(sites), std::move(keyword), pages, 2 * workers);
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
  shared_->changed.notify_all();
  return report;
}

}  // namespace mf::cli
