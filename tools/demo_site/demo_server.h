// The demo index site's HTTP side: command-line options and the server that serves the pages of
// demo_pages.h and example_layouts.h on a loopback address (http or https), optionally slow,
// failing or hostile for tests, counting the connections it serves for benchmarks.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "demo_pages.h"
#include "example_layouts.h"

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
  int port = 0;      // 0 picks a free port
  bool tls = false;  // https with a certificate made at start for 127.0.0.1 and localhost
  int latencyMs = 0;
  int connectDelayMs = 0;  // before the first answer on each connection, on top of the latency
  int lastPage = 0;        // 0: every page number has results
  int entriesPerPage = kEntriesPerPage;
  int detailLinks = 0;             // magnet links per detail page; 0: one or two
  int jsonPages = kJsonPages;      // the JSON answer's pages after it list no torrents
  int tablePages = kTablePages;    // the table's pages after it answer it again
  bool reportConnections = false;  // for the program: the count on stderr when it ends
  std::map<int, Failure> failingPages;
  std::map<int, PageQuirk> quirkPages;
  std::optional<Failure> failingDetail;
  bool help = false;
};

// Parses the program's arguments (without the program name); the error text on failure.
std::variant<SiteOptions, std::string> ParseSiteOptions(const std::vector<std::string>& args);
const char* UsageText();

inline constexpr const char* kUtf8Html = "text/html; charset=utf-8";

// Sends the header announcing the whole body, then half the body, then closes the connection.
void SendCutShort(httplib::Response& res, std::string body, const char* type = kUtf8Html);

// Answers a request itself and returns true, or returns false to leave it to the site's pages.
// Runs on the server's threads, after the delays; may block until Stop.
using RequestHandler = std::function<bool(const httplib::Request&, httplib::Response&)>;

class DemoSite {
 public:
  // `first`, when given, sees every request before the site's own pages.
  explicit DemoSite(SiteOptions options, RequestHandler first = nullptr);
  ~DemoSite();
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Binds the listening socket; the port, or -1 when binding failed.
  int Bind();
  std::string BaseAddress() const;  // "http://127.0.0.1:PORT", or "https://..." with tls
  void Serve();                     // blocks until Stop
  // Safe from any thread; also cuts short the delays of requests in progress.
  void Stop();

  // Connections whose first request came since the start or the last reset; any thread.
  int ConnectionCount() const;
  void ResetConnectionCount();

 private:
  void Route();
  bool Delay(const httplib::Request& req);  // false when the site is stopping
  void ServeList(const httplib::Request& req, httplib::Response& res);
  void ServeGbkSearch(const httplib::Request& req, httplib::Response& res);
  void ServeJsonSearch(const httplib::Request& req, httplib::Response& res);
  void ServeTable(const httplib::Request& req, httplib::Response& res, TableSite site);
  void ServeFeed(const httplib::Request& req, httplib::Response& res);
  // The page number in parameter `name`, after checking that "q" is there too.
  std::optional<int> SearchPage(const httplib::Request& req, const char* name) const;
  std::optional<Failure> PageFailure(int page) const;
  using DetailMaker = std::optional<DetailPage> (*)(std::string_view id, int links);
  void ServeDetail(const httplib::Request& req, httplib::Response& res, std::size_t prefix,
                   DetailMaker make, bool gbk);
  // `type` is the Content-Type of a page that is served (error pages are UTF-8).
  void Send(httplib::Response& res, std::string body, std::optional<Failure> failure,
            const char* type = kUtf8Html);

  SiteOptions options_;
  RequestHandler first_;
  std::unique_ptr<httplib::Server> server_;
  int port_ = -1;
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::condition_variable stopping_changed_;
  bool stopping_ = false;
};

}  // namespace mf::demo
