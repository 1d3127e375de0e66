// Waiting in tests: on a condition with a deadline, never for a fixed time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace mf::test {

using namespace std::chrono_literals;

// Looks at `done` every millisecond until it holds or `limit` has passed; true when it held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration limit = 10s);

// A gate that stalled handlers wait at until the test lets them go (at most a minute, so that a
// failed test cannot hang the run).
class Gate {
 public:
  void Wait();
  void Open();
  // True once a handler has reached the gate.
  bool Entered();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool entered_ = false;
};

}  // namespace mf::test
