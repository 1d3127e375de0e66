// The control operations that workers perform: carried out on the UI thread, complete and in
// order, dropped once the worker is killed, harmless once the window is gone.
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>
#include <atomic>
#include <memory>
#include <thread>

#include "app/link_menu.h"
#include "app/site_choice.h"
#include "app/ui_thread.h"
#include "gui_support.h"
#include "site/site_catalogue.h"
#include "site/site_definition.h"
#include "support/threads.h"

namespace mf::test {
namespace {

constexpr ListControl kList = &MainWindow::超级列表框1;
constexpr EditBoxControl kOutput = &MainWindow::编辑框_输出;
constexpr LabelControl kStatus = &MainWindow::透明标签_状态条;
constexpr int kStormRows = 3000;

Text Number(int value) {
  return Text(std::to_string(value));
}

// Fills rows as the scraper does: append, number it by the row count, then the other cells.
std::uint32_t FillRows(void*) {
  for (int i = 0; i < kStormRows; ++i) {
    const int row = InsertListRow(kList);
    SetListCellText(kList, row, 0, Number(ListRowCount(kList)));
    SetListCellText(kList, row, 1, "标题"_gbk + Number(i));
    SetListCellText(kList, row, 2, Text("http://site/") + Number(i));
  }
  SetLabelCaption(kStatus, "解析完毕"_gbk);
  return 0;
}

std::atomic<int> rowsAdded{0};

// Adds rows until it is killed.
std::uint32_t AddRowsForever(void*) {
  for (;;) {
    const int row = InsertListRow(kList);
    SetListCellText(kList, row, 1, Text("x"));
    SetLabelCaption(kStatus, Number(row));
    rowsAdded.fetch_add(1);
  }
}

constexpr int kCaptionStorm = 200;

// Writes one caption after another, each a trip to the UI thread, as the search worker does.
std::uint32_t WriteCaptions(void*) {
  for (int i = 1; i <= kCaptionStorm; ++i) {
    SetLabelCaption(kStatus, Number(i));
  }
  return 0;
}

// Counts the paint events of a widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint ? 1 : 0;
    return false;
  }
};

std::atomic<bool> aboutToAsk{false};

std::uint32_t AskForCaption(void*) {
  aboutToAsk.store(true);
  SetLabelCaption(kStatus, Text("late"));
  return 0;
}

constexpr int kPages = 50;

// Adds pages of three rows, each with its caption, as the search worker does.
std::uint32_t AddPages(void*) {
  for (int page = 1; page <= kPages; ++page) {
    std::vector<EntryRow> rows(3);
    for (EntryRow& row : rows) {
      row.title = Number(page);
    }
    AddListEntriesWithCaption(kList, nullptr, std::move(rows), kStatus, Number(page));
  }
  SetLabelCaption(kStatus, "解析完毕"_gbk);
  return 0;
}

std::atomic<bool> aboutToAddPage{false};

std::uint32_t AddOnePage(void*) {
  aboutToAddPage.store(true);
  AddListEntriesWithCaption(kList, nullptr, std::vector<EntryRow>(1), kStatus, Text("late"));
  return 0;
}

}  // namespace

// Stands in for the desktop's handlers of magnet: and thunder: links.
QStringList Names(std::initializer_list<const char*> names) {
  QStringList list;
  for (const char* name : names) {
    list << QString::fromUtf8(name);
  }
  return list;
}

EntryRow Entry(const char* title, std::optional<std::int64_t> size,
               std::optional<std::int64_t> seeders, std::optional<std::int64_t> date,
               const char* magnet = "") {
  EntryRow row;
  row.title = Text(title);
  row.magnet = Text(magnet);
  row.size = size ? Text(std::to_string(*size) + " KB") : Text();
  row.seeders = seeders ? Text(std::to_string(*seeders)) : Text();
  row.date = date ? Text("day " + std::to_string(*date)) : Text();
  row.sizeBytes = size ? std::optional<std::int64_t>(*size * 1024) : std::nullopt;
  row.seederCount = seeders;
  row.dateSeconds = date ? std::optional<std::int64_t>(*date * 86400) : std::nullopt;
  return row;
}

std::shared_ptr<const SiteDefinition> Site(const std::string& id) {
  static const SiteCatalogue catalogue = LoadSiteCatalogue();
  if (id == "built-in") {
    return std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](const auto*) {});
  }
  return catalogue.Find(id);
}

