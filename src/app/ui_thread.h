// Carrying a worker's change of a control over to the thread that owns the window.
//
// A call from a worker blocks until the UI thread has run it, like a window message sent (not
// posted): the worker's changes land in the order it made them, each complete before it goes on.
// From the UI thread itself (or before there is an application object) the call runs at once.
//
// A worker killed while it waits (or before it asks) has its request dropped: the kill runs on
// the UI thread, so by the time the UI thread turns to the request it already knows. The waiting
// worker stops waiting at once and unwinds with platform::ThreadKilled. The callable may therefore
// run after its worker has gone: it must own everything it touches.
#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace mf {

void RunOnUiThread(std::function<void()> work);

// True on the thread that owns the window (or before there is an application object).
bool IsUiThread();

// The same for a call with a result.
template <typename Result>
Result CallOnUiThread(std::function<Result()> work) {
  auto result = std::make_shared<Result>();
  RunOnUiThread([work = std::move(work), result] { *result = work(); });
  return std::move(*result);
}

}  // namespace mf
