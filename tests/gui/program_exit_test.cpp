// Closing the window during a run ends the whole program promptly and cleanly. The program runs
// in a child process (this executable again, with a scenario argument), since it ends its process.
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/ui_thread.h"
#include "gui_support.h"
#include "wait_until.h"

namespace mf::test {
namespace {

constexpr const char* kCloseLabelDuringRun = "--close-label-during-run";
constexpr const char* kEscapeDuringRun = "--escape-during-run";

// Registered before the program registers ReleaseGlobals, so it runs after it: the clean end.
void ReportCleanEnd() {
  std::fputs("released\n", stdout);
  std::fflush(stdout);
}

// Closes the window from the page scrape, as the user would while the page downloads, then
// blocks in the download until the worker is killed.
bool PressCloseThenBlock(const Text& keyword, const Text& page) {
  RunOnUiThread([] {
    if (MainWindow* window = MainWindow::Current()) {
      QTest::mousePress(window->透明标签5, Qt::LeftButton);
    }
  });
  return BlockingScraper::Scrape(keyword, page);
}

// Esc reaches only the active window, as it does for the user; the worker may get here before the
// window is activated.
bool PressEscapeThenBlock(const Text& keyword, const Text& page) {
  WaitUntil([] {
    return CallOnUiThread<bool>([] {
      MainWindow* window = MainWindow::Current();
      return window != nullptr && window->isActiveWindow();
    });
  });
  RunOnUiThread([] {
    if (MainWindow* window = MainWindow::Current()) {
      QTest::keyClick(window, Qt::Key_Escape);
    }
  });
  return BlockingScraper::Scrape(keyword, page);
}

[[noreturn]] void RunScenario(int& argc, char** argv, PageScraper scraper) {
  std::at_quick_exit(ReportCleanEnd);
  SetPageScraper(scraper);
  RunProgram(argc, argv, {.start = true});
}

}  // namespace

class ProgramExitTest : public QObject {
  Q_OBJECT

 private:
  static void ExpectCleanEnd(const char* scenario) {
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(scenario)});
    QVERIFY(child.waitForStarted());
    QVERIFY2(child.waitForFinished(20000), "the program did not end");
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(child.readAllStandardOutput(), QByteArray("released\n"));
  }

 private Q_SLOTS:
  void closeLabelDuringARunEndsTheProgram() { ExpectCleanEnd(kCloseLabelDuringRun); }
  void escapeDuringARunEndsTheProgram() { ExpectCleanEnd(kEscapeDuringRun); }
};

}  // namespace mf::test

int main(int argc, char** argv) {
  using namespace mf::test;
  if (argc == 2 && std::strcmp(argv[1], kCloseLabelDuringRun) == 0) {
    RunScenario(argc, argv, &PressCloseThenBlock);
  }
  if (argc == 2 && std::strcmp(argv[1], kEscapeDuringRun) == 0) {
    RunScenario(argc, argv, &PressEscapeThenBlock);
  }
  QCoreApplication app(argc, argv);
  ProgramExitTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "program_exit_test.moc"
