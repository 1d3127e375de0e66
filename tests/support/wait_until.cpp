#include "wait_until.h"

#include <thread>

namespace mf::test {

bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

void Gate::Wait() {
  std::unique_lock lock(mutex_);
  entered_ = true;
  changed_.notify_all();
  changed_.wait_for(lock, 60s, [this] { return open_; });
}

void Gate::Open() {
  std::lock_guard lock(mutex_);
  open_ = true;
  changed_.notify_all();
}

bool Gate::Entered() {
  std::lock_guard lock(mutex_);
  return entered_;
}

}  // namespace mf::test
