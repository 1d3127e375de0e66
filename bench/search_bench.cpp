// A search end to end, against servers on the loopback, beside baselines measured in the same
// run on the same pages.
//
//  1. The walk against four kinds of server: the bundled demo site (each answer written at once),
//     Python's http.server keeping connections alive (header and body in two writes, Nagle's
//     algorithm on, serving the demo site's pages saved to files), the same server as
//     `python3 -m http.server` runs it (HTTP/1.0: the connection closes after every answer), and
//     the demo site over https. For each: the curl command with a new connection per page (the
//     baseline) and with one connection, libcurl in this process both ways, a Python scraper
//     (urllib and re, the tool's two patterns, one page after another), magnet-finder-cli search
//     (the whole process) and the window's search, the last two also with
//     MAGNET_FINDER_KEEP_ALIVE=0 (a new connection per request). Every walk is timed by its server,
//     from the first to the last result-page request: the demo site notes each request's arrival,
//     and Python's server runs with a request handler that writes them to a log.
//  2. Magnet links: 20 detail pages fetched one after another, against the same four servers: the
//     curl command both ways, a Python fetcher, magnet-finder-cli magnets (one process per page)
//     and the window (a double-click on each row in turn, until its links are in the box), the
//     window also with MAGNET_FINDER_KEEP_ALIVE=0.
//  3. Kept-alive connections: the same walk against a site that pauses before the first answer
//     on every new connection (--connect-delay), over http and https: the curl command with a new
//     connection per page against the command line and the window, and how many connections the
//     site saw.
//  4. The UI thread: pages of 2,000 entries while the list is scrolled to its end at every tick,
//     then a detail page of 10,000 magnet links: the longest gap between ticks of a 1 ms timer.
//  5. Memory: the peak (VmHWM) of a window that holds 100,000 rows.
// Each window runs in a process of its own (this program again), so that it meets its own site
// and its memory is its own. Timed cases run `runs` times: medians, best, and ratios to curl.
//
//   search_bench [pages=100] [runs=5] [connect-delay-ms=20] [walks]    offscreen or under xvfb-run
// With "walks", only the first.
#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
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
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
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
constexpr int kDetailPages = 20;  // the rows of one result page
constexpr const char* kNoKeepAlive = "MAGNET_FINDER_KEEP_ALIVE=0";

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

// The detail pages of the first result page, as the rows link them, with their count of links.
std::vector<std::pair<std::string, int>> DetailPagesOfFirstPage() {
  std::vector<std::pair<std::string, int>> pages;
  for (const demo::Entry& entry : demo::MakeResultPage(kKeyword, 1).findable) {
    const std::string id = entry.link.substr(8, entry.link.size() - 8 - 5);  // /detail/ID.html
    pages.emplace_back(entry.link, static_cast<int>(demo::MakeDetailPage(id)->links.size()));
  }
  return pages;
}

