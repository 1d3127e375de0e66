// Stop and Esc during real transfers to a site on the loopback that holds its answer: the request
// leaves the wire at once, and Esc ends the program promptly. The Esc case runs the program in a
// child process (this executable again, with a scenario argument), since it ends its process.
#include <QProcess>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
  RunProgram(argc, argv, [](MainWindow& window) {
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

  void init() {
    window_ = new MainWindow;
    window_->ShowCentred();
    captions_.clear();
    connect(window_->透明标签_状态条, &TransLabel::captionChanged, this,
            [this](const QString& caption) { captions_ << caption; });
  }

  void cleanup() {
    QVERIFY(EndAllWorkers());
    delete window_;
  }

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
