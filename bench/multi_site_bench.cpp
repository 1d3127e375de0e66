// magnet-finder-cli searching several sites at the same time, beside the same search of one site
// alone, measured in the same run.
//
//  1. Three sites of 20 pages each, every answer 50 ms late, against two kinds of server: three
//     bundled demo sites (--latency), and three Python http.server processes serving the demo
//     site's pages saved to files, each answer delayed in the handler (a server we did not
//     write). The three sites together (--jobs 4) against the slowest of them alone (the goal
//     is at most 1.3 times), and one after another (--jobs 1).
//  2. Memory: two sites whose rows carry info-hashes, 100,000 rows in all, every fourth row of the
//     second site a torrent of the first (printed once): the peak resident size of the command
//     (goal: under 150 MB), beside the same command on one page of each.
// Timed cases run `runs` times; medians, with the machine's load before and after.
//
//   multi_site_bench [runs=5] [pages=20] [latency-ms=50]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "demo_pages.h"
#include "demo_server.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kKeyword = "电影";
constexpr int kSites = 3;
constexpr int kHashRowsPerPage = 1000;
constexpr int kHashPages = 50;  // per site: two sites give 100,000 rows

double Load() {
  double load[1] = {0};
  return getloadavg(load, 1) == 1 ? load[0] : -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Ran {
  double ms = 0;
  long peakKb = 0;  // the child's peak resident size
  int status = -1;
  std::size_t lines = 0;  // of its standard output
};

// Runs a program to its end, its output counted and dropped.
Ran RunProcess(std::vector<std::string> arguments) {
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
  Ran ran;
  const auto start = Clock::now();
  pid_t child = 0;
  const bool spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  char buffer[65536];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    ran.lines += static_cast<std::size_t>(std::count(buffer, buffer + got, '\n'));
  }
  close(pipeEnds[0]);
  int status = 0;
  rusage usage{};
  if (spawned && wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) {
    ran.status = WEXITSTATUS(status);
  }
  ran.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  ran.peakKb = usage.ru_maxrss;
  if (ran.status != 0) {
    std::fprintf(stderr, "multi_site_bench: %s ended with %d\n", argv[0], ran.status);
  }
  return ran;
}

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A folder of its own, removed at the end.
class Folder {
 public:
  Folder() {
    char name[] = "/tmp/multi_site_bench.XXXXXX";
    if (mkdtemp(name) == nullptr) {
      std::exit(1);
    }
    root_ = name;
  }
  ~Folder() { fs::remove_all(root_); }
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

// A definition of the demo site's layout under `id` at `base`.
std::string DemoLayout(const std::string& id, const std::string& base, int pages) {
  return "format: 1\nid: " + id + "\nname: " + id + "\nmirrors:\n  - " + base +
         "\nsearch:\n  address: \"{base}/list/{keyword}/{page}\"\n  pages: " +
         std::to_string(pages) +
         "\nentries:\n  pattern: 'href=\"(.*?)\">(.*?)</a></div>'\n  link-group: 1\n"
         "  title-group: 2\ndetail:\n  address: \"{base}{link}\"\n"
         "  magnet-pattern: '磁力下载：<a href=\"(.*?)\">'\n  magnet-group: 1\n";
}

// Rows with a title and an info-hash, no detail page.
std::string HashLayout(const std::string& id, const std::string& base) {
  return "format: 1\nid: " + id + "\nname: " + id + "\nmirrors:\n  - " + base +
         "\nsearch:\n  address: \"{base}/list/{keyword}/{page}\"\n  pages: " +
         std::to_string(kHashPages) +
         "\nentries:\n  pattern: '<td class=\"n\">([^<]*)</td><td class=\"h\">([0-9a-f]{40})</td>'"
         "\n  title-group: 1\n  hash-group: 2\n";
}

// Python's http.server, threaded and keeping connections alive, serving `root`, each answer
// `delayMs` late.
constexpr const char* kDelayedServer = R"py(
import functools, http.server, sys, time
root, delay = sys.argv[1], int(sys.argv[2]) / 1000.0
class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    def do_GET(self):
        time.sleep(delay)
        super().do_GET()
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0),
                                         functools.partial(Handler, directory=root))
print(server.server_address[1], flush=True)
server.serve_forever()
)py";

class PythonSite {
 public:
  PythonSite(const std::string& root, int delayMs) {
    std::vector<std::string> arguments = {"python3", "-c", kDelayedServer, root,
                                          std::to_string(delayMs)};
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
    const bool spawned =
        posix_spawnp(&child_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string port;
    char c = 0;
    while (spawned && read(pipeEnds[0], &c, 1) == 1 && c != '\n') {
      port += c;
    }
    close(pipeEnds[0]);
    if (port.empty()) {
      std::fprintf(stderr, "multi_site_bench: the Python server did not start\n");
      std::exit(1);
    }
    base_ = "http://127.0.0.1:" + port;
  }
  ~PythonSite() {
    kill(child_, SIGTERM);
    waitpid(child_, nullptr, 0);
  }
  PythonSite(const PythonSite&) = delete;
  PythonSite& operator=(const PythonSite&) = delete;
  std::string Base() const { return base_; }

 private:
  pid_t child_ = 0;
  std::string base_;
};

class DemoSite {
 public:
  explicit DemoSite(int latencyMs)
      : site_([&] {
          mf::demo::SiteOptions options;
          options.latencyMs = latencyMs;
          return options;
        }()) {
    if (site_.Bind() < 0) {
      std::exit(1);
    }
    serving_ = std::thread([this] { site_.Serve(); });
  }
  ~DemoSite() {
    site_.Stop();
    serving_.join();
  }
  std::string Base() const { return site_.BaseAddress(); }

