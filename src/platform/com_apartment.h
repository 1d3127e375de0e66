// Platform layer, for the automation runtime and support/threads, the program's way in.
//
// Per-thread automation apartments: a count per thread. Automation calls made on a thread that
// is in no apartment fail like any failed call.
#pragma once

namespace mf::platform {

inline constexpr long S_OK = 0;
inline constexpr long S_FALSE = 1;

// Enters (or, when already in one, re-enters) the calling thread's apartment. `reserved` must be
// null. S_OK the first time, S_FALSE when nested.
long CoInitialize(void* reserved);
// Undoes one CoInitialize of the calling thread; no effect when there is none.
void CoUninitialize();

// How many CoInitialize calls of this thread are not undone yet.
int ComApartmentDepth();

}  // namespace mf::platform
