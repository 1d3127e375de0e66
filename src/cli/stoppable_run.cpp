#include "cli/stoppable_run.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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
// The stop signal the watcher saw; set before it takes the signal off the pending set, so that
// a look at the pending signals and then at this (UnwindIfStopping) always sees one of the two.
std::atomic<int> stoppedBy{0};

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

// Waits until one of `signals` is pending for the watcher (SIGUSR1 is sent to it alone, the stop
// signals to the process), without taking it: a signal descriptor becomes readable then, and only
// a read, or sigwait, would take the signal. Returns the first stop signal pending, else SIGUSR1.
int AwaitSignal(const sigset_t& signals) {
  const int descriptor = signalfd(-1, &signals, SFD_CLOEXEC);
  if (descriptor >= 0) {
    pollfd readable{descriptor, POLLIN, 0};
    while (poll(&readable, 1, -1) < 0 && errno == EINTR) {
    }
    close(descriptor);
  }
  sigset_t pending;
  sigpending(&pending);
  for (const int signal : {SIGINT, SIGTERM, SIGUSR1}) {
    if (sigismember(&pending, signal) == 1) {
      return signal;
    }
  }
  int signal = 0;
  sigwait(&signals, &signal);  // no descriptor to be had: take it, as before
  return signal;
}

// Takes `signal` off the pending set, now that it is recorded.
void TakeSignal(int signal) {
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  constexpr timespec kNoWait{0, 0};
  sigtimedwait(&only, nullptr, &kNoWait);
}

}  // namespace

void UnwindIfStopping() {
  // The pending signals first, then the watcher's record: the watcher records a signal before it
  // takes it off the pending set, so a signal that came before this call is in one of the two.
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
    const int signal = AwaitSignal(signals);
    if (signal != SIGUSR1) {
      stoppedBy = signal;
      TakeSignal(signal);
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
