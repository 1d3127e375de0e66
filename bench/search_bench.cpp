// A search end to end, against the bundled demo site on the loopback, beside baselines measured
// in the same run on the same pages.
//
//  1. The walk (plain http): the curl command with a new connection per page (the baseline),
//     libcurl in this process (new connections, one kept-alive connection), a Python scraper
//     (urllib and re, the tool's two patterns, one page after another), magnet-finder-cli search
//     (the whole process) and the window's search from the Start click to "解析完毕".
//  2. Kept-alive connections: the same walk against a site that pauses before the first answer
//     on every new connection (--connect-delay), over http and https: the curl command with a new
//     connection per page against the command line and the window, and how many connections the
//     site saw.
//  3. The UI thread: pages of 2,000 entries while the list is scrolled to its end at every tick,
//     then a detail page of 10,000 magnet links: the longest gap between ticks of a 1 ms timer.
//  4. Memory: the peak (VmHWM) of a window that holds 100,000 rows.
// Each window runs in a process of its own (this program again), so that it meets its own site
// and its memory is its own. Timed cases run `runs` times: medians, best, and ratios to curl.
//
//   search_bench [pages=100] [runs=5] [connect-delay-ms=20]     offscreen or under xvfb-run
#include <curl/curl.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/magnet.h"
#include "app/main_window.h"
#include "app/search_control.h"
#include "demo_pages.h"
#include "demo_server.h"
#include "platform/threads.h"
#include "site/site_address.h"

extern char** environ;

namespace mf {
namespace {

constexpr const char* kKeyword = "电影";
constexpr const char* kWindowChild = "--window-child";
constexpr int kBigPageEntries = 2000;
constexpr int kBigPages = 10;
constexpr int kBigDetailLinks = 10000;
constexpr int kMemoryRows = 100000;

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  std::vector<double> values;
  void Add(double value) { values.push_back(value); }
  double Best() const { return *std::min_element(values.begin(), values.end()); }
  double Worst() const { return *std::max_element(values.begin(), values.end()); }
  double Median() const {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

// ---- The window, in a child process -------------------------------------------------------

long PeakMemoryKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      return std::strtol(line.c_str() + 6, nullptr, 10);
    }
  }
  return -1;
}

// The longest gap between ticks of a 1 ms timer on the UI thread; with a window, its list is
// scrolled to the end at every tick, as a user following the rows would.
class StallProbe {
 public:
  explicit StallProbe(MainWindow* scrolling = nullptr) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this, scrolling] {
      const Clock::time_point now = Clock::now();
      longest_ = std::max(longest_, now - last_);
      last_ = now;
      if (scrolling != nullptr) {
        scrolling->超级列表框1->scrollToBottom();
      }
    });
    last_ = Clock::now();
    timer_.start(1);
  }
  double LongestMs() const { return Ms(longest_); }

 private:
  QTimer timer_;
  Clock::time_point last_;
  Clock::duration longest_{};
};