class LinkReceiver : public QObject {
  Q_OBJECT

 public:
  QStringList opened;

 public Q_SLOTS:
  void open(const QUrl& url) { opened << url.toString(); }
};

class ControlOperationsTest : public QObject {
  Q_OBJECT

 private:
  QPointer<MainWindow> window_;

 private Q_SLOTS:
  void init() {
    window_ = new MainWindow;
    window_->ShowCentred();
  }

  void cleanup() {
    QVERIFY(EndAllWorkers());
    delete window_;
  }

  void workerChangesArriveCompleteAndInOrder() {
    QSignalSpy finished(window_->透明标签_状态条, &TransLabel::captionChanged);
    StartThread(&FillRows);
    // A real event loop, as the program runs it (QTRY_ would poll with pauses in between).
    QVERIFY(finished.wait(60000));
    QCOMPARE(window_->透明标签_状态条->CaptionText(), QStringLiteral("解析完毕"));
    ResultListModel& rows = window_->超级列表框1->Rows();
    QCOMPARE(rows.RowCount(), kStormRows);
    for (int i = 0; i < kStormRows; ++i) {
      QCOMPARE(rows.Cell(i, 0), Number(i + 1));
      QCOMPARE(rows.Cell(i, 1), "标题"_gbk + Number(i));
      QCOMPARE(rows.Cell(i, 2), Text("http://site/") + Number(i));
    }
    // The view hears of the rows once per frame, not once per row.
    QTRY_COMPARE(window_->超级列表框1->model()->rowCount(), kStormRows);
    QCOMPARE(window_->超级列表框1->model()->index(kStormRows - 1, 1).data().toString(),
             QStringLiteral("标题%1").arg(kStormRows - 1));
  }