 private:
  mf::demo::DemoSite site_;
  std::thread serving_;
};

std::vector<std::string> Search(const std::string& sites, int pages,
                                std::initializer_list<std::string> more = {}) {
  std::vector<std::string> arguments = {
      MF_CLI_PROGRAM, "search", kKeyword, "--site", sites, "--pages", std::to_string(pages), "-q"};
  arguments.insert(arguments.end(), more);
  return arguments;
}

// The three sites together against each alone; prints the medians and the ratio to the slowest.
void CompareWithSlowest(const char* server, const std::vector<std::string>& files, int pages,
                        int runs) {
  std::string all;
  for (const std::string& file : files) {
    all += (all.empty() ? "" : ",") + file;
  }
  std::vector<double> together;
  std::vector<double> inTurn;
  std::vector<std::vector<double>> alone(files.size());
  std::size_t rows = 0;
  for (int run = 0; run < runs; ++run) {
    const Ran ran = RunProcess(Search(all, pages));
    together.push_back(ran.ms);
    rows = ran.lines;
    inTurn.push_back(RunProcess(Search(all, pages, {"--jobs", "1"})).ms);
    for (std::size_t i = 0; i < files.size(); ++i) {
      alone[i].push_back(RunProcess(Search(files[i], pages)).ms);
    }
  }
  double slowest = 0;
  for (const auto& figures : alone) {
    slowest = std::max(slowest, Median(figures));
  }
  std::printf(
      "  %-20s %zu sites together %7.1f ms (%zu lines), slowest alone %7.1f ms: x%.2f "
      "(goal at most 1.30); one after another (--jobs 1) %7.1f ms\n",
      server, files.size(), Median(together), rows, slowest, Median(together) / slowest,
      Median(inTurn));
}

// Pages of kHashRowsPerPage rows each; rows of site 1 share every fourth torrent with site 0.
void WriteHashPages(const fs::path& root, int site) {
  for (int page = 1; page <= kHashPages; ++page) {
    std::string body = "<html><body><table>\n";
    for (int row = 0; row < kHashRowsPerPage; ++row) {
      const int index = (page - 1) * kHashRowsPerPage + row;
      const bool shared = site == 1 && index % 4 == 0;
      char hash[41];
      std::snprintf(hash, sizeof hash, "%08x%032x", shared ? 1 : site + 1, index);
      body += "<tr><td class=\"n\">种子 " + std::to_string(index) + " 第" + std::to_string(page) +
              "页 1080p</td><td class=\"h\">" + hash + "</td></tr>\n";
    }
    Write(root / "list" / kKeyword / std::to_string(page), body + "</table></body></html>\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  const int pages = argc > 2 ? std::atoi(argv[2]) : 20;
  const int latency = argc > 3 ? std::atoi(argv[3]) : 50;
  std::printf("multi_site_bench: %d sites x %d pages, %d ms per answer, %d runs; load %.2f\n",
              kSites, pages, latency, runs, Load());
  Folder folder;

  {
    std::vector<std::unique_ptr<DemoSite>> demos;
    std::vector<std::string> files;
    for (int i = 0; i < kSites; ++i) {
      demos.push_back(std::make_unique<DemoSite>(latency));
      files.push_back((folder.Root() / ("demo-" + std::to_string(i) + ".yaml")).string());
      Write(files.back(), DemoLayout("demo-" + std::to_string(i), demos.back()->Base(), pages));
    }
    CompareWithSlowest("demo site --latency", files, pages, runs);
  }
  {
    const fs::path saved = folder.Root() / "saved";
    for (int page = 1; page <= pages; ++page) {
      Write(saved / "list" / kKeyword / std::to_string(page),
            mf::demo::MakeResultPage(kKeyword, page).body);
    }
    std::vector<std::unique_ptr<PythonSite>> servers;
    std::vector<std::string> files;
    for (int i = 0; i < kSites; ++i) {
      servers.push_back(std::make_unique<PythonSite>(saved.string(), latency));
      files.push_back((folder.Root() / ("python-" + std::to_string(i) + ".yaml")).string());
      Write(files.back(), DemoLayout("python-" + std::to_string(i), servers.back()->Base(), pages));
    }
    CompareWithSlowest("python http.server", files, pages, runs);
  }
  {
    std::vector<std::unique_ptr<PythonSite>> servers;
    std::string files;
    for (int i = 0; i < 2; ++i) {
      const fs::path root = folder.Root() / ("hashes-" + std::to_string(i));
      WriteHashPages(root, i);
      servers.push_back(std::make_unique<PythonSite>(root.string(), 0));
      const fs::path file = folder.Root() / ("hashes-" + std::to_string(i) + ".yaml");
      Write(file, HashLayout("hashes-" + std::to_string(i), servers.back()->Base()));
      files += (files.empty() ? "" : ",") + file.string();
    }
    std::vector<double> peaks;
    std::size_t lines = 0;
    for (int run = 0; run < runs; ++run) {
      const Ran ran = RunProcess(Search(files, kHashPages));
      peaks.push_back(static_cast<double>(ran.peakKb));
      lines = ran.lines;
    }
    std::vector<double> onePage;
    for (int run = 0; run < runs; ++run) {
      onePage.push_back(static_cast<double>(RunProcess(Search(files, 1)).peakKb));
    }
    const std::size_t rows = 2 * kHashPages * kHashRowsPerPage;
    std::printf(
        "  %zu rows with info-hashes on 2 sites, %zu printed (%zu the same torrent again): "
        "peak resident %.1f MB (goal under 150 MB); 1 page of each: %.1f MB\n",
        rows, lines - 1, rows - (lines - 1), Median(peaks) / 1024, Median(onePage) / 1024);
  }
  std::printf("load after: %.2f\n", Load());
  return 0;
}
