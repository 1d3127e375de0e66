// magnet-finder-demo-site: serves the demo index site on a loopback port until SIGTERM/SIGINT;
// stdout carries only the address line.
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <thread>

#include "demo_server.h"

namespace {

// Signals are taken by one thread with sigwait, so stopping the server runs as ordinary code.
sigset_t BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return set;
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = mf::demo::ParseSiteOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::cerr << "magnet-finder-demo-site: " << *error << "\n(see --help)\n";
    return 2;
  }
  auto& options = std::get<mf::demo::SiteOptions>(parsed);
  if (options.help) {
    std::cout << mf::demo::UsageText();
    return 0;
  }
  const sigset_t stopSignals = BlockStopSignals();  // before any thread starts
  mf::demo::DemoSite site(options);
  if (site.Bind() < 0) {
    std::cerr << "magnet-finder-demo-site: cannot listen on " << options.host << ":" << options.port
              << "\n";
    return 1;
  }
  std::cout << site.BaseAddress() << std::endl;
  std::thread stopper([&] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    site.Stop();
  });
  site.Serve();
  kill(getpid(), SIGTERM);  // releases the stopper when serving ended on its own
  stopper.join();
  if (options.reportConnections)
    std::cerr << "connections: " << site.ConnectionCount() << "\n";
  return 0;
}
