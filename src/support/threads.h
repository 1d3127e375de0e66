// Support layer, for program code: starting and ending worker threads, entering apartments.
//
// A thread started here can be ended early with `KillThread`. The end is cooperative (see
// platform/threads.h): the thread is marked killed, what it blocks on is woken, and it unwinds at
// its next cancellation point.
#pragma once

#include <cstdint>

#include "platform/threads.h"

namespace mf {

using platform::ThreadHandle;
using ThreadRoutine = platform::ThreadProc;

// Starts `routine(parameter)` at once and returns its handle (0 on failure), which the caller
// owns. The new thread's identifier goes to `identifier` when given.
ThreadHandle StartThread(ThreadRoutine routine, void* parameter = nullptr,
                         std::int32_t* identifier = nullptr);

// Ends a running thread: it does nothing more of its work. No effect for handle 0, an unknown
// handle or an ended thread. The handle stays open.
void KillThread(ThreadHandle handle);

// Starts `routine(parameter)` at once. With `handle`, the handle goes there and belongs to the
// caller; without it, the handle is closed at once and the thread runs on unobserved.
bool RunOnNewThread(ThreadRoutine routine, void* parameter = nullptr,
                    ThreadHandle* handle = nullptr);

void EnterComApartment();
void LeaveComApartment();

// Enters the apartment for the span of a scope, so that every way out leaves it again.
class ComApartmentScope {
 public:
  ComApartmentScope() { EnterComApartment(); }
  ~ComApartmentScope() { LeaveComApartment(); }
  ComApartmentScope(const ComApartmentScope&) = delete;
  ComApartmentScope& operator=(const ComApartmentScope&) = delete;
};

}  // namespace mf
