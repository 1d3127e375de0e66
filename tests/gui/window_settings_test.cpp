// What the window keeps between starts and what it adds around its fixed layout: the keywords
// searched, the toolkit's Chinese menus, and a size larger than the default.
#include <QAbstractItemView>
#include <QCompleter>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTranslator>
#include <memory>

#include "app/keyword_history.h"
#include "app/link_menu.h"
#include "app/site_choice.h"
#include "app/toolkit_translations.h"
#include "app/window_size.h"
#include "gui_support.h"

namespace mf::test {

class WindowSettingsTest : public QObject {
  Q_OBJECT

 private:
  QPointer<MainWindow> window_;
  std::unique_ptr<QTemporaryDir> config_;

  QLineEdit* KeywordLine() const {
    return qobject_cast<QLineEdit*>(window_->编辑框_搜索内容->Editor());
  }
  void OpenWindow() {
    window_ = new MainWindow;
    window_->ShowCentred();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
  }
  void Search(const QString& keyword) {
    window_->编辑框_搜索内容->SetText(FromQString(keyword));
    QTest::mouseClick(window_->超级按钮_开始解析, Qt::LeftButton);
    QVERIFY(RunUntil(
        [&] { return window_->透明标签_状态条->CaptionText() == QStringLiteral("解析完毕"); }));
    OnStopClick();
  }
  // The texts of a menu's entries, one a line.
  static QString MenuTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions()) {
      texts << action->text();
    }
    return texts.join(u'\n');
  }
 private Q_SLOTS:
  void init() {
    config_ = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", config_->path().toUtf8());
    SetPageScraper(&RecordingScraper::Scrape);
    OpenWindow();
    window_->编辑框_停止页数->SetText(Text("1"));
  }

  void cleanup() { QVERIFY(CloseWindow(window_)); }

  // The rules the searches below do not reach: blanks and long keywords are not kept, the 21st
  // keyword pushes out the oldest.
  void aKeywordGoesFirstOnceAndTheListStaysShort() {
    const QStringList ab{QStringLiteral("a"), QStringLiteral("b")};
    QCOMPARE(WithKeyword(ab, QStringLiteral(" \t")), ab);
    QCOMPARE(WithKeyword(ab, QString(kLongestKeptKeyword + 1, u'x')), ab);
    const QStringList full =
        QStringLiteral("abcdefghijklmnopqrst").split(QString(), Qt::SkipEmptyParts);
    QCOMPARE(WithKeyword(full, QStringLiteral("z")),
             QStringList{QStringLiteral("z")} + full.mid(0, 19));
  }

  // Keywords searched are offered, newest first, by this window and the next; typing completes,
  // Down opens the whole list, and the context menu forgets them.
  void theKeywordBoxOffersTheKeywordsSearched() {
    QCOMPARE(KeywordHistory(), QStringList());
    Search(QStringLiteral("alpha"));
    Search(QStringLiteral("Beta"));
    Search(QStringLiteral("alpha"));
    Search(QStringLiteral("alps"));
    QCOMPARE(KeywordHistory().join(u' '), QStringLiteral("alps alpha Beta"));
    QVERIFY(CloseWindow(window_));
    OpenWindow();
    QLineEdit* line = KeywordLine();
    QCompleter* completer = line->completer();
    QVERIFY(completer != nullptr);
    QCOMPARE(completer->model()->rowCount(), 3);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    line->setFocus();
    line->clear();
    QTest::keyClicks(line, QStringLiteral("AL"));
    QVERIFY(completer->popup()->isVisible());
    QCOMPARE(completer->completionCount(), 2);
    QCOMPARE(completer->currentCompletion(), QStringLiteral("alps"));
    completer->popup()->hide();
    QTest::keyClick(line, Qt::Key_Down);
    QVERIFY(completer->popup()->isVisible());
    QCOMPARE(completer->completionCount(), 3);
    completer->popup()->hide();

    std::unique_ptr<QMenu> menu(CreateKeywordBoxMenu(*line));
    auto* clear = menu->findChild<QAction*>(QStringLiteral("clearKeywordHistory"));
    QVERIFY(clear != nullptr && clear->isEnabled());
    clear->trigger();
    QCOMPARE(KeywordHistory(), QStringList());
    QCOMPARE(completer->model()->rowCount(), 0);
    menu.reset(CreateKeywordBoxMenu(*line));
    QVERIFY(!menu->findChild<QAction*>(QStringLiteral("clearKeywordHistory"))->isEnabled());
  }

  // The toolkit's menu texts are Chinese with its translation, English without.
  void theEditBoxMenusAreChineseWithTheToolkitsTranslation() {
    const QTemporaryDir none;
    QVERIFY(!LoadToolkitTranslations(none.path()));
    auto* output = static_cast<QPlainTextEdit*>(window_->编辑框_输出->Editor());
    QVERIFY(MenuTexts(*KeywordLine()->createStandardContextMenu()).contains(u"Select All"));
    QVERIFY2(LoadToolkitTranslations(), qPrintable(ToolkitTranslationsFolder()));
    std::unique_ptr<QMenu> keywordMenu(CreateKeywordBoxMenu(*KeywordLine()));
    std::unique_ptr<QMenu> outputMenu(CreateOutputBoxMenu(*output, QPoint(5, 5)));
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(translator);
      delete translator;
    }
    const QString keywordTexts = MenuTexts(*keywordMenu);
    const QString outputTexts = MenuTexts(*outputMenu);
    QVERIFY2(keywordTexts.contains(QStringLiteral("\n全选")), qPrintable(keywordTexts));
    QVERIFY2(outputTexts.contains(QStringLiteral("\n复制")), qPrintable(outputTexts));
    QVERIFY(keywordTexts.endsWith(QStringLiteral("\n清除搜索记录")));
  }

  // The list and the output box take the room beyond the default size; the controls around them
  // keep their places from the edges, the page-count box stays beyond the right one. The window
  // never gets smaller than the default nor larger than its screen.
  void theWindowGrowsAroundItsFixedLayout_data() {
    QTest::addColumn<QSize>("wanted");
    QTest::addColumn<QSize>("extra");  // over the default size, as the window takes it
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint corner((screen.width() - 584) / 2, (screen.height() - 356) / 2);
    QTest::newRow("default") << QSize(584, 356) << QSize(0, 0);
    QTest::newRow("smaller") << QSize(300, 200) << QSize(0, 0);
    QTest::newRow("wider only") << QSize(684, 300) << QSize(100, 0);
    QTest::newRow("larger") << QSize(634, 476) << QSize(50, 120);
    QTest::newRow("beyond the screen")
        << QSize(9999, 9999)
        << QSize(screen.width() - corner.x() - 584, screen.height() - corner.y() - 356);
  }

  void theWindowGrowsAroundItsFixedLayout() {
    QFETCH(QSize, wanted);
    QFETCH(QSize, extra);
    const int listExtra = extra.height() - extra.height() / 3;
    ResizeWindow(*window_, wanted);
    QCOMPARE(window_->size(), QSize(584, 356) + extra);
    QCOMPARE(window_->minimumSize(), window_->maximumSize());
    QCOMPARE(window_->超级列表框1->geometry(), QRect(8, 0, 584 + extra.width(), 224 + listExtra));
    QCOMPARE(window_->编辑框_搜索内容->geometry(), QRect(16, 268 + listExtra, 176, 20));
    QCOMPARE(window_->编辑框_输出->geometry(),
             QRect(200, 234 + listExtra, 384 + extra.width(), 67 + extra.height() - listExtra));
    QCOMPARE(window_->编辑框_停止页数->geometry().topLeft(),
             QPoint(665 + extra.width(), 255 + listExtra));
    QCOMPARE(window_->外形框4->geometry(),
             QRect(54, 307 + extra.height(), 538 + extra.width(), 20));
    auto* grip = window_->findChild<QWidget*>(QStringLiteral("sizeGrip"));
    QCOMPARE(grip->geometry().bottomRight(), window_->rect().bottomRight());
    // The columns (100 + 500) fit once the list is wider than they are.
    QCoreApplication::processEvents();
    QCOMPARE(window_->超级列表框1->horizontalScrollBar()->isVisible(), extra.width() < 20);
  }

  // The grip resizes the window and the next start takes the size, within its screen.
  void theGripsSizeIsKeptForTheNextStart() {
    auto* grip = window_->findChild<QWidget*>(QStringLiteral("sizeGrip"));
    QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent move(QEvent::MouseMove, QPoint(55, 35), grip->mapToGlobal(QPoint(55, 35)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(grip, &move);
    QTest::mouseRelease(grip, Qt::LeftButton, {}, QPoint(55, 35));
    QCOMPARE(window_->size(), QSize(634, 386));
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    for (const auto& [text, size] : {std::pair{"", QSize(634, 386)},
                                     {"9999x9999", screen},
                                     {"123456x1", QSize(584, 356)},
                                     {"100x100", QSize(584, 356)}}) {
      if (*text != '\0') {
        QVERIFY(!WriteSetting(QStringLiteral("window/size"), QString::fromLatin1(text), {}));
      }
      QVERIFY(CloseWindow(window_));
      window_ = new MainWindow;
      RestoreWindowSize(*window_);
      QCOMPARE(window_->size(), size);
    }
  }
};

}  // namespace mf::test

QTEST_MAIN(mf::test::WindowSettingsTest)
#include "window_settings_test.moc"