// Double-clicks each of the first `count` rows in turn, each once the links of the one before are
// in the output box: the time for all of them.
double FetchRowsLinksInTurn(MainWindow& window, int count) {
  const auto pages = DetailPagesOfFirstPage();
  window.超级列表框1->Rows().Publish();
  auto* output = static_cast<QPlainTextEdit*>(window.编辑框_输出->Editor());
  const QString failed = QStringLiteral("获取失败");
  const auto start = Clock::now();
  for (int row = 0; row < count; ++row) {
    window.超级列表框1->selectRow(row);
    OnResultListDoubleClick(0, 0, 0);
    const int links = pages[static_cast<std::size_t>(row)].second;
    RunEventsUntil([&] {
      if (output->toPlainText().startsWith(failed)) {
        std::fprintf(stderr, "search_bench: the window could not fetch a detail page\n");
        std::_Exit(1);
      }
      return output->blockCount() >= links + 1;
    });
  }
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
  } else if (mode == "magnets") {
    SearchInWindow(*window, 1);
    for (int i = 0; i < runs; ++i) {
      std::printf("magnets_ms %.3f\n", FetchRowsLinksInTurn(*window, pages));
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

// The result-page requests a server saw, as walks: a walk begins at each request for page 1 and
// lasts from its first request to its last. Measured on the server's side, a walk's time leaves
// out the client's start and its work after the last page, which are the client's own business.
class WalkLog {
 public:
  // A request for result page `page` arrived at `ms` (any clock of the server's, in ms).
  void Note(int page, double ms) {
    const std::lock_guard lock(mutex_);
    if (page == 1) {
      walks_.emplace_back();
    }
    if (!walks_.empty()) {
      walks_.back().push_back(ms);
    }
  }
  // The time from the first to the last request of each walk noted since the last call.
  Figures Take(int pages) {
    const std::lock_guard lock(mutex_);
    Figures spans;
    for (const std::vector<double>& walk : walks_) {
      if (static_cast<int>(walk.size()) != pages) {
        std::fprintf(stderr, "search_bench: a walk asked for %zu pages, not %d\n", walk.size(),
                     pages);
      }
      spans.Add(walk.back() - walk.front());
    }
    walks_.clear();
    return spans;
  }

 private:
  std::mutex mutex_;
  std::vector<std::vector<double>> walks_;
};

// The page number at the end of a result page's path ("/list/KEYWORD/7"); 0 for other paths.
int ResultPageOf(const std::string& path) {
  if (path.rfind("/list/", 0) != 0) {
    return 0;
  }
  return std::atoi(path.c_str() + path.rfind('/') + 1);
}

// A server whose walks are measured: where it serves, and the walks it saw since the last ask.
class WatchedSite {
 public:
  virtual ~WatchedSite() = default;
  virtual std::string Base() const = 0;
  virtual Figures TakeWalks(int pages) = 0;
};

// A demo site serving on a thread of its own for the life of the object.
class ServedSite : public WatchedSite {
 public:
  explicit ServedSite(demo::SiteOptions options)
      : site_(std::move(options), [this](const httplib::Request& request, httplib::Response&) {
          if (const int page = ResultPageOf(request.path); page > 0) {
            walks_.Note(page, Ms(Clock::now().time_since_epoch()));
          }
          return false;  // the site's own pages answer
        }) {
    if (site_.Bind() < 0) {
      std::fprintf(stderr, "search_bench: the demo site could not listen\n");
      std::exit(1);
    }
    serving_ = std::thread([this] { site_.Serve(); });
  }
  ~ServedSite() override {
    site_.Stop();
    serving_.join();
  }
  std::string Base() const override { return site_.BaseAddress(); }
  Figures TakeWalks(int pages) override { return walks_.Take(pages); }
  demo::DemoSite& site() { return site_; }

 private:
  WalkLog walks_;
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

// This environment with `extra` ("NAME=value") added, for a child.
std::vector<char*> Environment(std::vector<std::string>& extra) {
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.push_back(*variable);
  }
  for (std::string& variable : extra) {
    environment.push_back(variable.data());
  }
  environment.push_back(nullptr);
  return environment;
}

// Runs a program to its end; its stdout, and its wall time in `ms`. `extra` goes into its
// environment.
std::string RunProcess(std::vector<std::string> arguments, double* ms = nullptr,
                       std::vector<std::string> extra = {}) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  std::vector<char*> environment = Environment(extra);
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
  const bool spawned =
      posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environment.data()) == 0;
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
                                      int runs, std::vector<std::string> extra = {}) {
  return ReadFigures(
      RunProcess({self, kWindowChild, mode, base, std::to_string(pages), std::to_string(runs)},
                 nullptr, std::move(extra)));
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

// Fetches each address in turn and counts the magnet links; a new connection for each.
constexpr const char* kPythonMagnets = R"py(
import re, ssl, sys, urllib.request
link = re.compile(r'(magnet:\?[^"<\s]+)')
context = ssl._create_unverified_context()
found = 0
for address in sys.argv[1:]:
    with urllib.request.urlopen(address, context=context) as r:
        found += len(link.findall(r.read().decode('utf-8', 'replace')))
print(found)
)py";

std::vector<std::string> PageAddresses(const std::string& base, int pages) {
  std::vector<std::string> addresses;
  for (int page = 1; page <= pages; ++page) {
    addresses.push_back(PageAddress(base, page));
  }
  return addresses;
}

std::vector<std::string> DetailAddresses(const std::string& base, int count) {
  std::vector<std::string> addresses;
  for (const auto& [link, links] : DetailPagesOfFirstPage()) {
    if (static_cast<int>(addresses.size()) < count) {
      addresses.push_back(base + link);
    }
  }
  return addresses;
}