  // The columns follow what the sites in use give; the built-in site alone keeps the list's own.
  void columnsFollowTheSitesInUse_data() {
    QTest::addColumn<QStringList>("sites");
    QTest::addColumn<QStringList>("columns");
    const QStringList own = Names({"序列号", "内容", "地址"});
    QTest::newRow("built-in") << Names({"built-in"}) << own;
    QTest::newRow("titles and links only") << Names({"demo-gbk"}) << own;
    QTest::newRow("a table") << Names({"demo-table"})
                             << own + Names({"大小", "做种", "吸血", "日期"});
    QTest::newRow("two with fields") << Names({"demo-json", "demo-table"})
                                     << own + Names({"大小", "做种", "吸血", "日期", "站点"});
    QTest::newRow("two without") << Names({"built-in", "demo-gbk"}) << own + Names({"站点"});
  }
  void columnsFollowTheSitesInUse() {
    QFETCH(QStringList, sites);
    QFETCH(QStringList, columns);
    std::vector<std::shared_ptr<const SiteDefinition>> definitions;
    for (const QString& id : sites) {
      definitions.push_back(Site(id.toStdString()));
      QVERIFY(definitions.back() != nullptr);
    }
    ListView* list = window_->超级列表框1;
    list->ShowColumnsFor(definitions);
    QStringList shown;
    for (int column = 0; column < list->model()->columnCount(); ++column) {
      shown << list->model()->headerData(column, Qt::Horizontal).toString();
    }
    QCOMPARE(shown, columns);
    const bool more = columns.size() > 3;
    QCOMPARE(list->horizontalHeader()->sectionsClickable(), more);
    QCOMPARE(list->selectionMode(),
             more ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    QCOMPARE(list->horizontalHeader()->sectionSize(2), 0);
  }

  // Header clicks sort: numbers as numbers, the unknown last either way, 序列号 back to arrival.
  void headerClicksSortTheRows_data() {
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("arrival") << QList<int>{0} << Names({"b", "a\tx", "c", "d"});
    QTest::newRow("arrival reversed") << QList<int>{0, 0} << Names({"d", "c", "a\tx", "b"});
    QTest::newRow("title") << QList<int>{1} << Names({"a\tx", "b", "c", "d"});
    QTest::newRow("size, biggest first") << QList<int>{3} << Names({"b", "d", "c", "a\tx"});
    QTest::newRow("size, smallest first") << QList<int>{3, 3} << Names({"c", "d", "b", "a\tx"});
    QTest::newRow("seeders") << QList<int>{4} << Names({"c", "b", "a\tx", "d"});
    QTest::newRow("date, newest first") << QList<int>{6} << Names({"b", "d", "a\tx", "c"});
    QTest::newRow("date, then arrival") << QList<int>{6, 0} << Names({"b", "a\tx", "c", "d"});
    QTest::newRow("site, reversed") << QList<int>{7, 7} << Names({"c", "d", "b", "a\tx"});
  }
  void headerClicksSortTheRows() {
    QFETCH(QList<int>, clicks);
    QFETCH(QStringList, titles);
    ListView* list = window_->超级列表框1;
    list->ShowColumnsFor({Site("demo-json"), Site("demo-table")});
    list->Rows().AddEntries(Site("demo-json"), {Entry("b", 300, 5, 30), Entry("a\tx", {}, 0, 10)});
    list->Rows().Publish();
    list->selectRow(1);
    for (const int section : clicks) {
      Q_EMIT list->horizontalHeader()->sectionClicked(section);
    }
    // A page that comes while sorted goes to its place.
    list->Rows().AddEntries(Site("demo-table"), {Entry("c", 100, 9, {}), Entry("d", 200, {}, 20)});
    list->Rows().Publish();
    QStringList shown;
    for (int row = 0; row < list->model()->rowCount(); ++row) {
      shown << list->model()->index(row, 1).data().toString();
    }
    QCOMPARE(shown, titles);
    QCOMPARE(list->model()->index(list->SelectedRow(), 1).data().toString(),
             QStringLiteral("a\tx"));
  }

  // Copying writes the shown columns and the magnet link, a field with a tab as one field; hiding
  // takes out the rows known to have no seeders, keeps the unknown, and is remembered.
  void selectedRowsAreCopiedAndDeadOnesHidden() {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    ListView* list = window_->超级列表框1;
    list->ShowColumnsFor({Site("demo-json"), Site("demo-table")});
    list->Rows().AddEntries(Site("demo-table"), {Entry("b", 300, 5, 30, "magnet:?xt=1"),
                                                 Entry("a\tx", {}, 0, 10), Entry("d", 2, {}, 1)});
    list->Rows().Publish();
    list->selectAll();
    list->CopySelectedRows();
    const QString site = QStringLiteral("演示站（表格）");
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("序列号\t内容\t大小\t做种\t吸血\t日期\t站点\t磁力链接\n") +
                 QStringLiteral("1\tb\t300 KB\t5\t\t1970-01-31\t%1\tmagnet:?xt=1\n").arg(site) +
                 QStringLiteral("2\ta x\t\t0\t\t1970-01-11\t%1\t\n").arg(site) +
                 QStringLiteral("3\td\t2 KB\t\t\t1970-01-02\t%1\t\n").arg(site));
    list->selectRow(2);
    list->HideUnseeded(true);
    // Rows that come while hidden: one without seeders stays out, one with unknown seeders is in.
    list->Rows().AddEntries(Site("demo-table"), {Entry("e", 1, 0, 1), Entry("f", 1, {}, 1)});
    QCOMPARE(list->model()->rowCount(), 3);
    QCOMPARE(list->model()->index(list->SelectedRow(), 1).data().toString(), QStringLiteral("d"));
    QVERIFY(RememberedHideUnseeded());
    list->HideUnseeded(false);
    QCOMPARE(list->model()->rowCount(), 5);
    QVERIFY(!RememberedHideUnseeded());
    qunsetenv("XDG_CONFIG_HOME");
  }

  void viewIsToldOfRowsAndCellChangesInBatches() {
    ResultListModel& rows = window_->超级列表框1->Rows();
    QSignalSpy inserted(&rows, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&rows, &QAbstractItemModel::dataChanged);
    for (int i = 0; i < 100; ++i) {
      SetListCellText(kList, InsertListRow(kList), 1, Text("t"));
    }
    QCOMPARE(inserted.count(), 0);
    QTRY_COMPARE(inserted.count(), 1);
    SetListCellText(kList, 5, 0, Text("a"));
    SetListCellText(kList, 7, 2, Text("b"));
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(window_->超级列表框1->model()->index(5, 0).data().toString(), QStringLiteral("a"));
  }

