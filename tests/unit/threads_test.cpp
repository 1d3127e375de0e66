#include "support/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/com_apartment.h"
#include "platform/threads.h"
#include "wait_until.h"

namespace mf {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::WaitUntil;

std::uint32_t ExitCodeOf(ThreadHandle handle) {
  std::uint32_t code = 0;
  EXPECT_TRUE(platform::GetExitCodeThread(handle, &code));
  return code;
}

// A killed thread keeps STILL_ACTIVE as its final code, so the end shows only in the count of
// running threads. Each test ends its own threads before the next starts.
bool AllEnded() {
  return platform::RunningThreadCount() == 0;
}

// A worker that blocks on a condition variable until released or killed, the way a transfer
// or a wait for the window blocks.
struct BlockingWorker {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  bool woken = false;
  std::atomic<bool> waiting{false};
  std::atomic<bool> reachedEnd{false};
  std::atomic<bool> cleanedUp{false};

  void Wake() {
    std::lock_guard lock(mutex);
    woken = true;
    changed.notify_all();
  }
  void Release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }

  static std::uint32_t Run(void* parameter) {
    auto& self = *static_cast<BlockingWorker*>(parameter);
    struct Cleanup {
      BlockingWorker& worker;
      ~Cleanup() { worker.cleanedUp = true; }
    } cleanup{self};
    {
      // The wake-up is registered before the lock it takes is held, so that a kill never waits
      // on this thread.
      platform::KillWakeup wakeup([&self] { self.Wake(); });
      std::unique_lock lock(self.mutex);
      self.waiting = true;
      self.changed.wait(lock, [&self] { return self.released || self.woken; });
    }
    platform::UnwindIfKilled();
    self.reachedEnd = true;
    return 7;
  }
};

TEST(ThreadsTest, KillEndsAThreadBlockedAtACancellationPointPromptly) {
  BlockingWorker worker;
  const ThreadHandle handle = StartThread(&BlockingWorker::Run, &worker);
  ASSERT_NE(handle, 0);
  ASSERT_TRUE(WaitUntil([&] { return worker.waiting.load(); }));
  EXPECT_EQ(ExitCodeOf(handle), platform::STILL_ACTIVE);

  const auto killedAt = Clock::now();
  KillThread(handle);
  ASSERT_TRUE(WaitUntil(AllEnded, 2s));
  const auto took = Clock::now() - killedAt;

  EXPECT_LT(took, 500ms);
  // The code read while it ran becomes its final code; it did none of the rest of its work, and
  // its destructors ran on the way out.
  EXPECT_EQ(ExitCodeOf(handle), platform::STILL_ACTIVE);
  EXPECT_FALSE(worker.reachedEnd);
  EXPECT_TRUE(worker.cleanedUp);
  EXPECT_FALSE(platform::TerminateThread(handle, 1));
}

TEST(ThreadsTest, AThreadLeftAloneEndsWithItsOwnCodeAndAKillAfterwardsKeepsIt) {
  BlockingWorker worker;
  std::int32_t identifier = 0;
  const ThreadHandle handle = StartThread(&BlockingWorker::Run, &worker, &identifier);
  ASSERT_NE(handle, 0);
  EXPECT_NE(identifier, 0);
  ASSERT_TRUE(WaitUntil([&] { return worker.waiting.load(); }));
  worker.Release();
  ASSERT_TRUE(WaitUntil(AllEnded));
  EXPECT_EQ(ExitCodeOf(handle), 7u);
  EXPECT_TRUE(worker.reachedEnd);

  KillThread(handle);
  EXPECT_FALSE(platform::TerminateThread(handle, 99));
  EXPECT_EQ(ExitCodeOf(handle), 7u);
}

