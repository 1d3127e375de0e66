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
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <atomic>
#include <string>

#include "app/main_window.h"
#include "app/ui_thread.h"
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
