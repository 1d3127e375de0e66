// The whole program against an index site on the loopback: searches through the real request
// object, scraping of odd and failing pages, Stop during a transfer, and magnet retrieval; the
// demo site's GBK layout through its bundled definition.
#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

#include "app/magnet.h"
#include "app/proxy_choice.h"
#include "app/site_choice.h"
#include "app/site_menu.h"
#include "app/site_set.h"
#include "demo_pages.h"
#include "gui_support.h"
#include "loopback_server.h"
#include "platform/threads.h"
#include "site/check_record.h"
#include "site/site_address.h"
#include "site/site_catalogue.h"
#include "site/site_definition.h"
#include "test_site.h"
#include "tiny_proxy.h"
#include "web/proxy_setting.h"

namespace mf::test {
namespace {

constexpr const char* kDone = "解析完毕";

QString U(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string ListTarget(const std::string& keyword, int page) {
  return "/list/" + demo::PercentEncodeUtf8(keyword) + "/" + std::to_string(page);
}

std::string EntryDiv(const std::string& link, const std::string& titleHtml) {
  return "<div class=\"item-title\"><a target=\"_blank\" href=\"" + link + "\">" + titleHtml +
         "</a></div>";
}

std::string Page(const std::string& inner) {
  return "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"></head>\n<body>\n" + inner +
         "\n</body>\n</html>\n";
}

QString PageStatus(int page) {
  return QStringLiteral("正在解析第%1页，请稍等。。。").arg(page);
}

}  // namespace

class SearchE2eTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestSite> site_;
  std::string base_;
  QPointer<MainWindow> window_;
  QStringList captions_;
  QStringList outputs_;  // every content the output box showed, in turn

  ResultListModel& Rows() { return window_->超级列表框1->Rows(); }
  QString Status() const { return window_->透明标签_状态条->CaptionText(); }
  QString Output() const { return Q(window_->编辑框_输出->GetText()); }

  // A row as the list shows it: each site's text as that site wrote it.
  QStringList RowAt(int row) {
    Rows().Publish();
    const auto shown = [&](int column) {
      return Rows().data(Rows().index(row, column), Qt::DisplayRole).toString();
    };
    return {shown(0), shown(1), shown(2)};
  }
  QStringList Expected(int number, const QString& title, const std::string& link) const {
    return {QString::number(number), title, U(base_ + link)};
  }

  void StartSearch(const QString& keyword, int pages) {
    // Typed as a user types it: every character, whichever code page can hold it.
    window_->编辑框_搜索内容->findChild<QLineEdit*>(QStringLiteral("editor"))->setText(keyword);
    window_->编辑框_停止页数->SetText(Text(std::to_string(pages)));
    QTest::mouseClick(window_->超级按钮_开始解析, Qt::LeftButton);
  }
  bool WaitForStatus(const QString& status) {
    return RunUntil([&] { return Status() == status; }, 20000);
  }
  [[nodiscard]] bool Search(const QString& keyword, int pages) {
    StartSearch(keyword, pages);
    return WaitForStatus(QString::fromUtf8(kDone));
  }
  // The demo site's layouts `ids` ("demo-json,demo-table"), as --site and --mirror choose them.
  [[nodiscard]] bool UseDemoSites(const QString& ids) {
    WindowOptions options;
    options.site = ids;
    options.mirror = Text(base_);
    QStringList notes;
    return !UseStartSite(options, LoadSiteCatalogue(), notes);
  }
  // Stop, as the user ends a finished run before the next one.
  void StopRun() { QTest::mouseClick(window_->超级按钮_停止解析, Qt::LeftButton); }
  bool WorkersGone() {
    const bool gone = RunUntil([] { return platform::RunningThreadCount() == 0; });
    QCoreApplication::processEvents();
    return gone;
  }

  void DoubleClickRow(int row) {
    ListView* list = window_->超级列表框1;
    Rows().Publish();
    list->selectRow(row);
    const QRect cell = list->visualRect(Rows().index(row, 1));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
  }
  void DoubleClickEmptySpace() {
    ListView* list = window_->超级列表框1;
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->viewport()->rect().center());
  }

  // Scripts page 1 of `keyword` from entry lines and searches that one page.
  [[nodiscard]] bool SearchScriptedPage(const std::string& keyword, const std::string& lines) {
    site_->Script(ListTarget(keyword, 1), Reply{200, Page(lines)});
    return Search(U(keyword), 1);
  }

 private Q_SLOTS:
  void initTestCase() {
    site_ = std::make_unique<TestSite>();
    base_ = site_->BaseAddress();
    // Read by the program on its first request, which comes after this.
    qputenv("MAGNET_FINDER_SITE", QByteArray::fromStdString(base_));
    InitGlobals();
  }

  void cleanupTestCase() {
    ReleaseGlobals();
    site_.reset();
  }