TEST(ThreadsTest, HandleZeroAndUnknownHandlesHaveNoEffect) {
  KillThread(0);
  KillThread(123457);
  EXPECT_FALSE(platform::TerminateThread(0, 1));
  std::uint32_t code = 42;
  EXPECT_FALSE(platform::GetExitCodeThread(0, &code));
  EXPECT_FALSE(platform::GetExitCodeThread(123457, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_FALSE(platform::CloseHandle(0));
  EXPECT_EQ(StartThread(nullptr), 0);
  EXPECT_FALSE(RunOnNewThread(nullptr));
}

TEST(ThreadsTest, RunOnNewThreadWithoutAHandleStillRunsToItsEnd) {
  struct Job {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    static std::uint32_t Run(void* parameter) {
      auto& job = *static_cast<Job*>(parameter);
      std::lock_guard lock(job.mutex);
      job.finished = true;
      job.done.notify_all();
      return 0;
    }
  } job;
  ASSERT_TRUE(RunOnNewThread(&Job::Run, &job));
  std::unique_lock lock(job.mutex);
  EXPECT_TRUE(job.done.wait_for(lock, 5s, [&] { return job.finished; }));
  lock.unlock();
  ASSERT_TRUE(WaitUntil(AllEnded));
}

TEST(ThreadsTest, RunOnNewThreadWithAHandleHandsItOverAndItCanBeKilled) {
  BlockingWorker worker;
  ThreadHandle handle = 0;
  ASSERT_TRUE(RunOnNewThread(&BlockingWorker::Run, &worker, &handle));
  ASSERT_NE(handle, 0);
  ASSERT_TRUE(WaitUntil([&] { return worker.waiting.load(); }));
  KillThread(handle);
  ASSERT_TRUE(WaitUntil(AllEnded));
  EXPECT_FALSE(worker.reachedEnd);
  EXPECT_TRUE(platform::CloseHandle(handle));
  EXPECT_FALSE(platform::CloseHandle(handle));
}

TEST(ThreadsTest, UnwindIfKilledRunsDestructorsAndKeepsTheKillCode) {
  struct Spinner {
    std::atomic<bool> started{false};
    std::atomic<bool> destroyed{false};
    static std::uint32_t Run(void* parameter) {
      auto& self = *static_cast<Spinner*>(parameter);
      struct Guard {
        Spinner& spinner;
        ~Guard() { spinner.destroyed = true; }
      } guard{self};
      self.started = true;
      // A busy worker with no wake-up notices the kill at its next step.
      while (true) {
        platform::UnwindIfKilled();
        std::this_thread::yield();
      }
    }
  } spinner;
  const ThreadHandle handle = StartThread(&Spinner::Run, &spinner);
  ASSERT_TRUE(WaitUntil([&] { return spinner.started.load(); }));
  EXPECT_TRUE(platform::TerminateThread(handle, 55));
  ASSERT_TRUE(WaitUntil(AllEnded));
  EXPECT_EQ(ExitCodeOf(handle), 55u);
  EXPECT_TRUE(spinner.destroyed);
}

TEST(ThreadsTest, KillWakeupOnAKilledThreadFiresAtOnceAndAfterItsScopeNever) {
  struct Probe {
    std::atomic<bool> started{false};
    std::atomic<bool> proceed{false};
    std::atomic<int> earlyWakes{0};
    std::atomic<int> lateWakes{0};
    std::atomic<bool> sawKill{false};
    static std::uint32_t Run(void* parameter) {
      auto& self = *static_cast<Probe*>(parameter);
      {
        platform::KillWakeup unused([&self] { ++self.earlyWakes; });
      }
      self.started = true;
      while (!self.proceed) {
        std::this_thread::yield();
      }
      self.sawKill = platform::IsThisThreadKilled();
      platform::KillWakeup late([&self] { ++self.lateWakes; });
      return 0;
    }
  } probe;
  const ThreadHandle handle = StartThread(&Probe::Run, &probe);
  ASSERT_TRUE(WaitUntil([&] { return probe.started.load(); }));
  KillThread(handle);
  probe.proceed = true;
  ASSERT_TRUE(WaitUntil(AllEnded));
  EXPECT_TRUE(probe.sawKill);
  EXPECT_EQ(probe.earlyWakes, 0);
  EXPECT_EQ(probe.lateWakes, 1);
}

TEST(ThreadsTest, OffCreatedThreadsNothingIsKilledAndWakeupsAreInert) {
  EXPECT_FALSE(platform::IsThisThreadKilled());
  EXPECT_NO_THROW(platform::UnwindIfKilled());
  bool woken = false;
  {
    platform::KillWakeup wakeup([&] { woken = true; });
  }
  EXPECT_FALSE(woken);
}

TEST(ThreadsTest, KillAllThreadsAndWaitEndsEveryBlockedWorker) {
  BlockingWorker first;
  BlockingWorker second;
  const ThreadHandle a = StartThread(&BlockingWorker::Run, &first);
  const ThreadHandle b = StartThread(&BlockingWorker::Run, &second);
  ASSERT_TRUE(WaitUntil([&] { return first.waiting && second.waiting; }));
  EXPECT_EQ(platform::RunningThreadCount(), 2);
  EXPECT_TRUE(platform::KillAllThreadsAndWait(5s));
  EXPECT_EQ(platform::RunningThreadCount(), 0);
  EXPECT_EQ(ExitCodeOf(a), platform::STILL_ACTIVE);
  EXPECT_EQ(ExitCodeOf(b), platform::STILL_ACTIVE);
  EXPECT_FALSE(first.reachedEnd || second.reachedEnd);
}

// A thread of the caller's own becomes killable for a scope: a kill wakes its wait and marks it;
// after the scope its handle is gone and nothing counts it as running.
TEST(ThreadsTest, AThreadOfTheCallersOwnIsKillableForAScope) {
  std::atomic<ThreadHandle> handle{0};
  std::atomic<bool> woken{false};
  std::thread own([&] {
    const platform::KillableThisThread killable;
    std::mutex mutex;
    std::condition_variable wake;
    platform::KillWakeup wakeup([&] {
      std::lock_guard lock(mutex);
      woken = true;
      wake.notify_all();
    });
    handle = killable.handle();
    std::unique_lock lock(mutex);
    wake.wait(lock, [&] { return woken.load(); });
    EXPECT_THROW(platform::UnwindIfKilled(), platform::ThreadKilled);
  });
  ASSERT_TRUE(WaitUntil([&] { return handle != 0; }));
  EXPECT_EQ(platform::RunningThreadCount(), 1);
  EXPECT_TRUE(platform::TerminateThread(handle, 7));
  own.join();
  EXPECT_TRUE(woken);
  EXPECT_EQ(platform::RunningThreadCount(), 0);
  std::uint32_t code = 0;
  EXPECT_FALSE(platform::GetExitCodeThread(handle, &code));
}

TEST(ComApartmentTest, NestedEntriesBalanceBackToTheOuterDepth) {
  const int before = platform::ComApartmentDepth();
  EXPECT_EQ(platform::CoInitialize(nullptr), before == 0 ? platform::S_OK : platform::S_FALSE);
  EnterComApartment();
  EXPECT_EQ(platform::ComApartmentDepth(), before + 2);
  {
    ComApartmentScope scope;
    EXPECT_EQ(platform::ComApartmentDepth(), before + 3);
  }
  LeaveComApartment();
  platform::CoUninitialize();
  EXPECT_EQ(platform::ComApartmentDepth(), before);
  EXPECT_NE(platform::CoInitialize(reinterpret_cast<void*>(1)), platform::S_OK);
  EXPECT_EQ(platform::ComApartmentDepth(), before);
}

TEST(ComApartmentTest, LeavingWithoutEnteringChangesNothingAndDepthIsPerThread) {
  ComApartmentScope mine;
  int depthThere = -1;
  std::thread([&] {
    platform::CoUninitialize();
    EnterComApartment();
    depthThere = platform::ComApartmentDepth();
    LeaveComApartment();
  }).join();
  EXPECT_EQ(depthThere, 1);
  EXPECT_EQ(platform::ComApartmentDepth(), 1);
}

}  // namespace
}  // namespace mf
