// What it costs a search worker to put rows into the shown result list.
//
// Every case runs a worker that hands 2,000 rows (100 pages of 20 entries) to the window the way
// the scraper does: append a row, read the row count, set three cells, each a blocking call
// carried out on the UI thread, which meanwhile runs its event loop and paints.
//   - BareHandOffs: the same number of blocking calls with nothing to do, the floor for any
//     list behind this calling model;
//   - RowsRepaintedEach: the rows with the list brought up to date and repainted after every
//     row, as a list without coalescing does;
//   - Rows: the list as built, which tells its view at most once per frame.
// Then what the UI thread stalls for with a list of every column (two sites): a header click
// that sorts 10,000 rows, and a page of 20 rows that comes while 100,000 are sorted, each with
// the repaint that follows; and the resident memory of 100,000 such rows, shown.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/ui_thread.h"
#include "site/site_catalogue.h"
#include "site/site_definition.h"
#include "support/threads.h"

namespace mf {
namespace {

constexpr int kRows = 2000;
constexpr ListControl kList = &MainWindow::超级列表框1;

std::atomic<bool> workerDone{false};

void AddRowTheScraperWay(int i) {
  const int row = InsertListRow(kList);
  SetListCellText(kList, row, 0, Text(std::to_string(ListRowCount(kList))));
  SetListCellText(kList, row, 1, "中文电影 1080p 高清 第"_gbk + Text(std::to_string(i)));
  SetListCellText(kList, row, 2, Text("http://127.0.0.1/hash/") + Text(std::to_string(i)));
}

std::uint32_t AddRows(void*) {
  for (int i = 0; i < kRows; ++i) {
    AddRowTheScraperWay(i);
  }
  workerDone.store(true);
  return 0;
}

std::uint32_t AddRowsRepaintingEach(void*) {
  for (int i = 0; i < kRows; ++i) {
    AddRowTheScraperWay(i);
    RunOnUiThread([] {
      ListView* list = MainWindow::Current()->超级列表框1;
      list->Rows().Publish();
      list->viewport()->repaint();
    });
  }
  workerDone.store(true);
  return 0;
}

std::uint32_t BareHandOffs(void*) {
  for (int i = 0; i < kRows * 5; ++i) {
    RunOnUiThread([] {});
  }
  workerDone.store(true);
  return 0;
}

// Runs one worker to its end while the UI thread runs its event loop, as in the program.
void RunWorker(benchmark::State& state, ThreadRoutine routine) {
  auto* window = new MainWindow;
  window->ShowCentred();
  QCoreApplication::processEvents();
  for (auto _ : state) {
    workerDone.store(false);
    StartThread(routine);
    QTimer tick;  // wakes the loop now and then to look at the flag
    tick.start(1);
    while (!workerDone.load()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    state.PauseTiming();
    delete window;
    window = new MainWindow;
    window->ShowCentred();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
  delete window;
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_BareHandOffs(benchmark::State& state) {
  RunWorker(state, &BareHandOffs);
}
void BM_RowsRepaintedEach(benchmark::State& state) {
  RunWorker(state, &AddRowsRepaintingEach);
}
void BM_Rows(benchmark::State& state) {
  RunWorker(state, &AddRows);
}

// A row as the JSON and table sites give it: a Chinese title, its magnet link with the name,
// every field; numbers spread so that sorting has work to do.
EntryRow FullRow(int i) {
  EntryRow row;
  const std::string n = std::to_string(i);
  row.title = "中文电影 1080p 高清 蓝光原盘 第"_gbk + Text(n) + "集"_gbk;
  std::string hash(40, '0');
  for (std::size_t k = 0; k < hash.size(); ++k) {
    hash[k] = "0123456789abcdef"[(static_cast<unsigned>(i) * 2654435761u >> (k % 28)) % 16];
  }
  row.infoHash = hash;
  row.magnet = Text("magnet:?xt=urn:btih:" + hash + "&dn=%E4%B8%AD%E6%96%87%E7%94%B5%E5%BD%B1" + n);
  const std::int64_t spread = (static_cast<std::int64_t>(i) * 7919) % 100003;
  row.size = Text(std::to_string(spread % 5000) + " MB");
  row.sizeBytes = (spread % 5000) << 20;
  row.seeders = Text(std::to_string(spread % 997));
  row.seederCount = spread % 997;
  row.leechers = Text(std::to_string(spread % 89));
  row.leecherCount = spread % 89;
  row.date = Text("2025-0" + std::to_string(1 + spread % 9) + "-1" + std::to_string(spread % 10));
  row.dateSeconds = 1735689600 + spread * 60;
  return row;
}

struct FullList {
  std::shared_ptr<const SiteDefinition> json = LoadSiteCatalogue().Find("demo-json");
  std::shared_ptr<const SiteDefinition> table = LoadSiteCatalogue().Find("demo-table");
  MainWindow* window = new MainWindow;

  explicit FullList(int rows) {
    window->ShowCentred();
    window->超级列表框1->ShowColumnsFor({json, table});
    for (int first = 0; first < rows; first += 20) {
      std::vector<EntryRow> page;
      for (int i = first; i < first + 20 && i < rows; ++i) {
        page.push_back(FullRow(i));
      }
      window->超级列表框1->Rows().AddEntries((first / 20) % 2 == 0 ? json : table, std::move(page));
    }
    window->超级列表框1->Rows().Publish();
    QCoreApplication::processEvents();
  }
  ~FullList() { delete window; }
  ListView& List() { return *window->超级列表框1; }
};

// The UI thread's part: the change and the repaint it brings.
void Repaint(ListView& list) {
  list.viewport()->repaint();
  list.horizontalHeader()->viewport()->repaint();
}

void BM_SortTenThousandRows(benchmark::State& state) {
  FullList list(10000);
  const int sections[] = {3, 4, 1, 6, 0};  // 大小, 做种, 内容, 日期, 序列号
  int next = 0;
  for (auto _ : state) {
    Q_EMIT list.List().horizontalHeader()->sectionClicked(sections[next++ % 5]);
    Repaint(list.List());
  }
}

void BM_PageIntoSortedHundredThousand(benchmark::State& state) {
  FullList list(100000);
  Q_EMIT list.List().horizontalHeader()->sectionClicked(4);  // 做种, most first
  int i = 100000;
  for (auto _ : state) {
    std::vector<EntryRow> page;
    for (int k = 0; k < 20; ++k) {
      page.push_back(FullRow(i++));
    }
    list.List().Rows().AddEntries(list.json, std::move(page));
    Repaint(list.List());
  }
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) {
      return std::stol(line.substr(6));
    }
  }
  return -1;
}

void BM_HundredThousandRowsResident(benchmark::State& state) {
  for (auto _ : state) {
    FullList list(100000);
    Q_EMIT list.List().horizontalHeader()->sectionClicked(3);
    Repaint(list.List());
    state.counters["resident_MB"] = static_cast<double>(ResidentKb()) / 1024;
  }
}

// First, so that no list of an earlier case is still held by the allocator.
BENCHMARK(BM_HundredThousandRowsResident)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SortTenThousandRows)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PageIntoSortedHundredThousand)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK(BM_BareHandOffs)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_RowsRepaintedEach)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Rows)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace
}  // namespace mf

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
