#include "cli/sites_check.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "cli/cli_output.h"
#include "cli/stoppable_run.h"
#include "platform/printable_text.h"
#include "platform/request_log.h"
#include "platform/threads.h"
#include "site/check_record.h"
#include "site/site_check.h"
#include "support/threads.h"

namespace mf::cli {
namespace {

using Clock = std::chrono::steady_clock;

// A kill at the deadline ends a fetch or a wait at once; a check busy reading a huge page gets
// this long more to say what it found before it counts as one that gave no answer.
constexpr std::chrono::milliseconds kAfterKill{2000};
// How long the end waits for killed checks to unwind, as the search's walkers do.
constexpr std::chrono::milliseconds kUnwindBound{300};

struct Checked {
  SiteCheck check;
  std::int64_t ms = 0;
};

// What the checks and the command's thread share; outlives both.
struct Shared {
  Shared(std::size_t sites, std::chrono::milliseconds deadline)
      : deadline(deadline), started(sites), results(sites) {}

  const std::chrono::milliseconds deadline;
  std::mutex mutex;
  std::condition_variable changed;  // a result came, or a check ended
  std::vector<Clock::time_point> started;
  std::vector<std::optional<Checked>> results;
  int running = 0;  // check threads that have not ended

  // The first result of a site stands; one given up on at its deadline stays so.
  void Publish(std::size_t index, SiteCheck check) {
    const std::lock_guard lock(mutex);
    if (!results[index]) {
      const auto took =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started[index]);
      results[index] = Checked{std::move(check), took.count()};
    }
    changed.notify_all();
  }

  void Ended() {
    const std::lock_guard lock(mutex);
    --running;
    changed.notify_all();
  }
};

// The verdict on a check that its deadline ended: a site that asked to wait after a 429 or 503
// is blocked; any other gave no answer in time.
SiteCheck OverTime(std::chrono::milliseconds deadline) {
  SiteCheck check;
  const int status = platform::LastRequestOutcome().status;
  const std::string within = " within " + std::to_string((deadline.count() + 999) / 1000) + " s";
  if (status == 429 || status == 503) {
    check.verdict = CheckVerdict::kBlocked;
    check.reason = "HTTP " + std::to_string(status) + ", and no page" + within;
  } else {
    check.verdict = CheckVerdict::kUnreachable;
    check.reason = "no answer" + within;
  }
  return check;
}

struct Job {
  std::shared_ptr<Shared> shared;
  std::size_t index = 0;
  SearchSite site;
};

// A check's thread: one site, one page.
std::uint32_t CheckOne(void* parameter) {
  const std::unique_ptr<Job> job(static_cast<Job*>(parameter));
  Shared& shared = *job->shared;
  struct Counted {
    Shared& shared;
    ~Counted() { shared.Ended(); }
  } const counted{shared};
  const ComApartmentScope apartment;
  try {
    SiteCheck check = CheckSite(job->site.definition, job->site.bases);
    platform::UnwindIfKilled();  // a fetch its deadline ended comes back as "stopped"
    shared.Publish(job->index, std::move(check));
  } catch (const platform::ThreadKilled&) {
    shared.Publish(job->index, OverTime(shared.deadline));
    throw;
  } catch (const std::exception& error) {  // memory ran out on a huge answer, say
    shared.Publish(job->index, {CheckVerdict::kNotTheSite, 0, Text(),
                                std::string("the page could not be read: ") + error.what()});
  }
  return 0;
}

// The checks of the sites, at most `jobs` at a time, each given up on at its deadline. Used by the
// command's thread alone.
class CheckRun {
 public:
  CheckRun(const std::vector<SearchSite>& sites, int jobs, std::chrono::milliseconds deadline)
      : sites_(sites),
        jobs_(static_cast<std::size_t>(std::max(jobs, 1))),
        shared_(std::make_shared<Shared>(sites.size(), deadline)),
        handles_(sites.size()),
        killedAt_(sites.size()) {}

  ~CheckRun() {
    for (const ThreadHandle handle : handles_) {
      KillThread(handle);
    }
    {
      std::unique_lock lock(shared_->mutex);
      shared_->changed.wait_for(lock, kUnwindBound, [&] { return shared_->running == 0; });
    }
    for (const ThreadHandle handle : handles_) {
      if (handle != 0) {
        platform::CloseHandle(handle);
      }
    }
  }
  CheckRun(const CheckRun&) = delete;
  CheckRun& operator=(const CheckRun&) = delete;

  // The result of site `index`, once it has one; checks start as others end meanwhile. A kill of
  // the calling thread ends the wait (platform::ThreadKilled).
  Checked Result(std::size_t index) {
    const platform::KillWakeup wakeup([this] {
      { const std::lock_guard lock(shared_->mutex); }
      shared_->changed.notify_all();
    });
    std::unique_lock lock(shared_->mutex);
    for (;;) {
      StartMore();
      if (shared_->results[index]) {
        return *shared_->results[index];
      }
      shared_->changed.wait_until(lock, NextTurn());
      if (platform::IsThisThreadKilled()) {
        lock.unlock();
        platform::UnwindIfKilled();
      }
      EndOverTime();
    }
  }

