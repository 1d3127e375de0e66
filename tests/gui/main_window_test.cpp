// The window's layout, look and user actions.
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "gui_support.h"

namespace mf::test {

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  QPointer<MainWindow> window_;

  template <typename Control>
  Control* Find(const char* name) {
    return window_->findChild<Control*>(QString::fromUtf8(name));
  }

 private Q_SLOTS:
  void init() {
    SetPageScraper(&RecordingScraper::Scrape);
    window_ = new MainWindow;
    window_->ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
  }

  void cleanup() {
    QVERIFY(EndAllWorkers());
    delete window_;
  }

  void everyControlHasItsNameKindParentGeometryAndText_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    auto row = [](const char* name, const char* kind, const char* parent, QRect geometry,
                  const char* text) {
      QTest::newRow(name) << QString::fromUtf8(kind) << QString::fromUtf8(parent) << geometry
                          << QString::fromUtf8(text);
    };
    row("外形框1", "mf::ShapeBox", "MainWindow", {-8, -8, 600, 416}, "");
    row("透明标签5", "mf::TransLabel", "外形框1", {569, 15, 17, 14}, "×");
    row("透明标签6", "mf::TransLabel", "MainWindow", {530, 8, 17, 14}, "-");
    row("外形框2", "mf::ShapeBox", "外形框1", {0, 37, 608, 336}, "");
    row("超级列表框1", "mf::ListView", "外形框2", {8, 0, 584, 224}, "");
    row("透明标签1", "mf::TransLabel", "外形框2", {17, 235, 79, 24}, "搜索内容：");
    row("编辑框_搜索内容", "mf::EditBox", "外形框2", {16, 268, 176, 20}, "纪录片");
    row("超级按钮_开始解析", "mf::SuperBtn", "外形框2", {94, 237, 42, 22}, "开始");
    row("超级按钮_停止解析", "mf::SuperBtn", "外形框2", {142, 238, 42, 21}, "结束");
    row("编辑框_输出", "mf::EditBox", "外形框2", {200, 234, 384, 67}, "");
    row("透明标签2", "mf::TransLabel", "外形框2", {624, 254, 80, 24}, "搜索几页：");
    row("编辑框_停止页数", "mf::EditBox", "外形框2", {665, 255, 87, 20}, "100");
    row("外形框3", "mf::ShapeBox", "外形框2", {-16, 307, 72, 20}, "");
    row("外形框4", "mf::ShapeBox", "外形框2", {54, 307, 538, 20}, "");
    row("透明标签3", "mf::TransLabel", "外形框2", {15, 309, 129, 14}, "当前搜索状态显示：");
    row("透明标签_状态条", "mf::TransLabel", "外形框4", {98, 3, 384, 14}, "正常");
  }

  void everyControlHasItsNameKindParentGeometryAndText() {
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QWidget* control = Find<QWidget>(QTest::currentDataTag());
    QVERIFY(control != nullptr);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), geometry);
    if (auto* label = qobject_cast<QLabel*>(control)) {
      QCOMPARE(label->text(), text);
    } else if (auto* box = qobject_cast<EditBox*>(control)) {
      QCOMPARE(Q(box->GetText()), text);
    } else if (auto* button = qobject_cast<QPushButton*>(control)) {
      QCOMPARE(button->text(), text);
      QVERIFY(button->isEnabled());
    }
  }

  void titleNamesToolAndBuildDate() {
    const QString title = window_->透明标签4->text();
    QVERIFY(title.startsWith(QStringLiteral("磁力搜索器")));
    QVERIFY2(QRegularExpression(QStringLiteral("\\d{4}-\\d{2}-\\d{2}$")).match(title).hasMatch(),
             qPrintable(title));
    QCOMPARE(window_->透明标签4->geometry(), QRect(32, 10, 360, 24));
  }

  void windowIsBorderlessFixedAndCentred() {
    QCOMPARE(window_->size(), QSize(584, 356));
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QVERIFY(window_->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window_->isWindow());
    QVERIFY(!(window_->windowFlags() & Qt::WindowStaysOnTopHint));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window_->pos(), QPoint((screen.width() - 584) / 2, (screen.height() - 356) / 2));
  }

  void labelsUseTheMappedFontAtTheirHeights() {
    QCOMPARE(QFontInfo(window_->透明标签1->font()).family(), QStringLiteral("WenQuanYi Micro Hei"));
    QCOMPARE(window_->透明标签4->font().pixelSize(), 16);
    QCOMPARE(window_->透明标签5->font().pixelSize(), 20);
    QCOMPARE(window_->透明标签_状态条->font().pixelSize(), 14);
    QCOMPARE(window_->超级按钮_开始解析->font().pixelSize(), 16);
    QCOMPARE(window_->编辑框_输出->Editor()->font().pixelSize(), 14);
    QCOMPARE(window_->透明标签5->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QCOMPARE(window_->透明标签3->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(window_->透明标签5->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(window_->透明标签6->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(window_->透明标签4->cursor().shape(), Qt::ArrowCursor);
  }

  void framesAndControlsPaintTheirColours() {
    const QImage image = window_->grab().toImage();
    auto at = [&](int x, int y) { return image.pixelColor(x, y).rgb() & 0xFFFFFF; };
    QCOMPARE(at(450, 15), QColor(192, 192, 192).rgb() & 0xFFFFFF);   // title area
    QCOMPARE(at(560, 336), QColor(96, 96, 96).rgb() & 0xFFFFFF);     // 外形框4 outline
    QCOMPARE(at(560, 345), QColor(128, 128, 128).rgb() & 0xFFFFFF);  // status strip
    QCOMPARE(at(88, 268), QColor(0, 128, 128).rgb() & 0xFFFFFF);     // Start button
    QCOMPARE(at(12, 310), QColor(192, 192, 192).rgb() & 0xFFFFFF);   // keyword box
    QCOMPARE(at(190, 322), 0xFFFFFFu);                               // body frame
  }

  void labelsLieAboveFramesAndFramesBeneathControls() {
    QCOMPARE(window_->childAt(538, 15), window_->透明标签6);
    QCOMPARE(window_->childAt(565, 13), window_->透明标签5);
    QCOMPARE(window_->childAt(50, 345), window_->透明标签3);
    QCOMPARE(window_->childAt(300, 345), window_->透明标签_状态条);
    QCOMPARE(window_->childAt(450, 15), window_->外形框1);
    QCOMPARE(window_->childAt(560, 345), window_->外形框4);
  }

  void listHasThreeColumnsAndReportViewRules() {
    ListView* list = window_->超级列表框1;
    QHeaderView* header = list->horizontalHeader();
    QCOMPARE(list->model()->columnCount(), 3);
    const QStringList names{QStringLiteral("序列号"), QStringLiteral("内容"),
                            QStringLiteral("地址")};
    const QList<int> widths{100, 500, 0};
    for (int column = 0; column < 3; ++column) {
      QCOMPARE(list->model()->headerData(column, Qt::Horizontal).toString(), names[column]);
      QCOMPARE(header->sectionSize(column), widths[column]);
    }
    QVERIFY(header->isVisible());
    QVERIFY(!header->sectionsClickable());
    QVERIFY(!list->verticalHeader()->isVisible());
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(list->showGrid());
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(list->model()->rowCount(), 0);
  }

  void tabReachesThePageCountBoxAndTypingChangesIt() {
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    window_->编辑框_搜索内容->setFocus();
    QList<QWidget*> visited;
    for (int i = 0; i < 6; ++i) {
      visited << QApplication::focusWidget();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QVERIFY(visited.contains(window_->编辑框_停止页数->Editor()));
    QVERIFY(visited.contains(window_->超级按钮_开始解析));
    QVERIFY(visited.contains(window_->超级列表框1));
    QVERIFY(!visited.contains(window_->透明标签1));
    QCOMPARE(QApplication::focusWidget(), window_->编辑框_搜索内容->Editor());

    window_->编辑框_停止页数->setFocus();
    auto* pages = static_cast<QLineEdit*>(window_->编辑框_停止页数->Editor());
    pages->selectAll();
    QTest::keyClicks(pages, QStringLiteral("7"));
    QCOMPARE(GetEditBoxText(&MainWindow::编辑框_停止页数), Text("7"));
  }

  void editBoxesHaveNoLengthLimit() {
    const Text longKeyword(std::string(100000, 'k'));
    window_->编辑框_搜索内容->SetText(longKeyword);
    QCOMPARE(window_->编辑框_搜索内容->GetText(), longKeyword);
  }

  void escapeClosesFromAnyFocus_data() {
    QTest::addColumn<QString>("focus");
    QTest::newRow("keyword") << QStringLiteral("编辑框_搜索内容");
    QTest::newRow("output") << QStringLiteral("编辑框_输出");
    QTest::newRow("list") << QStringLiteral("超级列表框1");
    QTest::newRow("button") << QStringLiteral("超级按钮_停止解析");
  }

  void escapeClosesFromAnyFocus() {
    QFETCH(QString, focus);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    QWidget* control = window_->findChild<QWidget*>(focus);
    control->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(window_.isNull());
    QCOMPARE(MainWindow::Current(), nullptr);
  }

  void closeLabelDestroysTheWindowAfterThePress() {
    QTest::mousePress(window_->透明标签5, Qt::LeftButton);
    // Destroyed from the event loop, after the handler has returned.
    QVERIFY(!window_.isNull());
    QVERIFY(window_->IsClosing());
    QTRY_VERIFY(window_.isNull());
  }

  void rightPressOnCloseLabelDoesNothing() {
    QTest::mousePress(window_->透明标签5, Qt::RightButton);
    QCoreApplication::processEvents();
    QVERIFY(!window_.isNull());
    QVERIFY(!window_->IsClosing());
  }

  void minimiseLabelMinimisesOnPress() {
    QTest::mousePress(window_->透明标签6, Qt::LeftButton);
    QTRY_VERIFY(window_->isMinimized());
  }

  void dragOnAFrameMovesTheWindowButNotOnALabel() {
    const QPoint start = window_->pos();
    Drag(window_->外形框1, QPoint(450, 20), QPoint(30, 20));
    QCOMPARE(window_->pos(), start + QPoint(30, 20));
    Drag(window_->外形框4, QPoint(500, 10), QPoint(-5, 7));
    QCOMPARE(window_->pos(), start + QPoint(25, 27));
    Drag(window_->透明标签4, QPoint(20, 10), QPoint(40, 40));
    Drag(window_->透明标签_状态条, QPoint(20, 5), QPoint(40, 40));
    Drag(window_->超级按钮_开始解析, QPoint(5, 5), QPoint(40, 40));
    Drag(window_->编辑框_搜索内容->Editor(), QPoint(5, 5), QPoint(40, 40));
    Drag(window_->超级列表框1->viewport(), QPoint(50, 50), QPoint(40, 40));
    Drag(window_->超级列表框1->horizontalHeader()->viewport(), QPoint(50, 5), QPoint(40, 40));
    QCOMPARE(window_->pos(), start + QPoint(25, 27));
  }

  void doubleClickOnRowsAreaIsReportedButNotOnHeader() {
    ListView* list = window_->超级列表框1;
    QSignalSpy spy(list, &ListView::doubleClickedAnywhere);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(200, 150));
    QCOMPARE(spy.count(), 1);
    QTest::mouseDClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(50, 5));
    QCOMPARE(spy.count(), 1);
  }

 private:
  // Presses the left button at `from` in `control`, moves by `by` and releases.
  static void Drag(QWidget* control, QPoint from, QPoint by) {
    QTest::mousePress(control, Qt::LeftButton, {}, from);
    const QPoint to = from + by;
    QMouseEvent move(QEvent::MouseMove, to, control->mapToGlobal(from) + by, Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(control, &move);
    QTest::mouseRelease(control, Qt::LeftButton, {}, to);
  }
};

}  // namespace mf::test

QTEST_MAIN(mf::test::MainWindowTest)
#include "main_window_test.moc"