// The curl command, one page after another: with `newConnections` every page on a new connection
// (the server closes each one after its answer, as asked), else over one kept-alive connection.
double CurlCommand(const std::vector<std::string>& addresses, bool newConnections) {
  std::vector<std::string> arguments = {"curl", "--silent", "--insecure"};
  if (newConnections) {
    arguments.insert(arguments.end(), {"--header", "Connection: close"});
  }
  arguments.insert(arguments.end(), addresses.begin(), addresses.end());
  double ms = 0;
  if (RunProcess(arguments, &ms).empty()) {
    std::fprintf(stderr, "search_bench: the curl command fetched nothing\n");
  }
  return ms;
}

double CurlCommand(const std::string& base, int pages) {
  return CurlCommand(PageAddresses(base, pages), true);
}

double PythonScraper(const std::string& base, int pages) {
  double ms = 0;
  RunProcess({"python3", "-c", kPythonScraper, base, kKeyword, std::to_string(pages)}, &ms);
  return ms;
}

double PythonMagnets(const std::vector<std::string>& addresses) {
  std::vector<std::string> arguments = {"python3", "-c", kPythonMagnets};
  arguments.insert(arguments.end(), addresses.begin(), addresses.end());
  double ms = 0;
  RunProcess(arguments, &ms);
  return ms;
}

double CommandLine(const std::string& base, int pages, std::vector<std::string> extra = {}) {
  double ms = 0;
  RunProcess({MF_CLI_PROGRAM, "search", kKeyword, "--pages", std::to_string(pages), "--site", base,
              "--quiet"},
             &ms, std::move(extra));
  return ms;
}

// magnet-finder-cli magnets takes one page: a process for each.
double CommandLineMagnets(const std::vector<std::string>& addresses) {
  const auto start = Clock::now();
  for (const std::string& address : addresses) {
    if (RunProcess({MF_CLI_PROGRAM, "magnets", address}).find("magnet:") == std::string::npos) {
      std::fprintf(stderr, "search_bench: magnet-finder-cli found no links on %s\n",
                   address.c_str());
    }
  }
  return Ms(Clock::now() - start);
}

void Row(const char* what, const Figures& figures, const Figures& baseline) {
  std::printf("  %-38s median %8.1f ms   best %8.1f ms   %5.2fx curl\n", what, figures.Median(),
              figures.Best(), figures.Median() / baseline.Median());
}

double Load() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

// ---- Four kinds of server ------------------------------------------------------------------

// The demo site's pages as files: the result pages 1..pages and the detail pages of page 1, at
// the addresses the site serves them from.
class SavedPages {
 public:
  explicit SavedPages(int pages) {
    char folder[] = "/tmp/search_bench.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
      std::fprintf(stderr, "search_bench: no folder for the saved pages\n");
      std::exit(1);
    }
    root_ = folder;
    const std::filesystem::path list = root_ / "list" / kKeyword;
    std::filesystem::create_directories(list);
    std::filesystem::create_directories(root_ / "detail");
    for (int page = 1; page <= pages; ++page) {
      Write(list / std::to_string(page), demo::MakeResultPage(kKeyword, page).body);
    }
    for (const auto& [link, links] : DetailPagesOfFirstPage()) {
      const std::string id = link.substr(8, link.size() - 8 - 5);
      Write(root_ / link.substr(1), demo::MakeDetailPage(id)->body);
    }
  }
  ~SavedPages() { std::filesystem::remove_all(root_); }
  std::string Root() const { return root_.string(); }

 private:
  static void Write(const std::filesystem::path& path, const std::string& body) {
    std::ofstream(path, std::ios::binary) << body;
  }
  std::filesystem::path root_;
};

// Python's http.server in a process of its own, run as `python3 -m http.server` runs it, on the
// saved pages: with "HTTP/1.1" it keeps connections alive, with "HTTP/1.0" (its default) it
// closes each after its answer. Either way it writes an answer's header and its body in two
// writes, with Nagle's algorithm on. Its request handler is the module's own, with one line
// added: the arrival of each request, written to a log before the answer.
constexpr const char* kPythonServer = R"py(
import functools, http.server, sys, time
root, protocol, log = sys.argv[1], sys.argv[2], open(sys.argv[3], 'a', buffering=1)
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        log.write('%s %.6f\n' % (self.path, time.monotonic() * 1000))
        super().do_GET()
