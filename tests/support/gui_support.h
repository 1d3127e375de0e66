// What the window tests share: running the event loop until a condition holds, ending workers,
// and page scrapers that stand in for the site.
#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/text_edge.h"

namespace mf::test {

inline QString Q(const Text& text) {
  return ToQString(text);
}

// Workers left by a test are killed and must end; their dropped requests are then drained.
bool EndAllWorkers();

// A new window, shown, whose status captions are appended to `captions` (cleared first) as they
// are set; `receiver` owns the connection.
MainWindow* OpenWindowRecordingCaptions(QObject* receiver, QStringList& captions);
// Ends the workers, then deletes the window; false when a worker did not end.
bool CloseWindow(QPointer<MainWindow>& window);

// Writes a site definition named `id` into the user's site folder under `dataHome` (as
// XDG_DATA_HOME): the built-in one with that id, a mirror nothing serves, and result addresses
// ending in "?via=ID", which the demo pages ignore and a TestSite's Targets() show.
bool WriteSiteUnderId(const QString& dataHome, const std::string& id);

// Runs the event loop as the program does, without the pauses of QTRY_, until `done` holds.
// False when it still does not after `timeoutMs`.
bool RunUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// A page scraper that blocks until its worker is killed, as a transfer to a silent site would.
// `Entered` tells how many calls have reached the block.
class BlockingScraper {
 public:
  static bool Scrape(const Text& keyword, const Text& page);
  static int Entered();
  static void Reset();
};

// A page scraper that remembers every (keyword, page) it was asked for.
class RecordingScraper {
 public:
  struct Call {
    Text keyword;
    Text page;
  };

  static bool Scrape(const Text& keyword, const Text& page);
  static std::vector<Call> Calls();
  static QStringList Pages();
  static void Reset();
};

}  // namespace mf::test
