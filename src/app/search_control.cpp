#include "app/search_control.h"

#include <QApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/font_check.h"
#include "app/keyword_history.h"
#include "app/main_window.h"
#include "app/scraper.h"
#include "app/site_choice.h"
#include "app/site_set.h"
#include "app/text_edge.h"
#include "app/toolkit_translations.h"
#include "app/window_size.h"
#include "platform/threads.h"
#include "site/result_page.h"
#include "site/seen_torrents.h"
#include "site/site_definition.h"
#include "site/site_walkers.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"
#include "web/web_request.h"

namespace mf {

ThreadHandle WorkerThreadHandle = 0;
std::mutex PageWorkLock;
Text PageText;
regex* MarkupPattern = nullptr;
RegExpMatcher* EntryMatcher = nullptr;

namespace {

std::atomic<PageScraper> pageScraper{&ScrapeResultPage};

constexpr LabelControl kStatus = &MainWindow::透明标签_状态条;
constexpr ButtonControl kStart = &MainWindow::超级按钮_开始解析;
constexpr ButtonControl kStop = &MainWindow::超级按钮_停止解析;
constexpr ListControl kResultList = &MainWindow::超级列表框1;

// How long workers get at exit to unwind after their kill; a kill wakes a transfer or a wait for
// the window at once, so this is only reached by a worker busy in a long computation.
constexpr std::chrono::milliseconds kExitGrace{500};

// The process ends here rather than by returning from main: a worker may still be unwinding, and
// the static destructors of Qt and the libraries must not run under it. quick_exit runs only the
// routines registered with at_quick_exit (ReleaseGlobals) and skips static destructors. When a
// worker has not ended within the grace, even the globals it may still touch are left to the
// operating system.
[[noreturn]] void EndProcess() {
  const bool allEnded = platform::KillAllThreadsAndWait(kExitGrace);
  std::fflush(nullptr);
  if (allEnded) {
    std::quick_exit(EXIT_SUCCESS);
  }
  std::_Exit(EXIT_SUCCESS);
}

// "解析完毕", with the pages that could not be fetched, or the word that the site could not be
// reached.
Text EndText(std::int32_t failedPages, bool unreachable) {
  return unreachable ? "解析完毕（站点无法连接：右键标题栏可换站点）"_gbk
         : failedPages == 0 ? "解析完毕"_gbk
                            : "解析完毕（"_gbk + ToText(failedPages) + "页获取失败）"_gbk;
}

// Sites walked at the same time by a search of several.
constexpr int kSiteJobs = 8;

// The status line's name of a site: "name："
Text SiteLead(const SiteDefinition& site) {
  return FromQString(ShownText(QString::fromStdString(site.name), 40) + QStringLiteral("："));
}

// A search of several sites: walked at once (site_walkers.h), each page's rows to the list as it
// comes, a torrent already listed (the same info-hash) left out. The keyword and page count are
// read once, at the start. The end text counts the pages that could not be fetched; it says the
// sites could not be reached when none of them could.
void SearchSeveralSites(std::vector<SearchSite> sites) {
  const std::int32_t pageCount = ToInteger(GetEditBoxText(&MainWindow::编辑框_停止页数));
  // Every character typed: each site sends the keyword as it can (a GBK site only what GBK can
  // write), and one that cannot send it fails its first page without a request.
  const std::string keyword = GetEditBoxUtf8Text(&MainWindow::编辑框_搜索内容);
  std::int32_t failedPages = 0;
  std::erase_if(sites, [&](const SearchSite& site) {
    const std::string refusal = KeywordRefusal(keyword, *site.definition);
    if (!refusal.empty()) {
      std::fputs(("magnet-finder: " + refusal + "\n").c_str(), stderr);
      ++failedPages;
    }
    return !refusal.empty();
  });
  std::vector<std::shared_ptr<const SiteDefinition>> definitions;
  for (const SearchSite& site : sites) {
    definitions.push_back(site.definition);
  }
  std::size_t unreachable = 0;
  if (pageCount > 0 && !sites.empty()) {
    SiteWalkers walkers(std::move(sites), Text(keyword), pageCount, kSiteJobs);
    SeenTorrents seen;
    long listed = 0;
    while (std::optional<WalkReport> report = walkers.Next()) {
      if (!report->page) {
        continue;
      }
      const std::shared_ptr<const SiteDefinition>& site = definitions[report->site];
      WalkedPage& page = *report->page;
      std::vector<EntryRow> rows;
      for (EntryRow& row : page.entries.rows) {
        if (seen.FirstRow(row.infoHash, listed + 1) == 0) {
          ++listed;
          rows.push_back(std::move(row));
        }
      }
      const Text number = ToText(page.number);
      const bool failed = page.fetch.page.Failed();
      failedPages += failed ? 1 : 0;
      // The page's rows and its status text in one trip to the UI thread.
      AddListEntriesWithCaption(
          kResultList, site, std::move(rows), kStatus,
          failed ? SiteLead(*site) + "第"_gbk + number + "页获取失败"_gbk
                 : SiteLead(*site) + "正在解析第"_gbk + number + "页，请稍等。。。"_gbk);
      unreachable += page.unreachable ? 1 : 0;
    }
  }
  SetLabelCaption(kStatus,
                  EndText(failedPages, unreachable > 0 && unreachable == definitions.size()));
}

void ApplyStartOptions(MainWindow& window, const WindowOptions& options) {
  if (options.keyword) {
    window.编辑框_搜索内容->SetText(FromQString(*options.keyword));
  }
  if (options.pageCount) {
    window.编辑框_停止页数->SetText(FromQString(*options.pageCount));
  }
  if (options.start) {
    OnStartClick();
  }
}

}  // namespace

void InitGlobals() {
  MarkupPattern = new regex;
  // Enters the main thread's apartment, which it keeps until ReleaseGlobals.
  EntryMatcher = new RegExpMatcher;
}

void ReleaseGlobals() {
  PageText = Text();
  delete MarkupPattern;
  MarkupPattern = nullptr;
  delete EntryMatcher;
  EntryMatcher = nullptr;
}

void SetPageScraper(PageScraper scraper) {
  pageScraper.store(scraper);
}

void OnStartClick() {
  ShowListColumnsFor(kResultList, SiteDefinitionsInUse());
  if (MainWindow* window = MainWindow::Current()) {
    RememberSearchedKeyword(*window->编辑框_搜索内容);
  }
  WorkerThreadHandle = StartThread(&SearchWorker);
  EnableButton(kStart, false);
  EnableButton(kStop, true);
  SetLabelCaption(kStatus, "开始运行。。。"_gbk);
}

void OnStopClick() {
  // The worker is marked killed here, on the UI thread: every control change it asks for from
  // now on is dropped, and the transfer it may be waiting on is abandoned.
  KillThread(WorkerThreadHandle);
  EnableButton(kStart, true);
  EnableButton(kStop, false);
  SetLabelCaption(kStatus, "已销毁线程"_gbk);
}

void OnCloseLabelPress(int, int, int) {
  DestroyForm();
}

void OnMinimizeLabelPress(int, int, int) {
  MinimizeWindow();
}

std::uint32_t SearchWorker(void*) {
  if (SeveralSitesInUse()) {
    SearchSeveralSites(SitesInUse());
    return 0;
  }
  const std::int32_t pageCount = ToInteger(GetEditBoxText(&MainWindow::编辑框_停止页数));
  std::int32_t failedPages = 0;
  // Counted wider than the page count, so that a count of 2147483647 cannot overflow it.
  for (std::int64_t page = 1; page <= pageCount; ++page) {
    const Text pageNumber = ToText(static_cast<std::int32_t>(page));
    // Read for every page, so an edit during the run counts from the next page on.
    const Text keyword = GetEditBoxText(&MainWindow::编辑框_搜索内容);
    const bool fetched = pageScraper.load()(keyword, pageNumber);
    failedPages += fetched ? 0 : 1;
    // The page's rows and its status text in one trip to the UI thread.
    PageRows rows = TakePageRows();
    AddListEntriesWithCaption(kResultList, std::move(rows.site), std::move(rows.rows), kStatus,
                              fetched ? "正在解析第"_gbk + pageNumber + "页，请稍等。。。"_gbk
                                      : "第"_gbk + pageNumber + "页获取失败"_gbk);
    if (WalkEndsAfterThisPage()) {
      break;
    }
  }
  SetLabelCaption(kStatus, EndText(failedPages, WalkEndedUnreachable()));
  return 0;
}

void RunProgram(int& argc, char** argv, const WindowOptions& options,
                const std::function<void(MainWindow&)>& onShown) {
  if (options.verbose) {
    EnableFailureLog();
  }
  InitGlobals();
  std::at_quick_exit(ReleaseGlobals);
  QApplication app(argc, argv);
  LoadToolkitTranslations();
  auto* window = new MainWindow;
  QObject::connect(window, &QObject::destroyed, &app, &QCoreApplication::quit);
  RestoreWindowSize(*window);
  window->ShowCentred();
  if (!FontsCoverTexts(*window)) {
    std::fputs(NoFontText().toLocal8Bit().constData(), stderr);
  }
  ApplyStartOptions(*window, options);
  if (onShown) {
    onShown(*window);
  }
  QApplication::exec();
  EndProcess();
}

}  // namespace mf
