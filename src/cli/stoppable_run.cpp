#include "cli/stoppable_run.h"

#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

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

// SIGINT or SIGTERM when one is pending (and takes it), else 0.
int TakePendingStopSignal() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  constexpr timespec kNoWait{0, 0};
  const int signal = sigtimedwait(&stops, nullptr, &kNoWait);
  return signal > 0 ? signal : 0;
}

std::atomic<int> writesUnderWay{0};
std::atomic<int> stoppedBy{0};  // the stop signal the watcher took; set before it kills

// Ends the process with `status` as _exit does, through the system call itself: the blocked
// writer holds the lock of stdout, which a sanitizer's _exit would wait for to flush it.
[[noreturn]] void EndProcessNow(int status) {
  syscall(SYS_exit_group, status);
  _exit(status);
}

// After the kill: the command normally unwinds within milliseconds and RunStoppable sends
// SIGUSR1. One still inside a write at a look, 50 ms apart, is blocked there; it is not waited for.
void AwaitUnwinding(const sigset_t& signals, int firstSignal) {
  constexpr timespec kLookEvery{0, 50'000'000};
  for (;;) {
    const int signal = sigtimedwait(&signals, nullptr, &kLookEvery);
    if (signal == SIGUSR1) {
      return;
    }
    if (signal == SIGINT || signal == SIGTERM) {
      EndProcessNow(128 + signal);
    }
    if (writesUnderWay.load() > 0) {
      EndProcessNow(128 + firstSignal);
    }
  }
}

}  // namespace

void UnwindIfStopping() {
  sigset_t pending;
  sigpending(&pending);
  if (stoppedBy != 0 || sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1) {
    throw platform::ThreadKilled();
  }
  platform::UnwindIfKilled();
}

OutputWriteScope::OutputWriteScope() {
  ++writesUnderWay;
}

OutputWriteScope::~OutputWriteScope() {
  --writesUnderWay;
}

int RunStoppable(const std::function<int()>& command) {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // inherited by every thread started below
  // The command runs on this thread, which the watcher kills on a signal: no thread of its own
  // is left to finish while the process ends.
  const platform::KillableThisThread killable;
  stoppedBy = 0;
  std::thread watcher([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    if (signal != SIGUSR1) {
      stoppedBy = signal;
      platform::TerminateThread(killable.handle(), platform::STILL_ACTIVE);
      AwaitUnwinding(signals, signal);
    }
  });
  int result = 1;
  try {
    result = command();
  } catch (const platform::ThreadKilled&) {
    // Stopped by a signal: the command unwound at its next cancellation point.
  }
  // Ends the watcher, whether it still waits for a first signal or for the command to unwind.
  pthread_kill(watcher.native_handle(), SIGUSR1);
  watcher.join();
  if (stoppedBy == 0) {
    stoppedBy = TakePendingStopSignal();  // came before the command ended, not yet taken
  }
  return stoppedBy != 0 ? 128 + stoppedBy : result;
}

}  // namespace mf::cli
