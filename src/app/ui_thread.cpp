#include "app/ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

#include "platform/threads.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

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

// A request on its way through the UI thread's event queue.
class RequestEvent : public QEvent {
 public:
  explicit RequestEvent(std::shared_ptr<Request> request)
      : QEvent(Kind()), request_(std::move(request)) {}

  static QEvent::Type Kind() {
    static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kind;
  }
  const std::shared_ptr<Request>& request() const { return request_; }

 private:
  std::shared_ptr<Request> request_;
};

// The event queue's locks belong to the toolkit, which is not built for ThreadSanitizer: these
// two tell it that everything the worker did before posting happens before the UI thread takes
// the event up.
void HandOver(const QEvent* event) {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(const_cast<QEvent*>(event));
#else
  (void)event;
#endif
}

void TakeOver(const QEvent* event) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(const_cast<QEvent*>(event));
#else
  (void)event;
#endif
}

void Carry(Request& request) {
  {
    std::lock_guard lock(request.mutex);
    if (request.dropped) {
      return;
    }
  }
  request.work();
  {
    std::lock_guard lock(request.mutex);
    request.done = true;
  }
  // Outside the lock, so the woken worker does not block on it at once; the event still owns
  // the request.
  request.finished.notify_one();
}

// Receives the requests on the UI thread.
class Carrier : public QObject {
 public:
  bool event(QEvent* event) override {
    TakeOver(event);
    if (event->type() != RequestEvent::Kind()) {
      return QObject::event(event);
    }
    Carry(*static_cast<RequestEvent*>(event)->request());
    return true;
  }
};

QObject& TheCarrier() {
  static Carrier* const carrier = [] {
    auto* created = new Carrier;
    created->moveToThread(QCoreApplication::instance()->thread());
    return created;
  }();
  return *carrier;
}

}  // namespace

bool IsUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

void RunOnUiThread(std::function<void()> work) {
  if (IsUiThread()) {
    work();
    return;
  }
  platform::UnwindIfKilled();
  auto request = std::make_shared<Request>(std::move(work));
  // Runs on the killing thread, which is the UI thread: a request it has not carried yet is
  // dropped before it gets there.
  platform::KillWakeup wakeup([request] {
    {
      std::lock_guard lock(request->mutex);
      request->dropped = true;
    }
    request->finished.notify_one();
  });
  auto* event = new RequestEvent(request);
  HandOver(event);
  QCoreApplication::postEvent(&TheCarrier(), event);
  {
    std::unique_lock lock(request->mutex);
    request->finished.wait(lock, [&] { return request->done || request->dropped; });
  }
  platform::UnwindIfKilled();
}

}  // namespace mf
