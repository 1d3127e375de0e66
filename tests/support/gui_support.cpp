#include "gui_support.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/threads.h"
#include "site/site_definition.h"

namespace mf::test {
namespace {

std::mutex scraperMutex;
int blockingEntered = 0;
std::vector<RecordingScraper::Call> recordedCalls;

}  // namespace

bool EndAllWorkers() {
  const bool ended = platform::KillAllThreadsAndWait(std::chrono::seconds(10));
  QCoreApplication::processEvents();
  return ended;
}

bool WriteSiteUnderId(const QString& dataHome, const std::string& id) {
  std::string yaml(BuiltInSiteText());
  const auto change = [&yaml](const std::string& from, const std::string& to) {
    const std::size_t at = yaml.find(from);
    if (at != std::string::npos) {
      yaml.replace(at, from.size(), to);
    }
    return at != std::string::npos;
  };
  const QString folder = dataHome + QStringLiteral("/magnet-finder/sites");
  QFile file(folder + QLatin1Char('/') + QString::fromStdString(id) + QStringLiteral(".yaml"));
  return change("id: cilisousuo", "id: " + id) && change("name: 磁力搜索", "name: 站点 " + id) &&
         change("- http://www.cilisousuo.com", "- http://127.0.0.1:1") &&
         change("/{page}\"", "/{page}?via=" + id + '"') && QDir().mkpath(folder) &&
         file.open(QIODevice::WriteOnly) &&
         file.write(yaml.data(), static_cast<qint64>(yaml.size())) ==
             static_cast<qint64>(yaml.size());
}

MainWindow* OpenWindowRecordingCaptions(QObject* receiver, QStringList& captions) {
  auto* window = new MainWindow;
  window->ShowCentred();
  captions.clear();
  QObject::connect(window->透明标签_状态条, &TransLabel::captionChanged, receiver,
                   [&captions](const QString& caption) { captions << caption; });
  return window;
}

bool CloseWindow(QPointer<MainWindow>& window) {
  const bool ended = EndAllWorkers();
  delete window;
  return ended;
}

bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
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

bool BlockingScraper::Scrape(const Text&, const Text&) {
  {
    std::lock_guard lock(scraperMutex);
    ++blockingEntered;
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
  return false;
}

int BlockingScraper::Entered() {
  std::lock_guard lock(scraperMutex);
  return blockingEntered;
}

void BlockingScraper::Reset() {
  std::lock_guard lock(scraperMutex);
  blockingEntered = 0;
}

bool RecordingScraper::Scrape(const Text& keyword, const Text& page) {
  std::lock_guard lock(scraperMutex);
  recordedCalls.push_back({keyword, page});
  return true;
}

std::vector<RecordingScraper::Call> RecordingScraper::Calls() {
  std::lock_guard lock(scraperMutex);
  return recordedCalls;
}

QStringList RecordingScraper::Pages() {
  QStringList pages;
  for (const Call& call : Calls()) {
    pages << Q(call.page);
  }
  return pages;
}

void RecordingScraper::Reset() {
  std::lock_guard lock(scraperMutex);
  recordedCalls.clear();
}

}  // namespace mf::test