  void init() {
    site_->Reset();
    window_ = OpenWindowRecordingCaptions(this, captions_);
    outputs_.clear();
    auto* output = qobject_cast<QPlainTextEdit*>(window_->编辑框_输出->Editor());
    QVERIFY(output != nullptr);
    connect(output, &QPlainTextEdit::textChanged, this, [this] { outputs_ << Output(); });
  }

  void cleanup() {
    site_->Release();
    QVERIFY(CloseWindow(window_));
  }

  void searchFillsNumberedRowsFromEveryPage() {
    const std::string keyword = "电影";
    QVERIFY(Search(U(keyword), 3));
    QStringList expectedCaptions{QStringLiteral("开始运行。。。")};
    int number = 0;
    for (int page = 1; page <= 3; ++page) {
      const demo::ResultPage expected = demo::MakeResultPage(keyword, page);
      QCOMPARE(expected.findable.size(), std::size_t{demo::kEntriesPerPage});
      for (const demo::Entry& entry : expected.findable) {
        ++number;
        QCOMPARE(RowAt(number - 1), Expected(number, U(entry.title), entry.link));
      }
      expectedCaptions << PageStatus(page);
    }
    expectedCaptions << QString::fromUtf8(kDone);
    QCOMPARE(Rows().RowCount(), number);
    QCOMPARE(captions_, expectedCaptions);
    QCOMPARE(site_->Targets(),
             (std::vector<std::string>{ListTarget(keyword, 1), ListTarget(keyword, 2),
                                       ListTarget(keyword, 3)}));
  }

  void titlesLoseOnlyTheHighlightMarkup() {
    const std::string lines =
        EntryDiv("/d/1", "中文<span class=\"mhl\">电影</span>1080p") + "\n" +
        // Another class with no "</script>" after it stays, as does text around it.
        EntryDiv("/d/2", "甲<span class=\"big\">乙") + "\n" +
        // Another class up to the nearest "</script>" goes, with what lies between.
        EntryDiv("/d/3", "丙<span class=\"ad\">广告</script>丁</span>") + "\n" +
        // The markup pattern is case-sensitive: upper-case tags stay.
        EntryDiv("/d/4", "<SPAN class=\"mhl\">大</SPAN>写") + "\n" +
        // Nothing but highlight tags: an empty title, the row is still added.
        EntryDiv("/d/5", "<span class=\"mhl\"></span>") + "\n" +
        // The entry pattern is not: HREF= matches.
        "<div class=\"item-title\"><a HREF=\"/d/6\">戊</a></div>\n" +
        // The link is used as written: no entity decoded, the base put before a full address.
        EntryDiv("http://other.example/x?a=1&amp;b=2", "己");
    QVERIFY(SearchScriptedPage("标记", lines));
    QCOMPARE(Rows().RowCount(), 7);
    QCOMPARE(RowAt(0), Expected(1, QStringLiteral("中文电影1080p"), "/d/1"));
    QCOMPARE(RowAt(1), Expected(2, QStringLiteral("甲<span class=\"big\">乙"), "/d/2"));
    QCOMPARE(RowAt(2), Expected(3, QStringLiteral("丙丁"), "/d/3"));
    QCOMPARE(RowAt(3), Expected(4, QStringLiteral("<SPAN class=\"mhl\">大</SPAN>写"), "/d/4"));
    QCOMPARE(RowAt(4), Expected(5, QString(), "/d/5"));
    QCOMPARE(RowAt(5), Expected(6, QStringLiteral("戊"), "/d/6"));
    QCOMPARE(RowAt(6), Expected(7, QStringLiteral("己"), "http://other.example/x?a=1&amp;b=2"));
  }

  void entriesCountOnlyWhenWhollyOnOneLine() {
    const std::string lines = EntryDiv("/d/1", "一") + EntryDiv("/d/2", "二") + "\n" +
                              "<div class=\"item-title\"><a href=\"/d/3\">\n三</a></div>\n" +
                              "<div class=\"item-title\"><a href=\"/d/4\">四</a>\n</div>\n" +
                              EntryDiv("/d/5", "五");
    QVERIFY(SearchScriptedPage("行", lines));
    QCOMPARE(Rows().RowCount(), 3);
    QCOMPARE(RowAt(0), Expected(1, QStringLiteral("一"), "/d/1"));
    QCOMPARE(RowAt(1), Expected(2, QStringLiteral("二"), "/d/2"));
    QCOMPARE(RowAt(2), Expected(3, QStringLiteral("五"), "/d/5"));
  }

  void demoQuirksLeaveOutWhatCannotMatch_data() {
    QTest::addColumn<int>("quirk");
    QTest::newRow("zero byte after the tenth entry")
        << static_cast<int>(demo::PageQuirk::kZeroByte);
    QTest::newRow("entry split over two lines") << static_cast<int>(demo::PageQuirk::kSplitEntry);
    QTest::newRow("HREF in upper case") << static_cast<int>(demo::PageQuirk::kUpperHref);
  }

