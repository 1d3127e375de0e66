// Platform layer. Start and kill threads with support/threads.h; include this for cancellation.
//
// Threads in the shape of the system calls the tool was first written against: a table of
// 32-bit handles over std::thread.
//
// Ending a thread is cooperative. `TerminateThread` marks the thread killed and runs the wake-ups
// that the thread registered for what it is blocked on (a transfer, a wait for the window); the
// thread notices at its next cancellation point and unwinds. Nothing is ended by force, so no
// lock of the allocator, the window system or our own is ever left held.
//
// Cancellation points are for code that runs on a killed thread:
//   - `IsThisThreadKilled()` tells whether to stop;
//   - `UnwindIfKilled()` throws `ThreadKilled`, which the thread's entry catches, so the routine
//     unwinds with all its destructors run;
//   - a `KillWakeup` in scope around a blocking wait makes a kill wake that wait at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace mf::platform {

using ThreadHandle = std::int32_t;
using ThreadProc = std::uint32_t (*)(void* parameter);

// The exit code of a thread that has not ended yet.
inline constexpr std::uint32_t STILL_ACTIVE = 259;

// Starts `proc(parameter)` on a new thread at once. Returns its handle, 0 on failure; the
// thread's identifier goes to `threadId` when given.
ThreadHandle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId);
// STILL_ACTIVE while the thread runs, then its exit code. False (and `exitCode` untouched) for an
// unknown handle.
bool GetExitCodeThread(ThreadHandle handle, std::uint32_t* exitCode);
// Marks a running thread killed with `exitCode` as its final code and wakes what it waits on.
// Does not wait for it. False, with no effect, for an unknown handle or an ended thread.
bool TerminateThread(ThreadHandle handle, std::uint32_t exitCode);
// Forgets the handle; the thread goes on running.
bool CloseHandle(ThreadHandle handle);

// Thrown at a cancellation point of a killed thread and caught by the thread's entry. Not a
// std::exception, so that no `catch (const std::exception&)` on the way swallows it.
struct ThreadKilled {};

bool IsThisThreadKilled();
void UnwindIfKilled();

// While it lives, a kill of the current thread calls `wake` (on the killing thread, at most
// once, possibly at once from this constructor when the thread is already killed). `wake` must be
// quick and must not block. On threads not started by `CreateThread` it does nothing.
class KillWakeup {
 public:
  explicit KillWakeup(std::function<void()> wake);
  ~KillWakeup();
  KillWakeup(const KillWakeup&) = delete;
  KillWakeup& operator=(const KillWakeup&) = delete;

 private:
  std::uint64_t id_ = 0;
};

// Makes the calling thread one that TerminateThread can kill, for the life of the object, with
// the same cancellation points as a thread started by CreateThread; the kill's ThreadKilled is
// the owner's to catch. For a thread that the caller owns and joins (the command line runs its
// command on its main thread this way), never for one started by CreateThread.
class KillableThisThread {
 public:
  KillableThisThread();
  ~KillableThisThread();
  KillableThisThread(const KillableThisThread&) = delete;
  KillableThisThread& operator=(const KillableThisThread&) = delete;

  ThreadHandle handle() const { return handle_; }

 private:
  ThreadHandle handle_ = 0;
};

// For the end of the process: kills every thread started by `CreateThread` that still runs,
// then waits up to `timeout` for all of them to end. True when none runs any more.
bool KillAllThreadsAndWait(std::chrono::milliseconds timeout);

// The number of threads started by `CreateThread` that have not ended yet.
int RunningThreadCount();

}  // namespace mf::platform
