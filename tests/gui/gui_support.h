// What the widget tests share: finding controls, and page scrapers that stand in for the site.
#pragma once

#include <QDeadlineTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/text_edge.h"
#include "platform/threads.h"

namespace mf::test {

inline QString Q(const Text& text) {
  return ToQString(text);
}

// Workers left by a test are killed and must end; their dropped requests are then drained.
inline bool EndAllWorkers() {
  const bool ended = platform::KillAllThreadsAndWait(std::chrono::seconds(10));
  QCoreApplication::processEvents();
  return ended;
}

// Runs the event loop as the program does, without the pauses of QTRY_, until `done` holds.
// False when it still does not after `timeoutMs`.
template <typename Done>
bool RunUntil(Done done, int timeoutMs = 10000) {
  QDeadlineTimer deadline(timeoutMs);
  QTimer tick;  // wakes the loop now and then to look at `done` again
  tick.start(2);
  while (!done()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// A page scraper that blocks until its worker is killed, as a transfer to a silent site would.
// `Entered` tells how many calls have reached the block.
class BlockingScraper {
 public:
  static void Scrape(const Text&, const Text&) {
    {
      std::lock_guard lock(mutex_);
      ++entered_;
    }
    std::mutex mutex;
    std::condition_variable woken;
    bool killed = false;
    platform::KillWakeup wakeup([&] {
      std::lock_guard lock(mutex);
      killed = true;
      woken.notify_all();
    });
    std::unique_lock lock(mutex);
    woken.wait(lock, [&] { return killed; });
    lock.unlock();
    platform::UnwindIfKilled();
  }

  static int Entered() {
    std::lock_guard lock(mutex_);
    return entered_;
  }
  static void Reset() {
    std::lock_guard lock(mutex_);
    entered_ = 0;
  }

 private:
  static inline std::mutex mutex_;
  static inline int entered_ = 0;
};

// A page scraper that remembers every (keyword, page) it was asked for.
class RecordingScraper {
 public:
  struct Call {
    Text keyword;
    Text page;
  };

  static void Scrape(const Text& keyword, const Text& page) {
    std::lock_guard lock(mutex_);
    calls_.push_back({keyword, page});
  }
  static std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  static QStringList Pages() {
    QStringList pages;
    for (const Call& call : Calls()) {
      pages << Q(call.page);
    }
    return pages;
  }
  static void Reset() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

 private:
  static inline std::mutex mutex_;
  static inline std::vector<Call> calls_;
};

}  // namespace mf::test
