// Both programs from the outside, against an index site on the loopback: the command line's
// search and magnets commands (output, progress, failures, exit codes, signals, --open), the
// window's command line, and the window and the command line finding the same rows.
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

#include "demo_pages.h"
#include "gui_support.h"
#include "platform/threads.h"
#include "test_site.h"

namespace mf::test {
namespace {

struct Finished {
  int exitCode = -1;
  QString out;
  QString err;
};

QString U(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

std::string ListTarget(const std::string& keyword, int page) {
  return "/list/" + demo::PercentEncodeUtf8(keyword) + "/" + std::to_string(page);
}

void Start(QProcess& process, const QString& program, const QStringList& arguments,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
  process.setProcessEnvironment(environment);
  process.start(program, arguments);
  QVERIFY2(process.waitForStarted(), qPrintable(program));
}

Finished Collect(QProcess& process) {
  Finished finished;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return finished;
  }
  finished.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  finished.out = QString::fromUtf8(process.readAllStandardOutput());
  finished.err = QString::fromUtf8(process.readAllStandardError());
  return finished;
}

QProcessEnvironment WithoutDisplay() {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    environment.remove(QString::fromLatin1(name));
  }
  return environment;
}

}  // namespace

class CommandLineE2eTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<TestSite> site_;
  QString base_;

  Finished Cli(const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    Start(process, QStringLiteral(MF_CLI_PROGRAM), arguments, environment);
    return Collect(process);
  }

  // The rows the site's pages hold for `keyword`, pages 1..pages, as tab-separated lines.
  QStringList ExpectedRows(const std::string& keyword, int pages) const {
    QStringList rows;
    for (int page = 1; page <= pages; ++page) {
      for (const demo::Entry& entry : demo::MakeResultPage(keyword, page).findable) {
        rows << QStringLiteral("%1\t%2\t%3%4")
                    .arg(rows.size() + 1)
                    .arg(U(entry.title), base_, U(entry.link));
      }
    }
    return rows;
  }

  // The window's rows after a search, in the same form.
  QStringList WindowRows(const QString& keyword, int pages) {
    auto* window = new MainWindow;
    window->ShowCentred();
    window->编辑框_搜索内容->SetText(FromQString(keyword));
    window->编辑框_停止页数->SetText(Text(std::to_string(pages)));
    QTest::mouseClick(window->超级按钮_开始解析, Qt::LeftButton);
    const bool done = RunUntil(
        [&] { return window->透明标签_状态条->CaptionText() == QStringLiteral("解析完毕"); });
    QStringList rows;
    ResultListModel& model = window->超级列表框1->Rows();
    for (int row = 0; done && row < model.RowCount(); ++row) {
      rows << Q(model.Cell(row, 0)) + QLatin1Char('\t') + Q(model.Cell(row, 1)) +
                  QLatin1Char('\t') + Q(model.Cell(row, 2));
    }
    EndAllWorkers();
    delete window;
    return rows;
  }

 private Q_SLOTS:
  void initTestCase() {
    site_ = std::make_unique<TestSite>();
    base_ = U(site_->BaseAddress());
    qputenv("MAGNET_FINDER_SITE", base_.toUtf8());
    InitGlobals();
  }
  void cleanupTestCase() {
    ReleaseGlobals();
    site_.reset();
  }
  void init() { site_->Reset(); }
  void cleanup() { site_->Release(); }

  void searchPrintsEveryEntryAsItsPageIsRead() {
    const Finished tsv = Cli({QStringLiteral("search"), QStringLiteral("电影"),
                              QStringLiteral("--pages"), QStringLiteral("3")});
    QCOMPARE(tsv.exitCode, 0);
    QCOMPARE(tsv.out, QStringLiteral("number\ttitle\turl\n") +
                          ExpectedRows("电影", 3).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    QCOMPARE(tsv.err, QStringLiteral("page 1/3: 20 rows\npage 2/3: 40 rows\npage 3/3: 60 rows\n"));

    const Finished json =
        Cli({QStringLiteral("search"), QStringLiteral("电影"), QStringLiteral("--pages=2"),
             QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--quiet")});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.err, QString());
    const QStringList lines = json.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList expected = ExpectedRows("电影", 2);
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i) {
      const QJsonObject entry = QJsonDocument::fromJson(lines[i].toUtf8()).object();
      const QStringList fields = expected[i].split(QLatin1Char('\t'));
      QCOMPARE(entry.value(QStringLiteral("number")).toInt(), i + 1);
      QCOMPARE(entry.value(QStringLiteral("page")).toInt(), i / demo::kEntriesPerPage + 1);
      QCOMPARE(entry.value(QStringLiteral("title")).toString(), fields[1]);
      QCOMPARE(entry.value(QStringLiteral("url")).toString(), fields[2]);
    }
  }

  void failedPagesAreReportedAndTheWalkGoesOn() {
    site_->Script(ListTarget("坏", 2), Reply{500, "<h1>500</h1>"});
    const Finished some = Cli({QStringLiteral("search"), QStringLiteral("坏"),
                               QStringLiteral("--pages"), QStringLiteral("3")});
    QCOMPARE(some.exitCode, 0);
    QVERIFY2(some.err.contains(QStringLiteral("page 2 not fetched: HTTP 500\n")),
             qPrintable(some.err));
    QCOMPARE(some.out.count(QLatin1Char('\n')), 1 + 2 * demo::kEntriesPerPage);

    const Finished none =
        Cli({QStringLiteral("search"), QStringLiteral("x"), QStringLiteral("--pages"),
             QStringLiteral("2"), QStringLiteral("--site"), QStringLiteral("http://127.0.0.1:1")});
    QCOMPARE(none.exitCode, 1);
    QCOMPARE(none.err.count(QStringLiteral("not fetched: cannot connect")), 2);

    const Finished bad = Cli({QStringLiteral("search"), QStringLiteral("x"),
                              QStringLiteral("--site"), QStringLiteral("ftp://x")});
    QCOMPARE(bad.exitCode, 2);
    QVERIFY(bad.err.contains(QStringLiteral("'ftp://x'")));
  }

  void magnetsPrintsAndOpensTheLinksOfADetailPage() {
    const std::string link = demo::MakeResultPage("磁力", 1).findable[0].link;
    const auto detail = demo::MakeDetailPage(link.substr(8, 16));
    QVERIFY(detail.has_value());
    QString expected;
    QString opened;
    for (const std::string& each : detail->links) {
      expected += U(each) + QLatin1Char('\n');
      opened += U(each).replace(QStringLiteral("&amp;"), QStringLiteral("&")) + QLatin1Char('\n');
    }
    QTemporaryDir bin;
    const QString log = bin.filePath(QStringLiteral("opened.txt"));
    QFile fake(bin.filePath(QStringLiteral("xdg-open")));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$OPENED_LOG\"\n");
    fake.close();
    fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       bin.path() + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
    environment.insert(QStringLiteral("OPENED_LOG"), log);

    const Finished text =
        Cli({QStringLiteral("magnets"), base_ + U(link), QStringLiteral("--open")}, environment);
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(text.out, expected);
    QFile written(log);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(written.readAll()), opened);

    const Finished json = Cli({QStringLiteral("magnets"), base_ + U(link),
                               QStringLiteral("--format"), QStringLiteral("json")});
    QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).array().size(),
             static_cast<qsizetype>(detail->links.size()));

    const Finished missing = Cli({QStringLiteral("magnets"), base_ + QStringLiteral("/nope.html")});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.err.endsWith(QStringLiteral("/nope.html: HTTP 404\n")),
             qPrintable(missing.err));
  }

  void signalsStopAtOnceLeavingWholeLines_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("Ctrl-C") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
  }
  void signalsStopAtOnceLeavingWholeLines() {
    QFETCH(int, signal);
    site_->Hold(ListTarget("停", 2));
    QProcess process;
    Start(process, QStringLiteral(MF_CLI_PROGRAM),
          {QStringLiteral("search"), QStringLiteral("停"), QStringLiteral("--pages"),
           QStringLiteral("5")});
    QVERIFY(RunUntil([&] { return site_->Targets().size() == 2; }, 20000));
    ::kill(static_cast<pid_t>(process.processId()), signal);
    QElapsedTimer stopping;
    stopping.start();
    const Finished finished = Collect(process);
    QVERIFY2(stopping.elapsed() < 5000, qPrintable(QString::number(stopping.elapsed())));
    QCOMPARE(finished.exitCode, 128 + signal);
    QCOMPARE(finished.out, QStringLiteral("number\ttitle\turl\n") +
                               ExpectedRows("停", 1).join(QLatin1Char('\n')) + QLatin1Char('\n'));
  }

  void windowAndCommandLineFindTheSameRows() {
    const QStringList window = WindowRows(QStringLiteral("纪录片"), 3);
    const Finished cli =
        Cli({QStringLiteral("search"), QStringLiteral("纪录片"), QStringLiteral("--pages"),
             QStringLiteral("3"), QStringLiteral("-q")});
    QCOMPARE(cli.exitCode, 0);
    QCOMPARE(window.size(), 3 * demo::kEntriesPerPage);
    QCOMPARE(cli.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1), window);
  }

  void windowTakesSiteKeywordPagesAndStartFromItsCommandLine() {
    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("MAGNET_FINDER_SITE"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Start(window, QStringLiteral(MF_WINDOW_PROGRAM),
          {QStringLiteral("--site"), base_ + QLatin1Char('/'), QStringLiteral("--pages"),
           QStringLiteral("2"), QStringLiteral("--start"), QStringLiteral("--verbose"),
           QStringLiteral("窗口")},
          environment);
    site_->Script(ListTarget("窗口", 2), Reply{404, "<h1>404</h1>"});
    const std::vector<std::string> expected = {ListTarget("窗口", 1), ListTarget("窗口", 2)};
    QVERIFY(RunUntil([&] { return site_->Targets() == expected; }, 20000));
    // --verbose: the failed page is logged.
    QByteArray logged;
    QVERIFY(RunUntil(
        [&] {
          logged += window.readAllStandardError();
          return logged.contains(" failed after ");
        },
        20000));
    window.kill();
    window.waitForFinished();

    const Finished bad = [&] {
      QProcess process;
      Start(process, QStringLiteral(MF_WINDOW_PROGRAM),
            {QStringLiteral("--site"), QStringLiteral("ftp://x")});
      return Collect(process);
    }();
    QCOMPARE(bad.exitCode, 2);
    QCOMPARE(bad.err, QStringLiteral("magnet-finder: --site: not an http:// or https:// address: "
                                     "'ftp://x' (see --help)\n"));
  }

  void windowTakesASiteByIdAtAMirrorAndSkipsABrokenFile() {
    QTemporaryDir home;
    const QString data = home.filePath(QStringLiteral("data"));
    QVERIFY(WriteSiteUnderId(data, "other"));
    QFile broken(data + QStringLiteral("/magnet-finder/sites/broken.yaml"));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("format: 1\nid: [\n") > 0);
    broken.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("MAGNET_FINDER_SITE"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    const auto window = [&](const QStringList& arguments) {
      QProcess process;
      Start(process, QStringLiteral(MF_WINDOW_PROGRAM), arguments, environment);
      return Collect(process);
    };
    const Finished unknown = window({QStringLiteral("--site"), QStringLiteral("nosuch")});
    QCOMPARE(unknown.exitCode, 2);
    QVERIFY2(unknown.err.contains(QStringLiteral("magnet-finder: --site: unknown site 'nosuch'")),
             qPrintable(unknown.err));
    const Finished badMirror = window({QStringLiteral("--mirror"), QStringLiteral("x")});
    QCOMPARE(badMirror.exitCode, 2);
    QVERIFY2(
        badMirror.err.contains(QStringLiteral("--mirror: not an http:// or https:// address: 'x'")),
        qPrintable(badMirror.err));

    QProcess running;
    Start(running, QStringLiteral(MF_WINDOW_PROGRAM),
          {QStringLiteral("--site"), QStringLiteral("other"), QStringLiteral("--mirror"), base_,
           QStringLiteral("--pages"), QStringLiteral("1"), QStringLiteral("--start"),
           QStringLiteral("站")},
          environment);
    const std::vector<std::string> expected = {ListTarget("站", 1) + "?via=other"};
    QVERIFY(RunUntil([&] { return site_->Targets() == expected; }, 20000));
    running.kill();
    running.waitForFinished();
    const QString err = QString::fromUtf8(running.readAllStandardError());
    const QStringList skipped = err.split(QLatin1Char('\n')).filter(QStringLiteral("broken.yaml"));
    QCOMPARE(skipped.size(), 1);
    QVERIFY2(skipped[0].startsWith(QStringLiteral("magnet-finder: skipped ") + data +
                                   QStringLiteral("/magnet-finder/sites/broken.yaml:3:1: error: ")),
             qPrintable(err));
  }

  void windowWithoutADisplaySaysWhereToTurn() {
    QProcess process;
    Start(process, QStringLiteral(MF_WINDOW_PROGRAM), {}, WithoutDisplay());
    const Finished none = Collect(process);
    QCOMPARE(none.exitCode, 1);
    QVERIFY2(none.err.startsWith(QStringLiteral("magnet-finder: no display")),
             qPrintable(none.err));
    QVERIFY(none.err.contains(QStringLiteral("magnet-finder-cli")));
    QVERIFY(none.err.contains(QStringLiteral("xvfb-run -a magnet-finder")));
    QCOMPARE(none.err.count(QLatin1Char('\n')), 1);

    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("--version")}) {
      QProcess informed;
      Start(informed, QStringLiteral(MF_WINDOW_PROGRAM), {option}, WithoutDisplay());
      const Finished shown = Collect(informed);
      QCOMPARE(shown.exitCode, 0);
      QVERIFY(shown.out.startsWith(QStringLiteral("magnet-finder ")) ||
              shown.out.startsWith(QStringLiteral("Usage: magnet-finder")));
    }
  }
};

}  // namespace mf::test

QTEST_MAIN(mf::test::CommandLineE2eTest)
#include "command_line_e2e_test.moc"