 private:
  bool InFlight(std::size_t i) const { return i < next_ && !shared_->results[i]; }

  // Under the lock.
  void StartMore() {
    std::size_t inFlight = 0;
    for (std::size_t i = 0; i < next_; ++i) {
      inFlight += InFlight(i) ? 1 : 0;
    }
    for (; inFlight < jobs_ && next_ < sites_.size(); ++next_, ++inFlight) {
      shared_->started[next_] = Clock::now();
      ++shared_->running;
      auto* job = new Job{shared_, next_, sites_[next_]};
      handles_[next_] = StartThread(CheckOne, job);
      if (handles_[next_] == 0) {
        delete job;
        --shared_->running;
        shared_->results[next_] = Checked{
            {CheckVerdict::kUnreachable, 0, Text(), "cannot start a thread to check it"}, 0};
      }
    }
  }

  // When a check in flight reaches its deadline, or the grace after its kill.
  Clock::time_point NextTurn() const {
    Clock::time_point next = Clock::time_point::max();
    for (std::size_t i = 0; i < next_; ++i) {
      if (InFlight(i)) {
        next = std::min(next, killedAt_[i] ? *killedAt_[i] + kAfterKill
                                           : shared_->started[i] + shared_->deadline);
      }
    }
    return next;
  }

  // Kills the checks past their deadline; gives up on those that did not answer the kill. Under
  // the lock.
  void EndOverTime() {
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < next_; ++i) {
      if (!InFlight(i)) {
        continue;
      }
      if (!killedAt_[i] && now >= shared_->started[i] + shared_->deadline) {
        KillThread(handles_[i]);
        killedAt_[i] = now;
      } else if (killedAt_[i] && now >= *killedAt_[i] + kAfterKill) {
        SiteCheck check;
        check.reason = "no answer within the deadline";
        shared_->results[i] =
            Checked{check, (now - shared_->started[i]) / std::chrono::milliseconds(1)};
      }
    }
  }

  const std::vector<SearchSite>& sites_;
  const std::size_t jobs_;
  std::shared_ptr<Shared> shared_;
  std::vector<ThreadHandle> handles_;
  std::vector<std::optional<Clock::time_point>> killedAt_;
  std::size_t next_ = 0;  // sites started so far
};

void Write(std::FILE* out, const std::string& text) {
  platform::UnwindIfKilled();
  const OutputWriteScope writing;
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

std::string Mirror(const Text& mirror) {
  return platform::AddressWithoutPassword(mirror.view());
}

std::string TsvLine(const std::string& id, const Checked& checked) {
  const SiteCheck& check = checked.check;
  return TsvField(id) + "\t" + VerdictName(check.verdict) + "\t" + std::to_string(check.rows) +
         "\t" + (check.mirror.empty() ? std::string("-") : TsvField(Mirror(check.mirror))) + "\t" +
         std::to_string(checked.ms) + "\t" + TsvField(check.reason) + "\n";
}

std::string JsonObject(const std::string& id, const Checked& checked) {
  const SiteCheck& check = checked.check;
  return "{\"id\":" + JsonString(id) + ",\"verdict\":\"" + VerdictName(check.verdict) +
         "\",\"rows\":" + std::to_string(check.rows) +
         ",\"mirror\":" + (check.mirror.empty() ? "null" : JsonString(Mirror(check.mirror))) +
         ",\"ms\":" + std::to_string(checked.ms) + ",\"reason\":" + JsonString(check.reason) + "}";
}

}  // namespace

int RunSitesCheck(const CliOptions& options, const std::vector<SearchSite>& sites, std::FILE* out,
                  std::FILE* errors, std::chrono::milliseconds deadline) {
  for (const SearchSite& site : sites) {
    if (site.definition->checkKeyword.empty()) {
      Write(errors, "magnet-finder-cli: " + platform::PrintableText(site.definition->id) +
                        ": its definition names no check keyword; searching for " +
                        std::string(kDefaultCheckKeyword) + "\n");
    }
  }
  const bool json = options.format == Format::kJson;
  if (!json) {
    Write(out, "id\tverdict\trows\tmirror\tms\treason\n");
  }
  CheckRun run(sites, options.jobs, deadline);
  CheckRecords records;
  std::string array;
  bool allOk = true;
  for (std::size_t i = 0; i < sites.size(); ++i) {
    const std::string& id = sites[i].definition->id;
    const Checked checked = run.Result(i);
    allOk = allOk && checked.check.verdict == CheckVerdict::kOk;
    records[id] = {checked.check.verdict, static_cast<std::int64_t>(std::time(nullptr))};
    if (json) {
      array += (array.empty() ? "[" : ",\n ") + JsonObject(id, checked);
    } else {
      Write(out, TsvLine(id, checked));
    }
  }
  if (json) {
    Write(out, (array.empty() ? std::string("[") : array) + "]\n");
  }
  if (const std::string error = WriteCheckRecords(records); !error.empty()) {
    Write(errors, "magnet-finder-cli: " + error + "\n");
    return 1;
  }
  return allOk ? 0 : 1;
}

}  // namespace mf::cli
