// What loading site definitions adds to a program's start: `magnet-finder-cli sites` run as a
// fresh process with no user definitions (the baseline: the built-in and bundled ones) and with
// 200 user definitions, each a variant of the built-in one with its own id and patterns, so that
// every file is read, checked and has its patterns compiled. Prints the medians of 15 runs and the
// machine's load.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "site/site_definition.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int kRuns = 15;
constexpr int kDefinitions = 200;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

void WriteDefinitions(const fs::path& folder) {
  fs::create_directories(folder);
  const std::string builtIn(mf::BuiltInSiteText());
  for (int i = 0; i < kDefinitions; ++i) {
    const std::string n = std::to_string(i);
    std::string text = Replaced(builtIn, "id: cilisousuo", "id: site-" + n);
    text = Replaced(text, "</a></div>'", "</a></div>" + n + "'");
    text = Replaced(text, "</script>'", "</script>" + n + "'");
    std::ofstream(folder / ("site-" + n + ".yaml")) << text;
  }
}

// The wall time of one `magnet-finder-cli sites` with XDG_DATA_HOME at `dataHome`, in ms.
double RunOnce(const std::string& dataHome) {
  setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  std::string program = MF_CLI_PROGRAM;
  std::string command = "sites";
  char* arguments[] = {program.data(), command.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), &actions, nullptr, arguments, environ) != 0) {
    std::perror("posix_spawn");
    std::exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(const std::string& dataHome) {
  std::vector<double> times;
  RunOnce(dataHome);  // warm the page cache
  for (int i = 0; i < kRuns; ++i) {
    times.push_back(RunOnce(dataHome));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  const fs::path root =
      fs::temp_directory_path() / ("site_catalogue_bench." + std::to_string(getpid()));
  WriteDefinitions(root / "many/magnet-finder/sites");
  const double baseline = Median((root / "none").string());
  const double many = Median((root / "many").string());
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("magnet-finder-cli sites, median of %d runs (load %.2f %.2f %.2f)\n", kRuns, load[0],
              load[1], load[2]);
  std::printf("  no user definitions        %7.1f ms\n", baseline);
  std::printf("  %d user definitions       %7.1f ms  (+%.1f ms, %.2f ms each)\n", kDefinitions,
              many, many - baseline, (many - baseline) / kDefinitions);
  fs::remove_all(root);
  return 0;
}
