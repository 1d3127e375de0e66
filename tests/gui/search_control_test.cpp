// The search run as the user drives it: Start, the page loop and its status texts, Stop, close.
#include <QSignalSpy>
#include <atomic>

#include "gui_support.h"
#include "platform/com_apartment.h"

namespace mf::test {
namespace {

constexpr ListControl kList = &MainWindow::超级列表框1;

Text Number(int value) {
  return Text(std::to_string(value));
}

QString PageStatus(int page) {
  return QStringLiteral("正在解析第%1页，请稍等。。。").arg(page);
}

// Appends five numbered rows per page, as the real scraper does.
bool FiveRowsPerPage(const Text&, const Text& page) {
  for (int i = 1; i <= 5; ++i) {
    const int row = InsertListRow(kList);
    SetListCellText(kList, row, 0, Number(ListRowCount(kList)));
    SetListCellText(kList, row, 1, page + Text("-") + Number(i));
  }
  return true;
}

// Changes the keyword while page 1 is being scraped.
bool EditsKeywordOnFirstPage(const Text& keyword, const Text& page) {
  RecordingScraper::Scrape(keyword, page);
  if (page == Text("1")) {
    SetEditBoxText(&MainWindow::编辑框_搜索内容, "新关键字"_gbk);
  }
  return true;
}

// Sets the page count to 0 while page 1 is being scraped.
bool ClearsPageCountOnFirstPage(const Text& keyword, const Text& page) {
  RecordingScraper::Scrape(keyword, page);
  SetEditBoxText(&MainWindow::编辑框_停止页数, Text("0"));
  return true;
}

}  // namespace

class SearchControlTest : public QObject {
  Q_OBJECT

 private:
  QPointer<MainWindow> window_;
  QStringList captions_;

  bool StartEnabled() const { return window_->超级按钮_开始解析->isEnabled(); }
  bool StopEnabled() const { return window_->超级按钮_停止解析->isEnabled(); }
  void SetPageCount(const char* text) { window_->编辑框_停止页数->SetText(Text(text)); }
  bool WaitForCaption(const QString& caption) {
    return RunUntil(
        [&] { return window_ != nullptr && window_->透明标签_状态条->CaptionText() == caption; });
  }
  // Lets the worker's thread end and every request it left be handled.
  bool WorkerGone() {
    const bool gone = RunUntil([] { return platform::RunningThreadCount() == 0; });
    QCoreApplication::processEvents();
    return gone;
  }

 private Q_SLOTS:
  void init() {
    RecordingScraper::Reset();
    BlockingScraper::Reset();
    SetPageScraper(&RecordingScraper::Scrape);
    window_ = OpenWindowRecordingCaptions(this, captions_);
  }

  void cleanup() { QVERIFY(CloseWindow(window_)); }