void RunEventsUntil(const std::function<bool()>& done) {
  while (!done()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

// From the Start click to "解析完毕"; the finished run is stopped, ready for the next.
double SearchInWindow(MainWindow& window, int pages) {
  window.编辑框_停止页数->SetText(Text(std::to_string(pages)));
  const QString done = QStringLiteral("解析完毕");
  const auto start = Clock::now();
  OnStartClick();
  RunEventsUntil([&] { return window.透明标签_状态条->CaptionText() == done; });
  const double ms = Ms(Clock::now() - start);
  OnStopClick();
  QCoreApplication::processEvents();
  return ms;
}

// Double-clicks the first row and waits until its `links` lines are in the output box.
double FetchFirstRowsLinks(MainWindow& window, int links) {
  window.超级列表框1->Rows().Publish();
  window.超级列表框1->selectRow(0);
  auto* output = static_cast<QPlainTextEdit*>(window.编辑框_输出->Editor());
  const auto start = Clock::now();
  OnResultListDoubleClick(0, 0, 0);
  // One line per link and the empty block after the last line break.
  RunEventsUntil([&] { return output->blockCount() >= links + 1; });
  return Ms(Clock::now() - start);
}

// Prints "name value" lines for the parent.
int WindowChild(int argc, char** argv) {
  const std::string mode = argv[2];
  UseSearchSite(Text(argv[3]));
  const int pages = std::atoi(argv[4]);
  const int runs = std::atoi(argv[5]);
  QApplication app(argc, argv);
  InitGlobals();
  auto* window = new MainWindow;
  window->ShowCentred();
  window->编辑框_搜索内容->SetText("电影"_gbk);
  QCoreApplication::processEvents();
  if (mode == "walk") {
    for (int i = 0; i < runs; ++i) {
      std::printf("walk_ms %.3f\n", SearchInWindow(*window, pages));
    }
  } else if (mode == "stall") {
    {
      StallProbe probe(window);
      std::printf("rows_ms %.3f\n", SearchInWindow(*window, pages));
      std::printf("rows_gap_ms %.3f\n", probe.LongestMs());
    }
    StallProbe probe;
    std::printf("links_ms %.3f\n", FetchFirstRowsLinks(*window, kBigDetailLinks));
    std::printf("links_gap_ms %.3f\n", probe.LongestMs());
  } else if (mode == "memory") {
    SearchInWindow(*window, pages);
    std::printf("rows %d\n", window->超级列表框1->Rows().RowCount());
    std::printf("peak_kb %ld\n", PeakMemoryKb());
  }
  std::fflush(stdout);
  std::_Exit(0);  // workers and sites may still be about; the figures are out
}

// ---- The parent: sites, baselines, children ------------------------------------------------

// A demo site serving on a thread of its own for the life of the object.
class ServedSite {
 public:
  explicit ServedSite(demo::SiteOptions options) : site_(std::move(options)) {
    if (site_.Bind() < 0) {
      std::fprintf(stderr, "search_bench: the demo site could not listen\n");
      std::exit(1);
    }
    serving_ = std::thread([this] { site_.Serve(); });
  }
  ~ServedSite() {
    site_.Stop();
    serving_.join();
  }
  std::string Base() const { return site_.BaseAddress(); }
  demo::DemoSite& site() { return site_; }

 private:
  demo::DemoSite site_;
  std::thread serving_;
};

std::string PageAddress(const std::string& base, int page) {
  return base + "/list/" + demo::PercentEncodeUtf8(kKeyword) + "/" + std::to_string(page);
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

void Fetch(CURL* handle, const std::string& address) {
  std::string body;
  curl_easy_setopt(handle, CURLOPT_URL, address.c_str());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
  if (curl_easy_perform(handle) != CURLE_OK || body.empty()) {
    std::fprintf(stderr, "search_bench: curl could not fetch %s\n", address.c_str());
  }
}

// The baseline: every page on a fresh easy handle, so over a new connection.
double CurlNewConnections(const std::string& base, int pages) {
  const auto start = Clock::now();
  for (int page = 1; page <= pages; ++page) {
    CURL* handle = curl_easy_init();
    Fetch(handle, PageAddress(base, page));
    curl_easy_cleanup(handle);
  }
  return Ms(Clock::now() - start);
}

double CurlOneConnection(const std::string& base, int pages) {
  const auto start = Clock::now();
  CURL* handle = curl_easy_init();
  for (int page = 1; page <= pages; ++page) {
    Fetch(handle, PageAddress(base, page));
  }
  curl_easy_cleanup(handle);
  return Ms(Clock::now() - start);
}

// Runs a program to its end; its stdout, and its wall time in `ms`.
std::string RunProcess(std::vector<std::string> arguments, double* ms = nullptr) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t child = 0;
  const bool spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  if (!spawned || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "search_bench: %s failed\n", argv[0]);
  }
  if (ms != nullptr) {
    *ms = Ms(Clock::now() - start);
  }
  return output;
}

// "name value" lines of a child's output, values of a repeated name in order.
std::map<std::string, Figures> ReadFigures(const std::string& output) {
  std::map<std::string, Figures> figures;
  std::size_t at = 0;
  while (at < output.size()) {
    const std::size_t end = std::min(output.find('\n', at), output.size());
    const std::string line = output.substr(at, end - at);
    const std::size_t space = line.find(' ');
    if (space != std::string::npos) {
      figures[line.substr(0, space)].Add(std::atof(line.c_str() + space + 1));
    }
    at = end + 1;
  }
  return figures;
}

std::string self;  // this program, for the window children

std::map<std::string, Figures> Window(const std::string& mode, const std::string& base, int pages,
                                      int runs) {
  return ReadFigures(
      RunProcess({self, kWindowChild, mode, base, std::to_string(pages), std::to_string(runs)}));
}

// A short Python scraper with the tool's two patterns, one page after another.
constexpr const char* kPythonScraper = R"py(
import re, ssl, sys, urllib.request
base, keyword, pages = sys.argv[1], sys.argv[2], int(sys.argv[3])
entry = re.compile(r'href="(.*?)">(.*?)</a></div>', re.I)
markup = re.compile(r'<span class="mhl">|</span>|<span class=".*?</script>', re.S)
quoted = ''.join('%%%02X' % b for b in keyword.encode())
context = ssl._create_unverified_context()
rows = []
for page in range(1, pages + 1):
    with urllib.request.urlopen('%s/list/%s/%d' % (base, quoted, page), context=context) as r:
        text = r.read().split(b'\0')[0].decode('utf-8', 'replace')
    rows += [(len(rows) + 1, markup.sub('', t), base + link) for link, t in entry.findall(text)]
print(len(rows))
)py";