http.server.test(HandlerClass=functools.partial(Handler, directory=root),
                 ServerClass=http.server.ThreadingHTTPServer, protocol=protocol, port=0,
                 bind='127.0.0.1')
)py";

class PythonSite : public WatchedSite {
 public:
  PythonSite(const std::string& root, const char* protocol)
      : log_(root + "/requests-" + std::string(protocol).substr(5) + ".log") {  // "1.1"
    std::vector<std::string> arguments = {"python3", "-u",     "-c", kPythonServer,
                                          root,      protocol, log_};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
      std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const bool spawned =
        posix_spawnp(&child_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    // "Serving HTTP on 127.0.0.1 port 41234 (http://127.0.0.1:41234/) ..."
    std::string line;
    char c = 0;
    while (spawned && line.find('\n') == std::string::npos && read(pipeEnds[0], &c, 1) == 1) {
      line += c;
    }
    close(pipeEnds[0]);
    const std::size_t at = line.find(" port ");
    if (!spawned || at == std::string::npos) {
      std::fprintf(stderr, "search_bench: python3's http.server did not start\n");
      std::exit(1);
    }
    base_ = "http://127.0.0.1:" + std::to_string(std::atoi(line.c_str() + at + 6));
  }
  ~PythonSite() override {
    kill(child_, SIGTERM);
    waitpid(child_, nullptr, 0);
  }
  std::string Base() const override { return base_; }

  // The log's lines since the last call. The client has its last answer, so the server wrote
  // the line of its request before that.
  Figures TakeWalks(int pages) override {
    std::ifstream log(log_);
    log.seekg(static_cast<std::streamoff>(read_));
    std::string path;
    double ms = 0;
    while (log >> path >> ms) {
      if (const int page = ResultPageOf(path); page > 0) {
        walks_.Note(page, ms);
      }
    }
    log.clear();
    std::ifstream whole(log_, std::ios::ate);
    read_ = static_cast<std::size_t>(whole.tellg());
    return walks_.Take(pages);
  }

 private:
  pid_t child_ = 0;
  std::string base_;
  std::string log_;
  std::size_t read_ = 0;  // bytes of the log taken in
  WalkLog walks_;
};

struct Servers {
  explicit Servers(int pages)
      : saved(pages),
        demo(demo::SiteOptions{}),
        keptAlive(saved.Root(), "HTTP/1.1"),
        closing(saved.Root(), "HTTP/1.0"),
        tls([] {
          demo::SiteOptions options;
          options.tls = true;
          return options;
        }()) {}

  // Names and bases, in the order of the columns.
  std::vector<std::pair<const char*, std::string>> Kinds() const {
    return {{"demo site", demo.Base()},
            {"http.server 1.1", keptAlive.Base()},
            {"http.server 1.0", closing.Base()},
            {"demo site https", tls.Base()}};
  }
  // The same servers, in the same order, for their walks.
  std::vector<WatchedSite*> Watched() { return {&demo, &keptAlive, &closing, &tls}; }

  SavedPages saved;
  ServedSite demo;
  PythonSite keptAlive;
  PythonSite closing;
  ServedSite tls;
};

// A table: one row per way of fetching, one column per kind of server; medians in ms, with the
// ratio to the first row (the curl command with a new connection per page).
class Table {
 public:
  explicit Table(std::vector<std::pair<const char*, std::string>> kinds)
      : kinds_(std::move(kinds)) {}

  void Add(const std::string& row, std::size_t kind, const Figures& figures) {
    auto it =
        std::find_if(rows_.begin(), rows_.end(), [&](const auto& r) { return r.first == row; });
    if (it == rows_.end()) {
      rows_.push_back({row, std::vector<Figures>(kinds_.size())});
      it = rows_.end() - 1;
    }
    it->second[kind] = figures;
  }

  const Figures& Cell(const std::string& row, std::size_t kind) const {
    for (const auto& [name, cells] : rows_) {
      if (name == row) {
        return cells[kind];
      }
    }
    std::abort();
  }

