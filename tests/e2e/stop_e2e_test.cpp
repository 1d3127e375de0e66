// Stop and Esc during real transfers to a slow and misbehaving site on the loopback: the request
// leaves the wire at once, a stopped run adds nothing more to the window, and Esc ends the
// program promptly. The Esc case runs the program in a child process (this executable again,
// with a scenario argument), since it ends its process.
#include <QProcess>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "demo_pages.h"
#include "gui_support.h"
#include "hostile_server.h"
#include "platform/threads.h"

namespace mf::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kEscapeDuringHeldPage = "--escape-during-held-page";
constexpr const char* kHeldKeyword = "held";

std::string ListTarget(const std::string& keyword, int page) {
  return "/list/" + demo::PercentEncodeUtf8(keyword) + "/" + std::to_string(page);
}

long Microseconds(HostileClock::duration span) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(span).count());
}

// Registered before the program registers ReleaseGlobals, so it runs after it: the clean end.
void ReportCleanEnd() {
  std::fputs("released\n", stdout);
  std::fflush(stdout);
}

// Searches one page, then presses Esc when the test writes a line to standard input.
[[noreturn]] void RunEscapeScenario(int& argc, char** argv) {
  std::at_quick_exit(ReportCleanEnd);
  RunProgram(argc, argv, {}, [](MainWindow& window) {
    window.编辑框_搜索内容->SetText(Text(kHeldKeyword));
    window.编辑框_停止页数->SetText(Text("1"));
    QTest::mouseClick(window.超级按钮_开始解析, Qt::LeftButton);
    auto* input = new QSocketNotifier(0, QSocketNotifier::Read, &window);
    QObject::connect(input, &QSocketNotifier::activated, &window, [&window, input] {
      input->setEnabled(false);
      QTest::keyClick(&window, Qt::Key_Escape);
    });
  });
}

}  // namespace

class StopE2eTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<HostileServer> site_;
  QPointer<MainWindow> window_;
  QStringList captions_;

  int Rows() { return window_->超级列表框1->Rows().RowCount(); }
  void Start(const std::string& keyword, int pages) {
    window_->编辑框_搜索内容->SetText(Text(keyword));
    window_->编辑框_停止页数->SetText(Text(std::to_string(pages)));
    QTest::mouseClick(window_->超级按钮_开始解析, Qt::LeftButton);
  }
  void Stop() { QTest::mouseClick(window_->超级按钮_停止解析, Qt::LeftButton); }
  std::size_t RequestsSoFar() {
    std::size_t count = 0;
    while (site_->Request(count)) {
      ++count;
    }
    return count;
  }
  // Leaves the held request's connection idle for long enough, with the event loop running.
  bool IdleAfterRequest(std::size_t index) {
    if (!RunUntil([&] { return site_->Request(index).has_value(); }, 20000)) {
      return false;
    }
    const auto until = *site_->Request(index)->requestAt + kIdleBeforeKill;
    return RunUntil([&] { return HostileClock::now() >= until; });
  }
  bool WorkersGone() {
    const bool gone = RunUntil([] { return platform::RunningThreadCount() == 0; });
    QCoreApplication::processEvents();
    return gone;
  }

 private Q_SLOTS:
  void initTestCase() {
    site_ = std::make_unique<HostileServer>();
    site_->Script(ListTarget(kHeldKeyword, 1), Silence());
    // Read by the program on its first request, which comes after this; the Esc scenario's
    // child inherits it.
    qputenv("MAGNET_FINDER_SITE", QByteArray::fromStdString(site_->BaseAddress()));
    InitGlobals();
  }

  void cleanupTestCase() {
    ReleaseGlobals();
    site_.reset();
  }

  void init() { window_ = OpenWindowRecordingCaptions(this, captions_); }

  void cleanup() { QVERIFY(CloseWindow(window_)); }

  void stopDropsAHeldRequestAtOnce() {
    const std::size_t index = RequestsSoFar();
    Start(kHeldKeyword, 1);
    QVERIFY(IdleAfterRequest(index));
    const auto stoppedAt = HostileClock::now();
    Stop();
    QVERIFY(RunUntil([&] { return site_->Request(index)->droppedAt.has_value(); }));
    const auto took = *site_->Request(index)->droppedAt - stoppedAt;
    std::printf("Stop to the server seeing the connection dropped: %ld us\n", Microseconds(took));
    QVERIFY(took < kKillBound);
    QVERIFY(WorkersGone());
    QCOMPARE(captions_.last(), QStringLiteral("已销毁线程"));
  }

  void stopAtRandomMomentsLeavesNothingBehind() {
    // A slow page, a page cut off halfway, and a slow page again.
    const std::string keyword = "random";
    for (int page : {1, 3}) {
      site_->Script(ListTarget(keyword, page),
                    SlowReply(demo::MakeResultPage(keyword, page).body, 4, 1ms));
    }
    site_->Script(ListTarget(keyword, 2),
                  RawReply("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n<html><body>"));
    const QString done = QStringLiteral("解析完毕（1页获取失败）");
    // A run to its end, then Stop, as the user ends a finished run before the next one.
    auto runWhole = [&] {
      const int rows = Rows();
      Start(keyword, 3);
      const bool whole = RunUntil([&] { return captions_.last() == done; }) &&
                         Rows() == rows + 2 * demo::kEntriesPerPage;
      Stop();
      return whole;
    };
    QVERIFY(runWhole());  // the first run also starts up what later runs find ready
    const auto start = HostileClock::now();
    QVERIFY(runWhole());
    // Stop moments spread over a whole run (its first 40 ms when it is slow), and a little beyond.
    const auto whole = std::min<HostileClock::duration>(HostileClock::now() - start, 40ms);
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> moment(0, Microseconds(whole) * 5 / 4);
    for (int round = 0; round < 200; ++round) {
      const auto stopAt = HostileClock::now() + std::chrono::microseconds(moment(random));
      Start(keyword, 3);
      QVERIFY(RunUntil([&] { return HostileClock::now() >= stopAt; }));
      Stop();
      const int rows = Rows();
      const qsizetype captions = captions_.size();
      const QByteArray where =
          "round " + QByteArray::number(round) + ", seed " + QByteArray::number(seed);
      QVERIFY2(captions_.last() == QStringLiteral("已销毁线程"), where.constData());
      QVERIFY2(WorkersGone(), where.constData());
      QVERIFY2(Rows() == rows, where.constData());
      QVERIFY2(captions_.size() == captions, where.constData());
    }
    QVERIFY(runWhole());
  }

  void escapeDuringAHeldPageEndsTheProgramAtOnce() {
    const std::size_t index = RequestsSoFar();
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QString::fromLatin1(kEscapeDuringHeldPage)});
    QVERIFY(child.waitForStarted());
    QVERIFY(IdleAfterRequest(index));
    const auto pressedAt = HostileClock::now();
    child.write("esc\n");
    QVERIFY(child.waitForBytesWritten(5000));
    QVERIFY2(child.waitForFinished(20000), "the program did not end");
    const auto took = HostileClock::now() - pressedAt;
    std::printf("Esc to the end of the program: %ld us\n", Microseconds(took));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    // The program gives its workers 500 ms to end; "released" comes only when all did.
    QCOMPARE(child.readAllStandardOutput(), QByteArray("released\n"));
    QVERIFY(took < 500ms);
  }
};

}  // namespace mf::test

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], mf::test::kEscapeDuringHeldPage) == 0) {
    mf::test::RunEscapeScenario(argc, argv);
  }
  QApplication app(argc, argv);
  mf::test::StopE2eTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "stop_e2e_test.moc"