// The curl command with every page on a new connection: the server closes each one after its
// answer, as asked.
double CurlCommand(const std::string& base, int pages) {
  std::vector<std::string> arguments = {"curl", "--silent", "--insecure", "--header",
                                        "Connection: close"};
  for (int page = 1; page <= pages; ++page) {
    arguments.push_back(PageAddress(base, page));
  }
  double ms = 0;
  if (RunProcess(arguments, &ms).empty()) {
    std::fprintf(stderr, "search_bench: the curl command fetched nothing\n");
  }
  return ms;
}

double PythonScraper(const std::string& base, int pages) {
  double ms = 0;
  RunProcess({"python3", "-c", kPythonScraper, base, kKeyword, std::to_string(pages)}, &ms);
  return ms;
}

double CommandLine(const std::string& base, int pages) {
  double ms = 0;
  RunProcess({MF_CLI_PROGRAM, "search", kKeyword, "--pages", std::to_string(pages), "--site", base,
              "--quiet"},
             &ms);
  return ms;
}

void Row(const char* what, const Figures& figures, const Figures& baseline) {
  std::printf("  %-38s median %8.1f ms   best %8.1f ms   %5.2fx curl\n", what, figures.Median(),
              figures.Best(), figures.Median() / baseline.Median());
}

double Load() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

void MeasureWalks(int pages, int runs) {
  ServedSite site({});
  Figures curl, library, kept, python, cli;
  for (int i = 0; i < runs; ++i) {
    curl.Add(CurlCommand(site.Base(), pages));
    library.Add(CurlNewConnections(site.Base(), pages));
    kept.Add(CurlOneConnection(site.Base(), pages));
    python.Add(PythonScraper(site.Base(), pages));
    cli.Add(CommandLine(site.Base(), pages));
  }
  const Figures window = Window("walk", site.Base(), pages, runs)["walk_ms"];
  std::printf("\n1. A walk of %d pages of %d entries over plain http (%d runs, load %.2f)\n", pages,
              demo::kEntriesPerPage, runs, Load());
  Row("curl command, new connection per page", curl, curl);
  Row("libcurl in process, new connections", library, curl);
  Row("libcurl in process, one connection", kept, curl);
  Row("Python scraper (urllib + re)", python, curl);
  Row("magnet-finder-cli search (process)", cli, curl);
  Row("window, Start to 解析完毕", window, curl);
  std::printf("  window behind Python in any run: %s (window worst %.1f ms, Python best %.1f ms)\n",
              window.Worst() < python.Best() ? "no" : "yes", window.Worst(), python.Best());
}