  void Print() const {
    std::printf("  %-34s", "median ms (x the first row)");
    for (const auto& [name, base] : kinds_) {
      std::printf(" %17s", name);
    }
    std::printf("\n");
    for (const auto& [name, cells] : rows_) {
      std::printf("  %-34s", name.c_str());
      for (std::size_t kind = 0; kind < cells.size(); ++kind) {
        const double median = cells[kind].Median();
        std::printf(" %8.1f (%5.2fx)", median, median / rows_.front().second[kind].Median());
      }
      std::printf("\n");
    }
  }

  // The row's median at most `limit` times the first row's, for each kind of server.
  void PrintWithin(const std::string& row, double limit) const {
    std::printf("  %-34s", (row + " within " + std::to_string(limit).substr(0, 4) + "x").c_str());
    for (std::size_t kind = 0; kind < kinds_.size(); ++kind) {
      const double ratio = Cell(row, kind).Median() / rows_.front().second[kind].Median();
      std::printf("        %5.2f %-3s", ratio, ratio <= limit ? "ok" : "NO");
    }
    std::printf("\n");
  }

  // Kept alive against the curl command with a new connection per page (at most 1.1x) and
  // against the same client with a new connection per request (no longer; 5% is the noise of
  // these runs), for each kind of server.
  void PrintVerdict(const std::string& kept, const std::string& fresh) const {
    std::printf("  %-34s", (kept + " vs new").c_str());
    bool all = true;
    for (std::size_t kind = 0; kind < kinds_.size(); ++kind) {
      const double median = Cell(kept, kind).Median();
      const double curl = median / rows_.front().second[kind].Median();
      const double own = median / Cell(fresh, kind).Median();
      const bool ok = curl <= 1.10 && own <= 1.05;
      all = all && ok;
      std::printf("   %4.2f %4.2f %-3s", curl, own, ok ? "ok" : "NO");
    }
    std::printf("\n  %-34s %s\n", "",
                all ? "never slower than a new connection per page"
                    : "SLOWER than a new connection per page somewhere");
  }

 private:
  std::vector<std::pair<const char*, std::string>> kinds_;
  std::vector<std::pair<std::string, std::vector<Figures>>> rows_;
};

// Runs `client` once; the walks `site` saw meanwhile join `into`.
void WalkOn(WatchedSite& site, int pages, Figures& into, const std::function<void()>& client) {
  client();
  for (double span : site.TakeWalks(pages).values) {
    into.Add(span);
  }
}

void MeasureWalks(Servers& servers, int pages, int runs) {
  const auto kinds = servers.Kinds();
  const double loadBefore = Load();
  Table table(kinds);
  Figures demoWindow, demoPython;
  for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
    WatchedSite& site = *servers.Watched()[kind];
    const std::string base = site.Base();
    const std::vector<std::string> addresses = PageAddresses(base, pages);
    site.TakeWalks(pages);  // none but ours
    Figures curl, curlKept, library, libraryKept, python, cli, cliFresh, window, windowFresh;
    for (int i = 0; i < runs; ++i) {
      WalkOn(site, pages, curl, [&] { CurlCommand(addresses, true); });
      WalkOn(site, pages, curlKept, [&] { CurlCommand(addresses, false); });
      WalkOn(site, pages, library, [&] { CurlNewConnections(base, pages); });
      WalkOn(site, pages, libraryKept, [&] { CurlOneConnection(base, pages); });
      WalkOn(site, pages, python, [&] { PythonScraper(base, pages); });
      WalkOn(site, pages, cli, [&] { CommandLine(base, pages); });
      WalkOn(site, pages, cliFresh, [&] { CommandLine(base, pages, {kNoKeepAlive}); });
    }
    // A window walks `runs` times in one process, as a user searching again would.
    WalkOn(site, pages, window, [&] { Window("walk", base, pages, runs); });
    WalkOn(site, pages, windowFresh, [&] { Window("walk", base, pages, runs, {kNoKeepAlive}); });
    table.Add("curl command, new connections", kind, curl);
    table.Add("curl command, one connection", kind, curlKept);
    table.Add("libcurl in process, new conns", kind, library);
    table.Add("libcurl in process, one conn", kind, libraryKept);
    table.Add("Python scraper (urllib + re)", kind, python);
    table.Add("cli search", kind, cli);
    table.Add("cli search, KEEP_ALIVE=0", kind, cliFresh);
    table.Add("window", kind, window);
    table.Add("window, KEEP_ALIVE=0", kind, windowFresh);
    if (kind == 0) {
      demoWindow = window;
      demoPython = python;
    }
  }
  std::printf(
      "\n1. A walk of %d pages of %d entries, each server kind, timed by the server from the "
      "first\n   to the last result-page request (%d runs, load %.2f before, %.2f after)\n",
      pages, demo::kEntriesPerPage, runs, loadBefore, Load());
  table.Print();
  table.PrintWithin("window", 1.20);
  std::printf("  kept alive vs new connections: x curl new (at most 1.10), x own with %s\n",
              kNoKeepAlive);
  table.PrintVerdict("cli search", "cli search, KEEP_ALIVE=0");
  table.PrintVerdict("window", "window, KEEP_ALIVE=0");
  std::printf(
      "  demo site: window behind Python in any run: %s (window worst %.1f ms, "
      "Python best %.1f ms)\n",
      demoWindow.Worst() < demoPython.Best() ? "no" : "yes", demoWindow.Worst(), demoPython.Best());
}

