#include "cli/stoppable_run.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/threads.h"
#include "support/threads.h"

namespace mf::cli {
namespace {

// What the command's thread, the signal thread and the caller share.
struct Run {
  const std::function<int()>* command = nullptr;
  int result = 1;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::atomic<int> stoppedBy{0};
};

// Tells the caller, also when the command unwinds after a kill.
struct EndNotice {
  Run& run;
  ~EndNotice() {
    {
      std::lock_guard lock(run.mutex);
      run.done = true;
    }
    run.ended.notify_all();
  }
};

std::uint32_t RunCommand(void* parameter) {
  Run& run = *static_cast<Run*>(parameter);
  const EndNotice notice{run};
  run.result = (*run.command)();
  return 0;
}

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);  // only the caller sends it, to end the signal thread
  return set;
}

}  // namespace

int RunStoppable(const std::function<int()>& command) {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // inherited by every thread started below
  Run run;
  run.command = &command;
  const ThreadHandle worker = StartThread(&RunCommand, &run);
  if (worker == 0) {
    return 1;
  }
  std::thread watcher([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    if (signal != SIGUSR1) {
      run.stoppedBy = signal;
      KillThread(worker);
    }
  });
  {
    std::unique_lock lock(run.mutex);
    run.ended.wait(lock, [&] { return run.done; });
  }
  if (run.stoppedBy == 0) {
    pthread_kill(watcher.native_handle(), SIGUSR1);
  }
  watcher.join();
  // The command has returned; let its thread finish too before the process goes on to end.
  platform::KillAllThreadsAndWait(std::chrono::seconds(1));
  platform::CloseHandle(worker);
  const int stoppedBy = run.stoppedBy;
  return stoppedBy != 0 ? 128 + stoppedBy : run.result;
}

}  // namespace mf::cli