  void demoQuirksLeaveOutWhatCannotMatch() {
    QFETCH(int, quirk);
    const std::string keyword = "纪录片";
    const demo::ResultPage page =
        demo::MakeResultPage(keyword, 1, static_cast<demo::PageQuirk>(quirk));
    site_->Script(ListTarget(keyword, 1), Reply{200, page.body});
    QVERIFY(Search(U(keyword), 1));
    QCOMPARE(Rows().RowCount(), static_cast<int>(page.findable.size()));
    for (int i = 0; i < Rows().RowCount(); ++i) {
      QCOMPARE(RowAt(i), Expected(i + 1, U(page.findable[i].title), page.findable[i].link));
    }
  }

  // A page that could not be fetched says so in the status strip, and so does the final text; a
  // fetched page without entries (the search ran out of results) is no failure.
  void failingPagesAddNoRowAndTheRunGoesOn() {
    const std::string keyword = "失败";
    const std::string withEntries = Page(EntryDiv("/d/404", "错误页上的条目"));
    const std::string noEntries = Page("<h1>404</h1>");
    site_->Script(ListTarget(keyword, 1), Reply{404, noEntries});
    site_->Script(ListTarget(keyword, 2), Reply{404, ""});
    site_->Script(ListTarget(keyword, 3), Reply{500, Page("<h1>500</h1>")});
    site_->Script(ListTarget(keyword, 4), Reply{200, ""});
    site_->Script(ListTarget(keyword, 5), Reply{200, withEntries, true});
    site_->Script(ListTarget(keyword, 6), Reply{200, std::string(1, '\0') + withEntries});
    // An error status is not told apart from a result page: its entries count.
    site_->Script(ListTarget(keyword, 7), Reply{404, withEntries});
    site_->Script(ListTarget(keyword, 8), Reply{200, Page("<p>没有找到更多结果</p>")});
    StartSearch(U(keyword), 9);
    QVERIFY(WaitForStatus(QStringLiteral("解析完毕（7页获取失败）")));
    const demo::ResultPage last = demo::MakeResultPage(keyword, 9);
    QCOMPARE(Rows().RowCount(), 1 + static_cast<int>(last.findable.size()));
    QCOMPARE(RowAt(0), Expected(1, QStringLiteral("错误页上的条目"), "/d/404"));
    QCOMPARE(RowAt(1), Expected(2, U(last.findable[0].title), last.findable[0].link));
    QCOMPARE(captions_.size(), 11);
    for (int page = 1; page <= 7; ++page) {
      QCOMPARE(captions_[page], QStringLiteral("第%1页获取失败").arg(page));
    }
    QCOMPARE(captions_[8], PageStatus(8));
    QCOMPARE(captions_[9], PageStatus(9));
    QCOMPARE(site_->Targets().size(), std::size_t{9});
  }

  // A site that refuses every connection costs three pages, not the hundred the box asks for, and
  // the final text says why and where to choose another site.
  void aSiteThatNeverAnswersEndsTheRunAfterThreePages() {
    UseSearchSite(Text("http://127.0.0.1:" + std::to_string(FreeLoopbackPort())));
    StartSearch(QStringLiteral("无法连接"), 100);
    const bool ended =
        WaitForStatus(QStringLiteral("解析完毕（站点无法连接：右键标题栏可换站点）"));
    UseSearchSite(Text(base_));
    QVERIFY(ended);
    QCOMPARE(
        captions_,
        (QStringList{QStringLiteral("开始运行。。。"), QStringLiteral("第1页获取失败"),
                     QStringLiteral("第2页获取失败"), QStringLiteral("第3页获取失败"), Status()}));
  }

  void numbersContinueAcrossSearches() {
    QVERIFY(Search(QStringLiteral("动画"), 1));
    QCOMPARE(Rows().RowCount(), demo::kEntriesPerPage);
    StopRun();
    QVERIFY(Search(QStringLiteral("音乐"), 1));
    QCOMPARE(Rows().RowCount(), 2 * demo::kEntriesPerPage);
    const demo::ResultPage second = demo::MakeResultPage("音乐", 1);
    QCOMPARE(RowAt(20), Expected(21, U(second.findable[0].title), second.findable[0].link));
    QCOMPARE(Q(Rows().Cell(39, 0)), QStringLiteral("40"));
  }

