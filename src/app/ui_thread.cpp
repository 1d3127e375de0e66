#include "app/ui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "platform/threads.h"

namespace mf {
namespace {

// What a waiting worker and the UI thread share about one request.
struct Request {
  explicit Request(std::function<void()> w) : work(std::move(w)) {}

  std::function<void()> work;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool dropped = false;  // the worker was killed: the work must not run
};

bool OnUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

void Carry(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard lock(request->mutex);
    if (request->dropped) {
      return;
    }
  }
  request->work();
  std::lock_guard lock(request->mutex);
  request->done = true;
  request->finished.notify_all();
}

}  // namespace

void RunOnUiThread(std::function<void()> work) {
  if (OnUiThread()) {
    work();
    return;
  }
  platform::UnwindIfKilled();
  auto request = std::make_shared<Request>(std::move(work));
  // Runs on the killing thread, which is the UI thread: a request it has not carried yet is
  // dropped before it gets there.
  platform::KillWakeup wakeup([request] {
    std::lock_guard lock(request->mutex);
    request->dropped = true;
    request->finished.notify_all();
  });
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [request] { Carry(request); }, Qt::QueuedConnection);
  {
    std::unique_lock lock(request->mutex);
    request->finished.wait(lock, [&] { return request->done || request->dropped; });
  }
  platform::UnwindIfKilled();
}

}  // namespace mf
