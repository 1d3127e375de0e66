// A whole search through the window against the bundled demo site on the loopback, beside the
// same pages fetched by bare libcurl in the same run.
//
//   - curl, new handle per page: 100 result pages one after another, each on a fresh easy handle
//     (as our request object does: one object per request);
//   - curl, one reused handle: the same pages over one kept-alive connection;
//   - WebRequest: the same pages through the program's request routine, without a window;
//   - window search: the program's window with the real request object, from the Start click to
//     "解析完毕", while a 1 ms timer on the UI thread measures the longest gap between its ticks
//     (a stall of the UI thread);
//   - peak memory (VmHWM) once the list holds 10,000 rows.
// Each timed case runs kRuns times; the best and the median are printed.
//
//   search_bench [pages=100] [runs=5]       run it offscreen or under xvfb-run
#include <curl/curl.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/text_edge.h"
#include "demo_pages.h"
#include "demo_server.h"
#include "platform/threads.h"
#include "support/threads.h"
#include "web/web_request.h"

namespace mf {
namespace {

constexpr const char* kKeywordUtf8 = "电影";
constexpr int kMemoryRows = 10000;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  std::vector<double> ms;
  void Add(double value) { ms.push_back(value); }
  double Best() const { return *std::min_element(ms.begin(), ms.end()); }
  double Median() const {
    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

std::string PageAddress(const std::string& base, int page) {
  return base + "/list/" + demo::PercentEncodeUtf8(kKeywordUtf8) + "/" + std::to_string(page);
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// Fetches one page on `handle`; the number of body bytes.
std::size_t Fetch(CURL* handle, const std::string& address) {
  std::string body;
  curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(handle);
  return body.size();
}

double CurlNewHandles(const std::string& base, int pages) {
  const auto start = Clock::now();
  std::size_t bytes = 0;
  for (int page = 1; page <= pages; ++page) {
    CURL* handle = curl_easy_init();
    bytes += Fetch(handle, PageAddress(base, page));
    curl_easy_cleanup(handle);
  }
  const double ms = Ms(Clock::now() - start);
  if (bytes == 0) {
    std::fprintf(stderr, "curl fetched nothing\n");
  }
  return ms;
}

double CurlOneHandle(const std::string& base, int pages) {
  const auto start = Clock::now();
  CURL* handle = curl_easy_init();
  for (int page = 1; page <= pages; ++page) {
    Fetch(handle, PageAddress(base, page));
  }
  curl_easy_cleanup(handle);
  return Ms(Clock::now() - start);
}

// The same pages through the program's request routine, without a window.
double WebRequests(const std::string& base, int pages) {
  const ComApartmentScope apartment;
  const auto start = Clock::now();
  for (int page = 1; page <= pages; ++page) {
    WebRequest({.url = Text(PageAddress(base, page))});
  }
  return Ms(Clock::now() - start);
}

struct WindowRun {
  double ms = 0;
  double longestGapMs = 0;
  int rows = 0;
};

// One search from the Start click to "解析完毕", with the UI thread's longest pause between
// ticks of a 1 ms timer.
WindowRun SearchInWindow(MainWindow& window, int pages) {
  window.编辑框_停止页数->SetText(Text(std::to_string(pages)));
  const QString done = QStringLiteral("解析完毕");
  Clock::time_point last = Clock::now();
  Clock::duration longest{};
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    longest = std::max(longest, now - last);
    last = now;
  });
  probe.start(1);
  const auto start = Clock::now();
  last = start;
  OnStartClick();
  while (window.透明标签_状态条->text() != done) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  WindowRun run;
  run.ms = Ms(Clock::now() - start);
  run.longestGapMs = Ms(longest);
  probe.stop();
  OnStopClick();  // a finished run leaves Start disabled
  QCoreApplication::processEvents();
  run.rows = window.超级列表框1->Rows().RowCount();
  return run;
}

long PeakMemoryKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

void Print(const char* what, const Figures& f) {
  std::printf("%-34s best %8.1f ms   median %8.1f ms\n", what, f.Best(), f.Median());
}

}  // namespace
}  // namespace mf

int main(int argc, char** argv) {
  using namespace mf;
  const int pages = argc > 1 ? std::atoi(argv[1]) : 100;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;

  demo::DemoSite site(demo::SiteOptions{});
  if (site.Bind() < 0) {
    std::fprintf(stderr, "the demo site could not listen\n");
    return 1;
  }
  std::thread serving([&] { site.Serve(); });
  const std::string base = site.BaseAddress();
  setenv("MAGNET_FINDER_SITE", base.c_str(), 1);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  QApplication app(argc, argv);
  InitGlobals();
  auto* window = new MainWindow;
  window->ShowCentred();
  window->编辑框_搜索内容->SetText(FromQString(QString::fromUtf8(kKeywordUtf8)));
  QCoreApplication::processEvents();
  std::printf("platform %s, %d pages of %d entries, %d runs, peak memory at start %ld kB\n",
              qPrintable(QGuiApplication::platformName()), pages, demo::kEntriesPerPage, runs,
              PeakMemoryKb());

  Figures newHandles, oneHandle, requests, searches, gaps;
  for (int run = 0; run < runs; ++run) {
    newHandles.Add(CurlNewHandles(base, pages));
    oneHandle.Add(CurlOneHandle(base, pages));
    requests.Add(WebRequests(base, pages));
    const WindowRun search = SearchInWindow(*window, pages);
    searches.Add(search.ms);
    gaps.Add(search.longestGapMs);
  }
  Print("curl, new handle per page", newHandles);
  Print("curl, one reused handle", oneHandle);
  Print("WebRequest per page, no window", requests);
  Print("window search, Start to 解析完毕", searches);
  Print("longest UI-thread gap during it", gaps);
  std::printf("window / curl new handles (medians): %.2fx\n",
              searches.Median() / newHandles.Median());
  std::printf("window / curl one handle (medians):  %.2fx\n",
              searches.Median() / oneHandle.Median());

  const int rows = window->超级列表框1->Rows().RowCount();
  const int more = (kMemoryRows - rows + demo::kEntriesPerPage - 1) / demo::kEntriesPerPage;
  if (more > 0) {
    SearchInWindow(*window, more);
  }
  std::printf("rows %d, peak memory (VmHWM) %ld kB\n", window->超级列表框1->Rows().RowCount(),
              PeakMemoryKb());

  delete window;
  platform::KillAllThreadsAndWait(std::chrono::seconds(5));
  ReleaseGlobals();
  site.Stop();
  serving.join();
  curl_global_cleanup();
  return 0;
}
