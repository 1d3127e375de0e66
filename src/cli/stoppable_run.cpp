#include "cli/stoppable_run.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "platform/threads.h"

namespace mf::cli {
namespace {

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);  // only RunStoppable sends it, to end its watcher
  return set;
}

}  // namespace

int RunStoppable(const std::function<int()>& command) {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // inherited by every thread started below
  // The command runs on this thread, which the watcher kills on a signal: no thread of its own
  // is left to finish while the process ends.
  const platform::KillableThisThread killable;
  std::atomic<int> stoppedBy{0};
  std::thread watcher([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    if (signal != SIGUSR1) {
      stoppedBy = signal;
      platform::TerminateThread(killable.handle(), platform::STILL_ACTIVE);
    }
  });
  int result = 1;
  try {
    result = command();
  } catch (const platform::ThreadKilled&) {
    // Stopped by a signal: the command unwound at its next cancellation point.
  }
  if (stoppedBy == 0) {
    // Still waiting, unless a signal came just now: then it has ended by itself.
    pthread_kill(watcher.native_handle(), SIGUSR1);
  }
  watcher.join();
  return stoppedBy != 0 ? 128 + stoppedBy : result;
}

}  // namespace mf::cli