  // Each caption is the label's at once; the label is drawn at most about once per frame, and
  // the last caption is drawn in the end.
  void captionsAreDrawnAtMostOncePerFrame() {
    TransLabel* label = window_->透明标签_状态条;
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    QCoreApplication::processEvents();
    PaintCounter counter;
    label->installEventFilter(&counter);
    QSignalSpy captions(label, &TransLabel::captionChanged);
    QElapsedTimer elapsed;
    elapsed.start();
    StartThread(&WriteCaptions);
    QVERIFY(RunUntil([&] { return captions.size() == kCaptionStorm; }));
    const qint64 frames = elapsed.elapsed() / TransLabel::kFrameMs + 2;
    QCOMPARE(label->CaptionText(), QString::number(kCaptionStorm));
    QVERIFY(RunUntil([&] { return label->text() == QString::number(kCaptionStorm); }));
    QVERIFY2(counter.paints <= frames + 1,
             qPrintable(QStringLiteral("%1 paints in %2 frames").arg(counter.paints).arg(frames)));
    label->removeEventFilter(&counter);
  }

  void insertBeforeARowShiftsTheRowsAtOnce() {
    SetListCellText(kList, InsertListRow(kList), 1, Text("second"));
    QCOMPARE(InsertListRow(kList, 0, Text("1")), 0);
    QCOMPARE(ListRowCount(kList), 2);
    QCOMPARE(GetListCellText(kList, 0, 0), Text("1"));
    QCOMPARE(GetListCellText(kList, 1, 1), Text("second"));
    QCOMPARE(window_->超级列表框1->model()->rowCount(), 2);
    QCOMPARE(InsertListRow(kList, 99), 2);
  }

  void cellsOutsideTheListReadEmptyAndChangeNothing() {
    InsertListRow(kList);
    SetListCellText(kList, 0, 2, Text("addr"));
    QCOMPARE(GetListCellText(kList, -1, 2), Text());
    QCOMPARE(GetListCellText(kList, 1, 0), Text());
    QCOMPARE(GetListCellText(kList, 0, 3), Text());
    SetListCellText(kList, 4, 0, Text("x"));
    SetListCellText(kList, 0, -1, Text("x"));
    QCOMPARE(ListRowCount(kList), 1);
    QCOMPARE(GetListCellText(kList, 0), Text());
    QCOMPARE(GetListCellText(kList, 0, 2), Text("addr"));
  }

