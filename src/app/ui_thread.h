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

// Work a worker hands to the UI thread without waiting for it to run, so that the worker goes on
// (fetching its next page) while the UI thread takes it up. Handed work runs in order with the
// worker's calls above, and a kill drops it as it drops a waiting call: once the worker is
// killed, none of its work runs. One piece at a time: handing the next waits until the UI thread
// has run the one before, and so does the end of the object, so no work of a worker is left
// behind it to run after the worker has ended. Owned by the worker's thread.
class UiThreadHandOver {
 public:
  UiThreadHandOver();
  ~UiThreadHandOver();
  UiThreadHandOver(const UiThreadHandOver&) = delete;
  UiThreadHandOver& operator=(const UiThreadHandOver&) = delete;

  // From the UI thread itself (or before there is an application object) the work runs at once.
  void Hand(std::function<void()> work);

 private:
  struct Pending;
  void WaitForPending() noexcept;
  std::unique_ptr<Pending> pending_;
};

// The same for a call with a result.
template <typename Result>
Result CallOnUiThread(std::function<Result()> work) {
  auto result = std::make_shared<Result>();
  RunOnUiThread([work = std::move(work), result] { *result = work(); });
  return std::move(*result);
}

}  // namespace mf