  void runWalksEveryPageAndReportsEach() {
    SetPageCount("3");
    QCOMPARE(window_->透明标签_状态条->CaptionText(), QStringLiteral("正常"));
    QTest::mouseClick(window_->超级按钮_开始解析, Qt::LeftButton);
    QVERIFY(WaitForCaption(QStringLiteral("解析完毕")));
    QCOMPARE(captions_, (QStringList{QStringLiteral("开始运行。。。"), PageStatus(1), PageStatus(2),
                                     PageStatus(3), QStringLiteral("解析完毕")}));
    QCOMPARE(RecordingScraper::Pages(),
             (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    for (const auto& call : RecordingScraper::Calls()) {
      QCOMPARE(call.keyword, "纪录片"_gbk);
    }
    // A finished run leaves the buttons as running: a new search needs Stop first.
    QVERIFY(!StartEnabled());
    QVERIFY(StopEnabled());
  }

  void pageCountIsReadAsAnInteger_data() {
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("pages");
    QTest::newRow("zero") << QStringLiteral("0") << 0;
    QTest::newRow("negative") << QStringLiteral("-3") << 0;
    QTest::newRow("letters") << QStringLiteral("abc") << 0;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("digit then letter") << QStringLiteral("2a") << 2;
    QTest::newRow("leading spaces and sign") << QStringLiteral("  +4") << 4;
    QTest::newRow("full-width digits") << QStringLiteral("３") << 3;
  }

  void pageCountIsReadAsAnInteger() {
    QFETCH(QString, count);
    QFETCH(int, pages);
    window_->编辑框_停止页数->SetText(FromQString(count));
    OnStartClick();
    QVERIFY(WaitForCaption(QStringLiteral("解析完毕")));
    QCOMPARE(RecordingScraper::Calls().size(), static_cast<std::size_t>(pages));
    QCOMPARE(captions_.size(), pages + 2);
    QCOMPARE(captions_.first(), QStringLiteral("开始运行。。。"));
    if (pages > 0) {
      QCOMPARE(captions_[pages], PageStatus(pages));
    }
    QVERIFY(!StartEnabled());
  }

  void pageCountIsReadOnceAtTheStart() {
    SetPageCount("3");
    SetPageScraper(&ClearsPageCountOnFirstPage);
    OnStartClick();
    QVERIFY(WaitForCaption(QStringLiteral("解析完毕")));
    QCOMPARE(RecordingScraper::Pages(),
             (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
  }

  void keywordIsReadForEveryPage() {
    SetPageCount("3");
    SetPageScraper(&EditsKeywordOnFirstPage);
    OnStartClick();
    QVERIFY(WaitForCaption(QStringLiteral("解析完毕")));
    const auto calls = RecordingScraper::Calls();
    QCOMPARE(calls.size(), std::size_t{3});
    QCOMPARE(calls[0].keyword, "纪录片"_gbk);
    QCOMPARE(calls[1].keyword, "新关键字"_gbk);
    QCOMPARE(calls[2].keyword, "新关键字"_gbk);
  }

  void stopAfterAFinishedRunEnablesStartAgain() {
    SetPageCount("0");
    OnStartClick();
    QVERIFY(WaitForCaption(QStringLiteral("解析完毕")));
    QTest::mouseClick(window_->超级按钮_停止解析, Qt::LeftButton);
    QCOMPARE(window_->透明标签_状态条->CaptionText(), QStringLiteral("已销毁线程"));
    QVERIFY(StartEnabled());
    QVERIFY(!StopEnabled());
  }

  void stopBeforeAnyStart() {
    OnStopClick();
    QCOMPARE(captions_, QStringList{QStringLiteral("已销毁线程")});
    QVERIFY(StartEnabled());
    QVERIFY(!StopEnabled());
    QCOMPARE(RecordingScraper::Calls().size(), std::size_t{0});
  }

  void stopDuringASlowPageEndsTheWorkerWithoutAnotherWord() {
    SetPageScraper(&BlockingScraper::Scrape);
    OnStartClick();
    QVERIFY(RunUntil([] { return BlockingScraper::Entered() == 1; }));
    QTest::mouseClick(window_->超级按钮_停止解析, Qt::LeftButton);
    QVERIFY(WorkerGone());
    QCOMPARE(captions_,
             (QStringList{QStringLiteral("开始运行。。。"), QStringLiteral("已销毁线程")}));
    QCOMPARE(BlockingScraper::Entered(), 1);
    QVERIFY(StartEnabled());
  }

  void stopWhileRowsArriveLeavesTheListAsItWas() {
    SetPageScraper(&FiveRowsPerPage);
    OnStartClick();
    QVERIFY(RunUntil([this] { return window_->超级列表框1->Rows().RowCount() >= 40; }));
    OnStopClick();
    const int rowsAtStop = ListRowCount(kList);
    QVERIFY(WorkerGone());
    QCOMPARE(ListRowCount(kList), rowsAtStop);
    QCOMPARE(captions_.last(), QStringLiteral("已销毁线程"));
    QVERIFY(rowsAtStop < 500);
  }

  void numbersContinueAcrossRuns() {
    SetPageScraper(&FiveRowsPerPage);
    SetPageCount("2");
    OnStartClick();
    QVERIFY(WaitForCaption(QStringLiteral("解析完毕")));
    OnStopClick();
    OnStartClick();
    QVERIFY(WaitForCaption(QStringLiteral("解析完毕")));
    ResultListModel& rows = window_->超级列表框1->Rows();
    QCOMPARE(rows.RowCount(), 20);
    for (int row = 0; row < 20; ++row) {
      QCOMPARE(rows.Cell(row, 0), Number(row + 1));
    }
    QCOMPARE(rows.Cell(4, 1), Text("1-5"));
    QCOMPARE(rows.Cell(5, 1), Text("2-1"));
    QCOMPARE(rows.Cell(10, 1), Text("1-1"));
  }

  void closingDuringARunEndsTheWorker() {
    SetPageScraper(&BlockingScraper::Scrape);
    OnStartClick();
    QVERIFY(RunUntil([] { return BlockingScraper::Entered() == 1; }));
    QTest::mousePress(window_->透明标签5, Qt::LeftButton);
    QVERIFY(RunUntil([this] { return window_.isNull(); }));
    QVERIFY(platform::KillAllThreadsAndWait(std::chrono::seconds(1)));
    QCOMPARE(platform::RunningThreadCount(), 0);
  }

  void escapeDuringARunClosesTheWindow() {
    SetPageScraper(&BlockingScraper::Scrape);
    OnStartClick();
    QVERIFY(RunUntil([] { return BlockingScraper::Entered() == 1; }));
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    window_->编辑框_搜索内容->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(RunUntil([this] { return window_.isNull(); }));
  }

  void globalsLiveFromInitToRelease() {
    const int depth = platform::ComApartmentDepth();
    InitGlobals();
    QVERIFY(MarkupPattern != nullptr);
    QVERIFY(EntryMatcher != nullptr);
    QCOMPARE(platform::ComApartmentDepth(), depth + 1);
    PageText = Text("page");
    ReleaseGlobals();
    QVERIFY(PageText.empty());
    QCOMPARE(MarkupPattern, nullptr);
    QCOMPARE(EntryMatcher, nullptr);
    QCOMPARE(platform::ComApartmentDepth(), depth);
  }

  void startRunsTheWorkerOnItsOwnThread() {
    SetPageScraper(&BlockingScraper::Scrape);
    OnStartClick();
    QVERIFY(WorkerThreadHandle != 0);
    QVERIFY(RunUntil([] { return BlockingScraper::Entered() == 1; }));
    std::uint32_t code = 0;
    QVERIFY(platform::GetExitCodeThread(WorkerThreadHandle, &code));
    QCOMPARE(code, platform::STILL_ACTIVE);
    QCOMPARE(window_->透明标签_状态条->CaptionText(), QStringLiteral("开始运行。。。"));
  }
};

}  // namespace mf::test

QTEST_MAIN(mf::test::SearchControlTest)
#include "search_control_test.moc"
