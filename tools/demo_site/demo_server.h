// The demo index site's HTTP side: command-line options and the server that serves the pages of
// demo_pages.h on a loopback address, optionally slow, failing or hostile for tests.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "demo_pages.h"

namespace mf::demo {

// How a page can fail instead of being served.
enum class Failure {
  kNotFound,     // 404 with a short error page
  kServerError,  // 500 with a short error page
  kEmpty,        // 200 with an empty body
  kClose,        // 200 announcing the whole length; the connection closes halfway through the body
  kZeroFirst,    // 200 whose body starts with a zero byte
};

struct SiteOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0 picks a free port
  int latencyMs = 0;
  int lastPage = 0;  // 0: every page number has results
  std::map<int, Failure> failingPages;
  std::map<int, PageQuirk> quirkPages;
  std::optional<Failure> failingDetail;
  bool help = false;
};

// Parses the program's arguments (without the program name); the error text on failure.
std::variant<SiteOptions, std::string> ParseSiteOptions(const std::vector<std::string>& args);
const char* UsageText();

class DemoSite {
 public:
  explicit DemoSite(SiteOptions options);
  ~DemoSite();
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Binds the listening socket; the port, or -1 when binding failed.
  int Bind();
  std::string BaseAddress() const;  // "http://127.0.0.1:PORT"
  void Serve();                     // blocks until Stop
  // Safe from any thread; also cuts short the latency waits of requests in progress.
  void Stop();

 private:
  void Route();
  bool Delay();  // false when the site is stopping
  void ServeList(const httplib::Request& req, httplib::Response& res);
  void ServeDetail(const httplib::Request& req, httplib::Response& res);
  void Send(httplib::Response& res, std::string body, std::optional<Failure> failure);

  SiteOptions options_;
  httplib::Server server_;
  int port_ = -1;
  std::mutex mutex_;
  std::condition_variable stopping_changed_;
  bool stopping_ = false;
};

}  // namespace mf::demo