  void selectedRowIsMinusOneOrTheClickedRow() {
    for (int i = 0; i < 3; ++i) {
      InsertListRow(kList, -1, Number(i));
    }
    window_->超级列表框1->Rows().Publish();
    QCOMPARE(SelectedListRow(kList), -1);
    ListView* list = window_->超级列表框1;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(1, 1)).center());
    QCOMPARE(SelectedListRow(kList), 1);
    QCOMPARE(GetListCellText(kList, SelectedListRow(kList)), Text("1"));
  }

  void appendedLinesEndWithCarriageReturnAndLineFeed() {
    SetEditBoxText(kOutput, Text("old"));
    SetEditBoxText(kOutput, Text());
    AppendToEditBox(kOutput, {"磁1："_gbk, Text("magnet:?xt=a\r\n")});
    AppendToEditBox(kOutput, {"磁2："_gbk + Text("magnet:?xt=b\r\n")});
    QCOMPARE(GetEditBoxText(kOutput), "磁1：magnet:?xt=a\r\n磁2：magnet:?xt=b\r\n"_gbk);
    auto* editor = static_cast<QPlainTextEdit*>(window_->编辑框_输出->Editor());
    QCOMPARE(editor->blockCount(), 3);
    QCOMPARE(editor->textCursor().position(), editor->document()->characterCount() - 1);
  }

  void appendGoesAfterTheTextWhereverTheCaretWas() {
    SetEditBoxText(kOutput, Text("ab\r\ncd"));
    auto* editor = static_cast<QPlainTextEdit*>(window_->编辑框_输出->Editor());
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(1);
    editor->setTextCursor(cursor);
    AppendToEditBox(kOutput, {Text("e")});
    QCOMPARE(GetEditBoxText(kOutput), Text("ab\r\ncde"));
    QVERIFY(!editor->document()->isUndoAvailable());
  }

  void appendToASingleLineBoxKeepsItsText() {
    SetEditBoxText(&MainWindow::编辑框_搜索内容, "中"_gbk);
    AppendToEditBox(&MainWindow::编辑框_搜索内容, {"文"_gbk, Text("1")});
    QCOMPARE(GetEditBoxText(&MainWindow::编辑框_搜索内容), "中文1"_gbk);
    auto* line = window_->编辑框_搜索内容->findChild<QLineEdit*>();
    QCOMPARE(line->cursorPosition(), 3);
    QVERIFY(!line->isUndoAvailable());
  }

  void textsRoundTripThroughCodePage936() {
    const Text keyword = "中文 ABC（全角）"_gbk;
    SetEditBoxText(&MainWindow::编辑框_搜索内容, keyword);
    QCOMPARE(GetEditBoxText(&MainWindow::编辑框_搜索内容), keyword);
    QCOMPARE(window_->编辑框_搜索内容->findChild<QLineEdit*>()->text(),
             QStringLiteral("中文 ABC（全角）"));
    SetLabelCaption(kStatus, "正在解析第3页，请稍等。。。"_gbk);
    QCOMPARE(window_->透明标签_状态条->CaptionText(),
             QStringLiteral("正在解析第3页，请稍等。。。"));
  }

  // A link goes to the desktop's handler for its scheme; one that a QUrl would change (the
  // upper-case data of a thunder: link) goes to xdg-open exactly as written. Only download links
  // go: what else a page writes behind a magnet label stays in the box, unopened.
  void outputBoxMenuOpensTheLinkOfTheLineOrOfTheSelection() {
    QCOMPARE(LinkOfLine(QStringLiteral("磁12： magnet:?xt=a ")), QStringLiteral("magnet:?xt=a"));
    QCOMPARE(LinkOfLine(QStringLiteral("获取失败，重新单击开始搜索")), QString());
    QCOMPARE(LinkOfLine(QStringLiteral("磁1：not a link")), QString());
    LinkReceiver receiver;
    const QStringList schemes = {QStringLiteral("magnet"), QStringLiteral("file"),
                                 QStringLiteral("smb"), QStringLiteral("http"),
                                 QStringLiteral("javascript")};
    for (const QString& scheme : schemes) {
      QDesktopServices::setUrlHandler(scheme, &receiver, "open");
    }
    QTemporaryDir bin;
    const QString log = bin.filePath(QStringLiteral("opened"));
    QFile fake(bin.filePath(QStringLiteral("xdg-open")));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n").arg(log).toUtf8());
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ':' + path);
    const Text lines =
        "磁1：magnet:?xt=urn:btih:ab&amp;dn=x\r\n磁2：thunder://QUFh\r\n正在获取磁力。。。\r\n"
        "磁3：file:///etc/passwd\r\n磁4：smb://x/y\r\n磁5：http://example.invalid/a\r\n"
        "磁6：javascript:alert(1)\r\n磁7：magnet:?xt=urn:btih:ab&#10;x"_gbk;
    SetEditBoxText(kOutput, lines);
    auto* editor = static_cast<QPlainTextEdit*>(window_->编辑框_输出->Editor());
    const auto lineAt = [editor](int line) {
      QTextCursor cursor(editor->document()->findBlockByNumber(line));
      return editor->cursorRect(cursor).center();
    };
    const auto openAt = [editor](QPoint at) {
      std::unique_ptr<QMenu> menu(CreateOutputBoxMenu(*editor, at));
      auto* open = menu->findChild<QAction*>(QStringLiteral("openWithDownloadTool"));
      if (open == nullptr || !open->isEnabled()) {
        return false;
      }
      open->trigger();
      return true;
    };
    QVERIFY(openAt(lineAt(0)));
    QCOMPARE(receiver.opened, QStringList{QStringLiteral("magnet:?xt=urn:btih:ab&dn=x")});
    for (int line = 2; line <= 7; ++line) {
      QVERIFY2(!openAt(lineAt(line)), qPrintable(QString::number(line)));
    }
    QTextCursor all(editor->document());
    all.select(QTextCursor::Document);
    editor->setTextCursor(all);
    QVERIFY(openAt(lineAt(2)));
    QCOMPARE(receiver.opened.size(), 2);
    QCOMPARE(GetEditBoxText(kOutput), lines);
    QVERIFY(RunUntil([&] {
      QFile opened(log);
      return opened.open(QIODevice::ReadOnly) && opened.readAll() == "thunder://QUFh\n";
    }));
    // Without xdg-open nothing is handed over (stderr names the package that has it).
    const QTemporaryDir empty;
    qputenv("PATH", empty.path().toUtf8());
    QVERIFY(openAt(lineAt(0)));
    QCOMPARE(receiver.opened.size(), 2);
    qputenv("PATH", path);
    for (const QString& scheme : schemes) {
      QDesktopServices::unsetUrlHandler(scheme);
    }
  }

  void operationsWithoutAWindowDoNothing() {
    delete window_;
    QCOMPARE(MainWindow::Current(), nullptr);
    QCOMPARE(InsertListRow(kList), -1);
    QCOMPARE(ListRowCount(kList), 0);
    QCOMPARE(SelectedListRow(kList), -1);
    QCOMPARE(GetEditBoxText(kOutput), Text());
    SetLabelCaption(kStatus, Text("x"));
    AppendToEditBox(kOutput, {Text("x")});
    MinimizeWindow();
    DestroyForm();
  }

  void aKilledWorkerChangesNothingMore() {
    for (int round = 0; round < 20; ++round) {
      rowsAdded.store(0);
      const ThreadHandle worker = StartThread(&AddRowsForever);
      const int target = 10 + round * 7;
      QVERIFY(RunUntil([&] { return rowsAdded.load() >= target; }));
      KillThread(worker);
      const int rowsAtKill = ListRowCount(kList);
      const QString captionAtKill = window_->透明标签_状态条->CaptionText();
      QVERIFY(RunUntil([] { return platform::RunningThreadCount() == 0; }));
      QCoreApplication::processEvents();
      QCOMPARE(ListRowCount(kList), rowsAtKill);
      QCOMPARE(window_->透明标签_状态条->CaptionText(), captionAtKill);
    }
  }

  void aRequestMadeJustBeforeTheKillIsDropped() {
    for (int round = 0; round < 20; ++round) {
      aboutToAsk.store(false);
      SetLabelCaption(kStatus, Text("before"));
      const ThreadHandle worker = StartThread(&AskForCaption);
      // No events are handled here: the request, if already made, waits for the UI thread.
      QDeadlineTimer deadline(10000);
      while (!aboutToAsk.load() && !deadline.hasExpired()) {
        std::this_thread::yield();
      }
      KillThread(worker);
      QVERIFY(RunUntil([] { return platform::RunningThreadCount() == 0; }));
      QCoreApplication::processEvents();
      QCOMPARE(window_->透明标签_状态条->CaptionText(), QStringLiteral("before"));
    }
  }

  // A page's rows and its caption share one trip: every caption comes, in turn, with its page
  // in the list.
  void pagesArriveWithTheirCaptions() {
    ResultListModel& rows = window_->超级列表框1->Rows();
    QStringList captions;
    int behind = 0;
    connect(window_->透明标签_状态条, &TransLabel::captionChanged, this,
            [&](const QString& caption) {
              captions << caption;
              behind += caption.toInt() * 3 > rows.RowCount() ? 1 : 0;
            });
    StartThread(&AddPages);
    QVERIFY(RunUntil([&] { return captions.endsWith(QStringLiteral("解析完毕")); }));
    QCOMPARE(behind, 0);
    QCOMPARE(captions.size(), kPages + 1);
    for (int page = 1; page <= kPages; ++page) {
      QCOMPARE(captions[page - 1], QString::number(page));
    }
    QCOMPARE(rows.RowCount(), kPages * 3);
    for (int row = 0; row < rows.RowCount(); ++row) {
      QCOMPARE(rows.Cell(row, 0), Number(row + 1));
      QCOMPARE(rows.Cell(row, 1), Number(row / 3 + 1));
    }
  }

  // A page asked for just before the kill brings neither its rows nor its caption.
  void aPageAskedForJustBeforeTheKillIsDropped() {
    for (int round = 0; round < 20; ++round) {
      aboutToAddPage.store(false);
      SetLabelCaption(kStatus, Text("before"));
      const ThreadHandle worker = StartThread(&AddOnePage);
      QDeadlineTimer deadline(10000);
      while (!aboutToAddPage.load() && !deadline.hasExpired()) {
        std::this_thread::yield();
      }
      KillThread(worker);
      QVERIFY(RunUntil([] { return platform::RunningThreadCount() == 0; }));
      QCoreApplication::processEvents();
      QCOMPARE(ListRowCount(kList), 0);
      QCOMPARE(window_->透明标签_状态条->CaptionText(), QStringLiteral("before"));
    }
  }

  void theUiThreadRunsItsOwnCallsAtOnce() {
    bool ran = false;
    RunOnUiThread([&ran] { ran = true; });
    QVERIFY(ran);
    QCOMPARE(CallOnUiThread<int>([] { return 7; }), 7);
  }
};

}  // namespace mf::test

QTEST_MAIN(mf::test::ControlOperationsTest)
#include "control_operations_test.moc"