void MeasureMagnets(const Servers& servers, int runs) {
  const auto kinds = servers.Kinds();
  Table table(kinds);
  for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
    const std::string& base = kinds[kind].second;
    const std::vector<std::string> addresses = DetailAddresses(base, kDetailPages);
    Figures curl, curlKept, python, cli;
    for (int i = 0; i < runs; ++i) {
      curl.Add(CurlCommand(addresses, true));
      curlKept.Add(CurlCommand(addresses, false));
      python.Add(PythonMagnets(addresses));
      cli.Add(CommandLineMagnets(addresses));
    }
    table.Add("curl command, new connections", kind, curl);
    table.Add("curl command, one connection", kind, curlKept);
    table.Add("Python (urllib + re)", kind, python);
    table.Add("cli magnets, a process a page", kind, cli);
    table.Add("window, double-clicks", kind,
              Window("magnets", base, kDetailPages, runs)["magnets_ms"]);
    table.Add("window, KEEP_ALIVE=0", kind,
              Window("magnets", base, kDetailPages, runs, {kNoKeepAlive})["magnets_ms"]);
  }
  std::printf("\n2. Magnet links: %d detail pages one after another (%d runs, load %.2f)\n",
              kDetailPages, runs, Load());
  table.Print();
  std::printf("  kept alive vs new connections: x curl new (at most 1.10), x own with %s\n",
              kNoKeepAlive);
  table.PrintVerdict("window, double-clicks", "window, KEEP_ALIVE=0");
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
  std::printf("\n3%s. %s, %d ms before the first answer on each connection (%d runs, load %.2f)\n",
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
  std::printf("\n4. The UI thread, 1 ms timer (load %.2f)\n", Load());
  std::printf("  %d pages of %d entries, list scrolled all along: %.1f ms, longest gap %.1f ms\n",
              kBigPages, kBigPageEntries, figures["rows_ms"].Median(),
              figures["rows_gap_ms"].Median());
  std::printf("  a detail page of %d links into the box: %.1f ms, longest gap %.1f ms\n",
              kBigDetailLinks, figures["links_ms"].Median(), figures["links_gap_ms"].Median());

  std::map<std::string, Figures> memory =
      Window("memory", site.Base(), kMemoryRows / kBigPageEntries, 1);
  std::printf("\n5. Memory: %.0f rows in the window, peak (VmHWM) %.1f MB\n",
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
  const bool walksOnly = argc > 4 && std::strcmp(argv[4], "walks") == 0;
  mf::self = argv[0];
  curl_global_init(CURL_GLOBAL_DEFAULT);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::printf("search_bench: %d pages, %d runs, %d cores, load %.2f\n", pages, runs,
              static_cast<int>(std::thread::hardware_concurrency()), mf::Load());
  {
    mf::Servers servers(pages);
    mf::MeasureWalks(servers, pages, runs);
    if (walksOnly) {
      return 0;
    }
    mf::MeasureMagnets(servers, runs);
  }
  mf::MeasureKeptConnections(pages, runs, delayMs, false);
  mf::MeasureKeptConnections(pages, runs, delayMs, true);
  mf::MeasureUiThread();
  curl_global_cleanup();
  return 0;
}