void MeasureKeptConnections(int pages, int runs, int delayMs, bool tls) {
  demo::SiteOptions options;
  options.connectDelayMs = delayMs;
  options.tls = tls;
  ServedSite site(options);
  Figures curl, cli;
  int cliConnections = 0;
  for (int i = 0; i < runs; ++i) {
    curl.Add(CurlCommand(site.Base(), pages));
    site.site().ResetConnectionCount();
    cli.Add(CommandLine(site.Base(), pages));
    cliConnections = std::max(cliConnections, site.site().ConnectionCount());
  }
  site.site().ResetConnectionCount();
  const Figures window = Window("walk", site.Base(), pages, runs)["walk_ms"];
  const int windowConnections = site.site().ConnectionCount();
  std::printf("\n2%s. %s, %d ms before the first answer on each connection (%d runs, load %.2f)\n",
              tls ? "b" : "a", tls ? "https" : "http", delayMs, runs, Load());
  Row("curl command, new connection per page", curl, curl);
  Row("magnet-finder-cli search (process)", cli, curl);
  Row("window, Start to 解析完毕", window, curl);
  std::printf("  kept-alive gain: cli %.2fx, window %.2fx faster than a new connection per page\n",
              curl.Median() / cli.Median(), curl.Median() / window.Median());
  std::printf("  connections the site saw: cli walk %d at most, window's %d walks %d\n",
              cliConnections, runs, windowConnections);
}

void MeasureUiThread() {
  demo::SiteOptions options;
  options.entriesPerPage = kBigPageEntries;
  options.detailLinks = kBigDetailLinks;
  ServedSite site(options);
  std::map<std::string, Figures> figures = Window("stall", site.Base(), kBigPages, 1);
  std::printf("\n3. The UI thread, 1 ms timer (load %.2f)\n", Load());
  std::printf("  %d pages of %d entries, list scrolled all along: %.1f ms, longest gap %.1f ms\n",
              kBigPages, kBigPageEntries, figures["rows_ms"].Median(),
              figures["rows_gap_ms"].Median());
  std::printf("  a detail page of %d links into the box: %.1f ms, longest gap %.1f ms\n",
              kBigDetailLinks, figures["links_ms"].Median(), figures["links_gap_ms"].Median());

  std::map<std::string, Figures> memory =
      Window("memory", site.Base(), kMemoryRows / kBigPageEntries, 1);
  std::printf("\n4. Memory: %.0f rows in the window, peak (VmHWM) %.1f MB\n",
              memory["rows"].Median(), memory["peak_kb"].Median() / 1024);
}

}  // namespace
}  // namespace mf

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], mf::kWindowChild) == 0) {
    return mf::WindowChild(argc, argv);
  }
  const int pages = argc > 1 ? std::atoi(argv[1]) : 100;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const int delayMs = argc > 3 ? std::atoi(argv[3]) : 20;
  mf::self = argv[0];
  curl_global_init(CURL_GLOBAL_DEFAULT);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::printf("search_bench: %d pages, %d runs, %d cores, load %.2f\n", pages, runs,
              static_cast<int>(std::thread::hardware_concurrency()), mf::Load());
  mf::MeasureWalks(pages, runs);
  mf::MeasureKeptConnections(pages, runs, delayMs, false);
  mf::MeasureKeptConnections(pages, runs, delayMs, true);
  mf::MeasureUiThread();
  curl_global_cleanup();
  return 0;
}
