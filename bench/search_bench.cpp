// What a whole search of 100 result pages costs with the window, against the bare downloads.
//
// Both cases fetch the same 100 pages of 20 entries from the demo site on the loopback address.
//   - DownloadsOnly: a worker that only fetches and converts each page, the floor for a search;
//   - SearchIntoWindow: Start pressed in the shown window; the run ends at "解析完毕" with 2,000
//     rows in the list.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/site.h"
#include "app/text_edge.h"
#include "demo_server.h"
#include "support/encoding.h"
#include "support/text_ops.h"
#include "support/threads.h"
#include "web/web_request.h"

namespace mf {
namespace {

constexpr int kPages = 100;
std::atomic<bool> workerDone{false};

std::uint32_t DownloadPages(void*) {
  const ComApartmentScope apartment;
  const Text keyword = UrlEncode("纪录片"_gbk, false, true);
  for (std::int32_t page = 1; page <= kPages; ++page) {
    const Bytes body =
        WebRequest({.url = SearchSiteBase() + Text("/list/") + keyword + Text("/") + ToText(page)});
    benchmark::DoNotOptimize(Utf8ToGbk(ToText(body)));
  }
  workerDone.store(true);
  return 0;
}

template <typename Done>
void RunEventLoopUntil(Done done) {
  QTimer tick;  // wakes the loop now and then to look at `done`
  tick.start(1);
  while (!done()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

void BM_DownloadsOnly(benchmark::State& state) {
  for (auto _ : state) {
    workerDone.store(false);
    StartThread(&DownloadPages);
    RunEventLoopUntil([] { return workerDone.load(); });
  }
  state.SetItemsProcessed(state.iterations() * kPages);
}

void BM_SearchIntoWindow(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto* window = new MainWindow;
    window->编辑框_停止页数->SetText(ToText(std::int32_t{kPages}));
    window->ShowCentred();
    QCoreApplication::processEvents();
    state.ResumeTiming();
    OnStartClick();
    RunEventLoopUntil(
        [window] { return window->透明标签_状态条->text() == QStringLiteral("解析完毕"); });
    state.PauseTiming();
    if (window->超级列表框1->Rows().RowCount() != kPages * 20) {
      state.SkipWithError("the search did not fill the list");
    }
    OnStopClick();
    delete window;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kPages);
}

BENCHMARK(BM_DownloadsOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SearchIntoWindow)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(6);

}  // namespace
}  // namespace mf

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  mf::demo::DemoSite site(mf::demo::SiteOptions{});
  if (site.Bind() < 0) {
    return 1;
  }
  std::thread server([&site] { site.Serve(); });
  setenv("MAGNET_FINDER_SITE", site.BaseAddress().c_str(), 1);

  QApplication app(argc, argv);
  mf::InitGlobals();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  mf::ReleaseGlobals();
  site.Stop();
  server.join();
  return 0;
}