  void keywordIsSentAsPercentEncodedUtf8_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("target");
    QTest::newRow("Chinese") << QStringLiteral("中") << QStringLiteral("/list/%E4%B8%AD/1");
    QTest::newRow("ASCII letters") << QStringLiteral("abc") << QStringLiteral("/list/%61%62%63/1");
    QTest::newRow("space and slash")
        << QStringLiteral("a b/c") << QStringLiteral("/list/%61%20%62%2F%63/1");
    QTest::newRow("empty") << QString() << QStringLiteral("/list//1");
    // The built-in site's keyword is program text, as it always was: what GBK lacks goes as "?".
    QTest::newRow("beyond GBK") << QStringLiteral("Björk 한")
                                << QStringLiteral("/list/%42%6A%3F%72%6B%20%3F/1");
  }

  void keywordIsSentAsPercentEncodedUtf8() {
    QFETCH(QString, keyword);
    QFETCH(QString, target);
    QVERIFY(Search(keyword, 1));
    QCOMPARE(site_->Targets(), std::vector<std::string>{target.toStdString()});
    QCOMPARE(Rows().RowCount(), demo::kEntriesPerPage);
  }

  void keywordEditedDuringARunCountsFromTheNextPage() {
    site_->Hold(ListTarget("abc", 1));
    StartSearch(QStringLiteral("abc"), 3);
    QVERIFY(RunUntil([&] { return site_->Targets().size() == 1; }));
    window_->编辑框_搜索内容->SetText(Text("xy"));
    site_->Release();
    QVERIFY(WaitForStatus(QString::fromUtf8(kDone)));
    QCOMPARE(site_->Targets(),
             (std::vector<std::string>{"/list/%61%62%63/1", "/list/%78%79/2", "/list/%78%79/3"}));
    const demo::ResultPage second = demo::MakeResultPage("xy", 2);
    QCOMPARE(RowAt(20), Expected(21, U(second.findable[0].title), second.findable[0].link));
  }

  void stopDuringAPageEndsTheRunWithoutAnotherWord() {
    const std::string keyword = "停止";
    site_->SetLatency(std::chrono::milliseconds(150));
    site_->Hold(ListTarget(keyword, 2));
    StartSearch(U(keyword), 5);
    QVERIFY(RunUntil([&] { return site_->Targets().size() == 2; }));
    QCOMPARE(Status(), PageStatus(1));
    StopRun();
    // The site now answers page 2; the stopped worker must not show it.
    site_->Release();
    QVERIFY(WorkersGone());
    QCOMPARE(Rows().RowCount(), demo::kEntriesPerPage);
    QCOMPARE(captions_, (QStringList{QStringLiteral("开始运行。。。"), PageStatus(1),
                                     QStringLiteral("已销毁线程")}));
    QCOMPARE(site_->Targets().size(), std::size_t{2});
    QVERIFY(window_->超级按钮_开始解析->isEnabled());
  }

  void doubleClickWithoutSelectionReportsFailure() {
    DoubleClickEmptySpace();
    QVERIFY(RunUntil([&] { return outputs_.size() >= 3; }));
    QVERIFY(WorkersGone());
    QCOMPARE(outputs_.last(), QStringLiteral("获取失败，重新单击开始搜索"));
    QVERIFY(outputs_.contains(QStringLiteral("正在获取磁力。。。")));
    QVERIFY(site_->Targets().empty());
  }

  // The GBK site: the keyword goes out as GBK, pages are read in the charset their answer names,
  // titles are cleaned as its definition says, and a double click finds links after its label.
  void theGbkSiteSearchesAndFetchesAsItsDefinitionSays() {
    const std::shared_ptr<const SiteDefinition> gbk = LoadSiteCatalogue().Find("demo-gbk");
    QVERIFY(gbk != nullptr);
    const std::string link = demo::MakeGbkResultPage("电影", 1).findable[1].link;
    const std::vector<std::string> links = demo::MakeGbkDetailPage(link.substr(9, 16))->links;
    QCOMPARE(links.size(), std::size_t{2});
    const QString output = QStringLiteral("磁1：%1\r\n磁2：%2\r\n").arg(U(links[0]), U(links[1]));
    UseSite(gbk, Text(base_));
    // A keyword that GBK cannot write is not sent as "?": its first page fails unasked for, and
    // the walk ends there.
    StartSearch(QStringLiteral("Björk"), 2);
    const bool refused =
        WaitForStatus(QStringLiteral("解析完毕（1页获取失败）")) && site_->Targets().empty();
    StopRun();
    const bool done = refused && Search(QStringLiteral("电影"), 2);
    if (done)
      DoubleClickRow(1);
    const bool fetched = done && RunUntil([&] { return Output() == output; });
    // The other tests' site again, before a check can end this one.
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
    QVERIFY(refused);
    QVERIFY(done);
    QVERIFY(fetched);
    int number = 0;
    for (int page = 1; page <= 2; ++page) {
      for (const demo::Entry& entry : demo::MakeGbkResultPage("电影", page).findable) {
        ++number;
        QCOMPARE(RowAt(number - 1), Expected(number, U(entry.title), entry.link));
      }
    }
    QCOMPARE(Rows().RowCount(), number);
    QCOMPARE(site_->Targets(), (std::vector<std::string>{"/search?q=%B5%E7%D3%B0&p=1",
                                                         "/search?q=%B5%E7%D3%B0&p=2", link}));
  }

  // Any other site takes a keyword of any script from the box, sends it as UTF-8, and its rows
  // are shown as it wrote them.
  void aUtf8SiteTakesAndShowsEveryCharacter() {
    LoadedSite loaded = ParseSiteDefinition(BuiltInSiteText(), "utf8.yaml", "");
    QVERIFY(loaded.definition);
    UseSite(std::make_shared<const SiteDefinition>(std::move(*loaded.definition)), Text(base_));
    const std::string keyword = "Björk 한국어 🎬";
    const bool done = Search(U(keyword), 1);
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
    QVERIFY(done);
    QCOMPARE(site_->Targets(), std::vector<std::string>{ListTarget(keyword, 1)});
    int number = 0;
    for (const demo::Entry& entry : demo::MakeResultPage(keyword, 1).findable) {
      ++number;
      QCOMPARE(RowAt(number - 1), Expected(number, U(entry.title), entry.link));
    }
    QVERIFY(RowAt(0)[1].contains(U(keyword)));
  }

  // A search of several sites sends each the keyword as it can: the GBK site cannot write "ö",
  // so its page fails unasked for, and the other site's rows show the keyword as typed.
  void severalSitesSendTheKeywordEachCanWrite() {
    QVERIFY(UseDemoSites(QStringLiteral("demo-gbk,demo-json")));
    StartSearch(QStringLiteral("Björk 电影"), 1);
    const bool done = WaitForStatus(QStringLiteral("解析完毕（1页获取失败）"));
    UseOneSite();
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
    QVERIFY(done);
    QCOMPARE(site_->Targets(), std::vector<std::string>{
                                   "/api/search?q=%42%6A%C3%B6%72%6B%20%E7%94%B5%E5%BD%B1&page=1"});
    QCOMPARE(Rows().RowCount(), demo::kEntriesPerPage);
    Rows().Publish();
    QVERIFY2(Rows().index(0, 1).data().toString().contains(QStringLiteral("Björk")),
             qPrintable(Rows().index(0, 1).data().toString()));
  }

  // A site that repeats its last page: the walk ends there, and the repeated rows are not added.
  void aRepeatedLastPageEndsTheWalkAndAddsNoRow() {
    UseSite(LoadSiteCatalogue().Find("demo-table"), Text(base_));
    const bool done = Search(QStringLiteral("电影"), 10);
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
    QVERIFY(done);
    QCOMPARE(site_->Targets().size(), std::size_t{4});
    QCOMPARE(Rows().RowCount(), 3 * demo::kEntriesPerPage);
  }

  // Two sites from --site a,b, walked at once: one list with the columns the two give and 站点,
  // a torrent the two both list once, the end text as for one site; a header click sorts by the
  // seeders, most first, and the selected row stays selected; Ctrl+C copies the columns shown.
  void twoSitesFillOneListWithTheirColumns() {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    QVERIFY(UseDemoSites(QStringLiteral("demo-json,demo-table")));
    const bool done = Search(QStringLiteral("电影"), 1);
    UseOneSite();
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
    QVERIFY(done);
    // JSON lists torrents 0-19 and the table 10-29: ten are on both.
    QCOMPARE(Rows().RowCount(), 30);
    ListView* list = window_->超级列表框1;
    QStringList header;
    for (int column = 0; column < Rows().columnCount(); ++column) {
      header << Rows().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    }
    QCOMPARE(header,
             (QStringList{QStringLiteral("序列号"), QStringLiteral("内容"), QStringLiteral("地址"),
                          QStringLiteral("大小"), QStringLiteral("做种"), QStringLiteral("吸血"),
                          QStringLiteral("日期"), QStringLiteral("站点")}));
    QVERIFY(captions_.join(u'|').contains(QStringLiteral("演示站（表格）：正在解析第1页")));
    Rows().Publish();
    list->selectRow(5);
    const QString selected = Rows().index(5, 1).data().toString();
    QTest::mouseClick(list->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(list->horizontalHeader()->sectionViewportPosition(4) + 5, 5));
    QCOMPARE(list->SelectedRows(), std::vector<int>{list->SelectedRow()});
    QCOMPARE(Rows().index(list->SelectedRow(), 1).data().toString(), selected);
    for (int row = 1; row < Rows().rowCount(); ++row) {
      QVERIFY(Rows().index(row - 1, 4).data().toInt() >= Rows().index(row, 4).data().toInt());
    }
    list->setFocus();
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split(u'\n');
    QCOMPARE(lines.size(), 32);  // the header, 30 rows and the end of the last line
    QCOMPARE(lines[0], QStringLiteral("序列号\t内容\t大小\t做种\t吸血\t日期\t站点\t磁力链接"));
    QVERIFY2(lines[1].section(u'\t', 7).startsWith(QStringLiteral("magnet:?xt=urn:btih:")),
             qPrintable(lines[1]));
  }

  // 结束 during a search of several sites ends every walk at once, one held in a request too: no
  // row and no status text after it.
  void stopEndsEveryWalkOfSeveralSites() {
    site_->Hold("/torrents?q=%E5%81%9C&p=1");
    QVERIFY(UseDemoSites(QStringLiteral("demo-json,demo-table")));
    StartSearch(QStringLiteral("停"), 3);
    const bool rowsCame = RunUntil([&] { return Rows().RowCount() == 3 * demo::kEntriesPerPage; });
    StopRun();
    UseOneSite();
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
    QVERIFY(rowsCame);
    QVERIFY(WorkersGone());
    site_->Release();
    QCOMPARE(Rows().RowCount(), 3 * demo::kEntriesPerPage);
    QCOMPARE(Status(), QStringLiteral("已销毁线程"));
  }

  // 全部站点 in the site menu picks every site, a Ctrl+click takes one out again, and the choice
  // of several is kept for the next start; a plain click picks one site alone.
  void theSiteMenuPicksSeveralSitesAndTheNextStartKeepsThem() {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    const SiteCatalogue catalogue = LoadSiteCatalogue();
    const std::size_t every = catalogue.Usable().size();
    std::unique_ptr<QMenu> menu(CreateSiteMenu(window_, catalogue));
    menu->findChild<QAction*>(QStringLiteral("allSites"))->trigger();
    QCOMPARE(SitesInUse().size(), every);
    QCOMPARE(RememberedSiteId(), std::string("*"));
    menu.reset(CreateSiteMenu(window_, catalogue));
    QVERIFY(menu->findChild<QAction*>(QStringLiteral("allSites"))->isChecked());
    QTest::keyPress(window_->windowHandle(), Qt::Key_Control,
                    Qt::ControlModifier);  // held while the entry is clicked
    menu->findChild<QAction*>(QStringLiteral("demo-json"))->trigger();
    QTest::keyRelease(window_->windowHandle(), Qt::Key_Control);
    QCOMPARE(SitesInUse().size(), every - 1);
    UseOneSite();
    QStringList notes;
    QVERIFY(!UseStartSite({}, catalogue, notes));
    QCOMPARE(SitesInUse().size(), every - 1);
    menu.reset(CreateSiteMenu(window_, catalogue));
    menu->findChild<QAction*>(QStringLiteral("demo-table"))->trigger();
    QVERIFY(!SeveralSitesInUse());
    QCOMPARE(CurrentSite().definition->id, std::string("demo-table"));
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
  }

  // A site whose address names no page is asked once, whatever the page count says; its own
  // User-Agent goes with the result page and with the detail page of a double click.
  void aSiteOfOnePageIsAskedOnceWithItsOwnHeaders() {
    auto site = std::make_shared<SiteDefinition>(*LoadSiteCatalogue().Find("demo-gbk"));
    site->searchAddress = "{base}/search?q={keyword}&p=1";
    site->requestHeaders = {{"User-Agent", "Mozilla/5.0 (X11; Linux x86_64) Test/1"}};
    const std::string link = demo::MakeGbkResultPage("电影", 1).findable[0].link;
    UseSite(site, Text(base_));
    const bool done = Search(QStringLiteral("电影"), 5);
    if (done)
      DoubleClickRow(0);
    const bool fetched = done && RunUntil([&] { return site_->Targets().size() == 2; });
    UseSite(std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](auto*) {}));
    QVERIFY(done);
    QVERIFY(fetched);
    QCOMPARE(Rows().RowCount(),
             static_cast<int>(demo::MakeGbkResultPage("电影", 1).findable.size()));
    QCOMPARE(site_->Targets(), (std::vector<std::string>{"/search?q=%B5%E7%D3%B0&p=1", link}));
    QCOMPARE(site_->UserAgents(),
             std::vector<std::string>(2, "Mozilla/5.0 (X11; Linux x86_64) Test/1"));
  }

  void magnetLinksAreWrittenNumberedOnePerLine() {
    const std::string detail =
        "<p>磁力下载：<a href=\"magnet:?xt=urn:btih:AAA&amp;dn=x\">复制</a></p>\n"
        "<p>旧版磁力下载: <a href=\"magnet:?xt=urn:btih:COLON\">半角冒号</a></p>\n"
        "<p>迅雷下载：<a href=\"magnet:?xt=urn:btih:BBB\">迅雷</a></p>\n"
        "<p>下载地址：<a href=\"/mirror.html\">镜像</a></p>\n"
        "<p>磁力下载：<a href=\"magnet:?xt=urn:btih:CCC&#38;dn=a&amp;amp;b\">编码</a></p>\n"
        "<p>磁力下载：<a href=\"magnet:?xt=urn:btih:DDD&#10;x&amp;y\">换行</a></p>\n";
    site_->Script("/detail/two.html", Reply{200, Page(detail)});
    QVERIFY(SearchScriptedPage("磁力", EntryDiv("/detail/two.html", "两个链接")));
    DoubleClickRow(0);
    const QString expected = QStringLiteral(
        "磁1：magnet:?xt=urn:btih:AAA&dn=x\r\n磁2：magnet:?xt=urn:btih:BBB\r\n"
        "磁3：magnet:?xt=urn:btih:CCC&dn=a&amp;b\r\n"
        "磁4：magnet:?xt=urn:btih:DDD&#10;x&amp;y\r\n");
    QVERIFY(RunUntil([&] { return Output() == expected; }));
    QVERIFY(WorkersGone());
    QCOMPARE(Output(), expected);
    QCOMPARE(site_->Targets().back(), std::string("/detail/two.html"));
  }

  void detailPageWithoutLabelsLeavesTheOutputEmpty() {
    site_->Script("/detail/none.html", Reply{200, Page("<p>没有磁力</p>")});
    QVERIFY(SearchScriptedPage("空", EntryDiv("/detail/none.html", "无链接")));
    window_->编辑框_输出->SetText(Text("old"));
    DoubleClickRow(0);
    QVERIFY(RunUntil([&] { return site_->Targets().size() == 2; }));
    QVERIFY(WorkersGone());
    QCOMPARE(Output(), QString());
    QVERIFY(outputs_.contains(QStringLiteral("正在获取磁力。。。")));
  }

  // A second double-click supersedes the fetch before it: nothing of the first entry's slow, big
  // page reaches the box. Alone, that page's 10,000 lines arrive whole, in a few changes of the
  // box.
  void aNewDoubleClickSupersedesTheFetchBefore() {
    std::string big;
    QString bigLines;
    for (int i = 1; i <= 10000; ++i) {
      const std::string link = "magnet:?xt=urn:btih:" + std::to_string(i);
      big += "<p>磁力下载：<a href=\"" + link + "\">复制</a></p>\n";
      bigLines += QStringLiteral("磁%1：").arg(i) + U(link) + QStringLiteral("\r\n");
    }
    site_->Script("/detail/big.html", Reply{200, Page(big)});
    site_->Script(
        "/detail/one.html",
        Reply{200, Page("<p>迅雷下载：<a href=\"magnet:?xt=urn:btih:ONE\">迅雷</a></p>")});
    QVERIFY(SearchScriptedPage(
        "两次", EntryDiv("/detail/big.html", "大") + "\n" + EntryDiv("/detail/one.html", "小")));
    site_->Hold("/detail/big.html");
    DoubleClickRow(0);
    QVERIFY(RunUntil([&] { return site_->Targets().size() == 2; }));
    DoubleClickRow(1);
    const QString one = QStringLiteral("磁1：magnet:?xt=urn:btih:ONE\r\n");
    QVERIFY(RunUntil([&] { return Output() == one; }));
    site_->Release();
    QVERIFY(WorkersGone());
    QCOMPARE(Output(), one);

    outputs_.clear();
    DoubleClickRow(0);
    QVERIFY(RunUntil([&] { return Output() == bigLines; }));
    QVERIFY(WorkersGone());
    QCOMPARE(Output(), bigLines);
    QVERIFY2(outputs_.size() < 100, qPrintable(QString::number(outputs_.size())));
  }

  void magnetFetchDuringASearchKeepsBothRight() {
    const std::string keyword = "并行";
    site_->Hold(ListTarget(keyword, 2));
    StartSearch(U(keyword), 3);
    QVERIFY(RunUntil([&] { return site_->Targets().size() == 2; }));
    const demo::ResultPage first = demo::MakeResultPage(keyword, 1);
    const std::string link = first.findable[0].link;
    const auto detail = demo::MakeDetailPage(link.substr(8, 16));
    QVERIFY(detail.has_value());
    QString expected;
    // The box shows each link as the download tool takes it: "&amp;" in the page is "&".
    for (std::size_t i = 0; i < detail->links.size(); ++i) {
      expected += QStringLiteral("磁%1：").arg(i + 1) +
                  U(detail->links[i]).replace(QStringLiteral("&amp;"), QStringLiteral("&")) +
                  QStringLiteral("\r\n");
    }
    DoubleClickRow(0);
    QVERIFY(RunUntil([&] { return Output() == expected; }));
    site_->Release();
    QVERIFY(WaitForStatus(QString::fromUtf8(kDone)));
    QCOMPARE(Output(), expected);
    QCOMPARE(Rows().RowCount(), 3 * demo::kEntriesPerPage);
    const demo::ResultPage third = demo::MakeResultPage(keyword, 3);
    QCOMPARE(RowAt(40), Expected(41, U(third.findable[0].title), third.findable[0].link));
  }

  void siteMenuPickCountsFromTheNextSearchAndTheNextStart() {
    QTemporaryDir home;
    const QString data = home.filePath(QStringLiteral("data"));
    QVERIFY(WriteSiteUnderId(data, "other"));
    // Read by the first menu, which comes after this; the site keeps MAGNET_FINDER_SITE's address.
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    // Through the window system's window, which turns a right-click into a context-menu request.
    QTest::mouseClick(window_->windowHandle(), Qt::RightButton, {},
                      window_->透明标签4->mapTo(window_, QPoint(40, 12)));
    auto* menu = window_->findChild<QMenu*>(QStringLiteral("siteMenu"));
    QVERIFY(menu != nullptr);
    auto* builtIn = menu->findChild<QAction*>(QString::fromStdString(BuiltInSite().id));
    auto* other = menu->findChild<QAction*>(QStringLiteral("other"));
    QVERIFY(builtIn != nullptr && other != nullptr);
    QVERIFY(builtIn->isChecked() && !other->isChecked());
    QCOMPARE(other->text(), QStringLiteral("站点 other (other)"));
    // A site whose last check failed is marked; one that was ok or never checked is not.
    qputenv("XDG_CACHE_HOME", home.filePath(QStringLiteral("cache")).toUtf8());
    QCOMPARE(WriteCheckRecords({{"other", {CheckVerdict::kUnreachable, 0}},
                                {BuiltInSite().id, {CheckVerdict::kOk, 0}}}),
             std::string());
    std::unique_ptr<QMenu> marked(CreateSiteMenu(window_, WindowSites()));
    QCOMPARE(marked->findChild<QAction*>(QStringLiteral("other"))->text(),
             QStringLiteral("站点 other (other)（上次检查：无法连接）"));
    QCOMPARE(marked->findChild<QAction*>(QString::fromStdString(BuiltInSite().id))->text(),
             builtIn->text());
    other->trigger();
    menu->close();
    QVERIFY(Search(QStringLiteral("换站"), 1));
    QCOMPARE(site_->Targets(), std::vector<std::string>{ListTarget("换站", 1) + "?via=other"});
    QCOMPARE(Rows().RowCount(), demo::kEntriesPerPage);
    struct stat settings {};
    QCOMPARE(::stat(QFile::encodeName(SettingsFile()).constData(), &settings), 0);
    QCOMPARE(settings.st_mode & 0777u, 0600u);
    QCOMPARE(::stat(QFile::encodeName(QFileInfo(SettingsFile()).path()).constData(), &settings), 0);
    QCOMPARE(settings.st_mode & 0777u, 0700u);  // the folder, made here

    // The next start takes the remembered site while it is found, else the built-in one.
    const std::shared_ptr<const SiteDefinition> builtInSite(&BuiltInSite(), [](const auto*) {});
    UseSite(builtInSite);
    QStringList notes;
    QVERIFY(!UseStartSite({}, WindowSites(), notes));
    QCOMPARE(CurrentSite().definition->id, std::string("other"));
    QCOMPARE(Q(CurrentSite().base), U(base_));
    QVERIFY(notes.isEmpty());
    QVERIFY(!UseStartSite({}, LoadSiteCatalogue(std::vector<std::string>{}), notes));
    QCOMPARE(CurrentSite().definition->id, BuiltInSite().id);
    QCOMPARE(notes.size(), 1);
    QVERIFY2(notes[0].contains(QStringLiteral("'other'")), qPrintable(notes[0]));
  }

  // A proxy given once carries the searches, and is kept for the next starts in the settings
  // file, made 0600 even when it was readable by others; --no-proxy forgets it.
  void aProxyGivenOnceIsUsedRememberedAndForgotten() {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    QVERIFY(QDir().mkpath(QFileInfo(SettingsFile()).path()));
    QFile loose(SettingsFile());
    QVERIFY(loose.open(QIODevice::WriteOnly) && loose.write("[network]\n") > 0);
    loose.close();
    QVERIFY(loose.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                 QFile::ReadOther));
    TinyProxy proxy(home.path().toStdString());
    QVERIFY(proxy.Ready());
    // The proxy refuses a wrong password: the page is not fetched, so it went nowhere else.
    WindowOptions given;
    given.proxy = "http://user:wrong@" + proxy.Address();
    QStringList notes;
    UseStartProxy(given, notes);
    StartSearch(QStringLiteral("代理"), 1);
    QVERIFY(WaitForStatus(QStringLiteral("解析完毕（1页获取失败）")));
    QVERIFY(site_->Targets().empty());
    StopRun();
    const std::string address = "http://user:secret@" + proxy.Address();
    given.proxy = address;
    UseStartProxy(given, notes);
    QVERIFY2(notes.isEmpty(), qPrintable(notes.join(u'\n')));
    QVERIFY(Search(QStringLiteral("代理"), 1));
    QCOMPARE(site_->Targets(), std::vector<std::string>{ListTarget("代理", 1)});
    QCOMPARE(Rows().RowCount(), demo::kEntriesPerPage);
    struct stat settings {};
    QCOMPARE(::stat(QFile::encodeName(SettingsFile()).constData(), &settings), 0);
    QCOMPARE(settings.st_mode & 0777u, 0600u);
    QCOMPARE(RememberedProxy(), address);

    // The next start.
    UseProxy(std::nullopt);
    UseStartProxy({}, notes);
    QVERIFY(CurrentProxy() != nullptr);
    QCOMPARE(CurrentProxy()->Address(), "http://" + proxy.Address());
    QCOMPARE(CurrentProxy()->password, std::string("secret"));
    WindowOptions forget;
    forget.noProxy = true;
    UseStartProxy(forget, notes);
    QVERIFY(CurrentProxy() == nullptr);
    QCOMPARE(RememberedProxy(), std::string());
    QVERIFY(notes.isEmpty());
  }
};

}  // namespace mf::test

QTEST_MAIN(mf::test::SearchE2eTest)
#include "search_e2e_test.moc"
