#include "demo_server.h"

#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <charconv>
#include <chrono>
#include <utility>

#include "gbk_text.h"

namespace mf::demo {
namespace {

constexpr const char* kHtml = kUtf8Html;
constexpr const char* kGbkHtml = "text/html; charset=GBK";
constexpr const char* kJson = "application/json";
constexpr const char* kRss = "application/rss+xml; charset=utf-8";
// Where the moved site's old address sends every request.
constexpr const char* kMovedTo = "http://moved.invalid";
// Each open connection holds a worker for its whole life; room for many clients at once.
constexpr std::size_t kWorkers = 32;

std::optional<int> ParseNumber(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 0)
    return std::nullopt;
  return value;
}

std::optional<Failure> ParseFailure(std::string_view kind) {
  if (kind == "404")
    return Failure::kNotFound;
  if (kind == "500")
    return Failure::kServerError;
  if (kind == "empty")
    return Failure::kEmpty;
  if (kind == "close")
    return Failure::kClose;
  if (kind == "zero")
    return Failure::kZeroFirst;
  return std::nullopt;
}

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

const std::map<std::string, bool SiteOptions::*> kSwitches = {
    {"--help", &SiteOptions::help},
    {"-h", &SiteOptions::help},
    {"--tls", &SiteOptions::tls},
    {"--report-connections", &SiteOptions::reportConnections},
};

const std::map<std::string, int SiteOptions::*> kNumbers = {
    {"--latency", &SiteOptions::latencyMs},
    {"--connect-delay", &SiteOptions::connectDelayMs},
    {"--last-page", &SiteOptions::lastPage},
    {"--entries-per-page", &SiteOptions::entriesPerPage},
    {"--detail-links", &SiteOptions::detailLinks},
    {"--json-pages", &SiteOptions::jsonPages},
    {"--table-pages", &SiteOptions::tablePages},
};

const std::map<std::string, PageQuirk> kQuirkFlags = {
    {"--zero-byte-page", PageQuirk::kZeroByte},
    {"--invalid-utf8-page", PageQuirk::kInvalidUtf8},
    {"--long-line-page", PageQuirk::kLongLine},
    {"--long-title-page", PageQuirk::kLongTitle},
    {"--split-entry-page", PageQuirk::kSplitEntry},
    {"--upper-href-page", PageQuirk::kUpperHref},
    {"--huge-page", PageQuirk::kHuge},
};

// Applies one "--flag value" pair; an error text when it does not fit.
std::optional<std::string> ApplyOption(SiteOptions& o, const std::string& flag,
                                       const std::string& value) {
  const std::string bad = "bad value for " + flag + ": '" + value + "'";
  if (flag == "--host") {
    if (!IsLoopback(value))
      return "--host must be a loopback address: '" + value + "'";
    o.host = value;
    return std::nullopt;
  }
  if (flag == "--fail-page") {
    const std::size_t eq = value.find('=');
    const auto page = ParseNumber(std::string_view(value).substr(0, eq));
    const auto failure =
        eq == std::string::npos ? std::nullopt : ParseFailure(value.substr(eq + 1));
    if (!page || !failure)
      return bad;
    o.failingPages[*page] = *failure;
    return std::nullopt;
  }
  if (flag == "--fail-detail") {
    o.failingDetail = ParseFailure(value);
    return o.failingDetail ? std::nullopt : std::optional<std::string>(bad);
  }
  const auto number = ParseNumber(value);
  if (!number)
    return bad;
  if (flag == "--port" && *number <= 65535)
    o.port = *number;
  else if (kNumbers.count(flag))
    o.*kNumbers.at(flag) = *number;
  else if (kQuirkFlags.count(flag))
    o.quirkPages[*number] = kQuirkFlags.at(flag);
  else
    return flag == "--port" ? bad : "unknown option: " + flag;
  return std::nullopt;
}

std::string ErrorPage(int status) {
  const std::string text = status == 404 ? "页面不存在" : "服务器错误";
  return "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>" + std::to_string(status) +
         "</title></head>\n<body><h1>" + std::to_string(status) + " " + text +
         "</h1></body>\n</html>\n";
}

const std::string kHomePage =
    "<!DOCTYPE html>\n<html>\n<head><meta charset=\"utf-8\"><title>磁力搜索</title></head>\n"
    "<body><h1>磁力搜索</h1><p>/list/关键词/页码</p><p>/search?q=关键词（GBK）&amp;p=页码</p>"
    "<p>/api/search?q=关键词&amp;page=页码</p><p>/torrents?q=关键词&amp;p=页码</p>"
    "<p>/new/torrents?q=关键词&amp;p=页码</p></body>\n</html>\n";

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

bool AddAltNames(X509* cert) {
  X509_EXTENSION* names =
      X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  const bool added = names && X509_add_ext(cert, names, -1) == 1;
  X509_EXTENSION_free(names);
  return added;
}

// A self-signed certificate for 127.0.0.1 and localhost, valid from now for a day; null when
// OpenSSL fails.
Certificate MakeCertificate(EVP_PKEY* key) {
  Certificate cert(X509_new(), X509_free);
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  X509_NAME* name = cert ? X509_get_subject_name(cert.get()) : nullptr;
  const bool made = name && X509_set_version(cert.get(), 2) == 1 &&
                    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), now.count()) == 1 &&
                    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 60 * 60) &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>("127.0.0.1"),
                                               -1, -1, 0) == 1 &&
                    X509_set_issuer_name(cert.get(), name) == 1 &&
                    X509_set_pubkey(cert.get(), key) == 1 && AddAltNames(cert.get()) &&
                    X509_sign(cert.get(), key, EVP_sha256()) > 0;
  return made ? std::move(cert) : Certificate(nullptr, X509_free);
}

// An https server with a fresh key; one that is not valid when OpenSSL fails.
std::unique_ptr<httplib::Server> MakeTlsServer() {
  Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  Certificate cert = key ? MakeCertificate(key.get()) : Certificate(nullptr, X509_free);
  // The server's context takes its own references to both.
  return std::make_unique<httplib::SSLServer>(cert.get(), cert ? key.get() : nullptr);
}

// Each connection is served from start to end by one worker thread, so a worker tells a new one
// by a client address and port other than those of the request it served last (a client port
// used again at once for the next connection the same worker takes would go unnoticed).
bool IsNewConnection(const httplib::Request& req) {
  thread_local std::string current;
  std::string client = req.remote_addr + " " + std::to_string(req.remote_port);
  if (client == current)
    return false;
  current = std::move(client);
  return true;
}

// Every byte but the unreserved ASCII characters and those of `keep` as %XX.
std::string UrlEncoded(std::string_view bytes, std::string_view keep = "") {
  std::string out;
  for (char c : bytes) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       std::string_view("-._~").find(c) != std::string_view::npos ||
                       keep.find(c) != std::string_view::npos;
    out += plain ? std::string(1, c) : PercentEncodeUtf8(std::string_view(&c, 1));
  }
  return out;
}

// Where the moved site's old address sends a request under /old: the same path and parameters on
// another host. The library hands both over decoded, the parameters in name order, so they are
// encoded again, in that order.
std::string MovedAddress(const httplib::Request& req) {
  std::string to = kMovedTo + UrlEncoded(std::string_view(req.path).substr(4), "/");
  char separator = '?';
  for (const auto& [name, value] : req.params) {
    to += separator + UrlEncoded(name) + "=" + UrlEncoded(value);
    separator = '&';
  }
  return to;
}

}  // namespace

const char* UsageText() {
  return R"(Usage: magnet-finder-demo-site [options]

A local stand-in for the torrent-index site. Serves, for any keyword,
  /list/<percent-encoded UTF-8 keyword>/<page>   result pages of 20 entries (UTF-8 HTML)
  /detail/<16 hex digits>.html                   detail pages with one or two magnet links
and, in another layout, a site in GBK (sites/demo-gbk.yaml describes it):
  /search?q=<percent-encoded GBK keyword>&p=<page>
                                                 result pages of 20 entries (GBK HTML, the
                                                 charset named in the answer)
  /torrent/<16 hex digits>.html                  detail pages with one or two magnet links
and three example sites whose rows give the magnet link themselves (sites/demo-json.yaml,
sites/demo-table.yaml and sites/demo-mirrors.yaml describe them):
  /api/search?q=<percent-encoded UTF-8 keyword>&page=<page>
                                                 a JSON answer of 20 torrents: info-hashes
                                                 (hex or base32), sizes in bytes, dates,
                                                 seeders, leechers; pages after the 5th list
                                                 none
  /torrents?q=<percent-encoded UTF-8 keyword>&p=<page>
                                                 an HTML table of 20 rows with magnet links,
                                                 sizes, dates, seeders, leechers; 3 pages, and
                                                 any higher page number answers the 3rd again
  /new/torrents?q=...&p=<page>                   the same table on a site that moved
  /old/...                                       the moved site's old address: a redirect
                                                 (302) to http://moved.invalid/...
and an RSS feed (sites/demo-feed.yaml describes it):
  /feed?q=<percent-encoded UTF-8 keyword>&start=<offset>&count=<n>
                                                 n items from the offset (from 0): magnet links
                                                 in enclosures, RFC 822 dates, sizes as text,
                                                 seeders and leechers; 50 in all
The four list the same torrents for a keyword, from another place each: page 1 of the
JSON answer lists torrents 1-20 of the keyword, of the table 11-30, of the moved site 6-25,
the feed from the offset's torrent on.
Every page depends only on its address, so it is the same on every run.
Prints its base address ("http://127.0.0.1:PORT") as its first line on stdout, then
serves until SIGTERM or SIGINT.

Options (all but --tls, --report-connections and --help take a value, as "--opt value" or
"--opt=value"; page options repeat):
  --port N                 listening port; 0 (the default) picks a free one
  --host H                 loopback address to listen on (default 127.0.0.1)
  --latency MS             wait MS milliseconds before answering any request
  --connect-delay MS       wait MS milliseconds more before the first answer on each connection
  --entries-per-page N     entries on each result page (default 20)
  --detail-links N         magnet links on each detail page (default: one or two)
  --last-page N            result pages after N have no entries ("nothing found"); the first
                           two layouts only
  --json-pages N           JSON answers after page N list no torrents (default 5)
  --table-pages N          the table has N pages, any page after N answers page N again
                           (default 3; both table sites)
The options above hold for every layout, and so do --fail-page and --fail-detail; the page
options after them change only the first layout's pages.
  --fail-page N=KIND       result page N fails, for every keyword; KIND is one of
                             404    status 404 with a short error page
                             500    status 500 with a short error page
                             empty  status 200 with an empty body
                             close  the connection closes halfway through the body
                             zero   status 200, the body starts with a zero byte
  --fail-detail KIND       every detail page fails in the same way
  --zero-byte-page N       result page N holds a zero byte after its 10th entry
  --invalid-utf8-page N    result page N holds invalid UTF-8 in the titles of entries 3 and 8
                           (and in one line between entries)
  --long-line-page N       result page N holds, after its 10th entry, a ~2 MB line that opens an
                           entry link but never closes it with "</a></div>"
  --long-title-page N      the last entry of result page N has a ~2 MB title of span openings of
                           another class with no "</script>" anywhere after them
  --split-entry-page N     the first entry of result page N has its link and title on two lines
  --upper-href-page N      the second entry of result page N writes its link as HREF="..."
  --huge-page N            result page N holds 5000 entries (about 1.5 MB)
  --tls                    serve https, with a self-signed certificate for 127.0.0.1 and
                           localhost made at start (the address starts "https://")
  --report-connections     on ending, write "connections: N" on stderr: how many connections
                           sent requests
  --help                   this text
A failure option wins over a page option for the same page.
)";
}

std::variant<SiteOptions, std::string> ParseSiteOptions(const std::vector<std::string>& args) {
  SiteOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string flag = args[i];
    if (kSwitches.count(flag)) {
      options.*kSwitches.at(flag) = true;
      continue;
    }
    std::string value;
    if (const std::size_t eq = flag.find('=');
        flag.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = flag.substr(eq + 1);
      flag.resize(eq);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return "missing value for " + flag;
    }
    if (auto error = ApplyOption(options, flag, value))
      return *error;
  }
  return options;
}

void SendCutShort(httplib::Response& res, std::string body, const char* type) {
  const std::size_t length = body.size();
  res.set_content_provider(
      length, type, [body = std::move(body)](std::size_t, std::size_t, httplib::DataSink& sink) {
        sink.write(body.data(), body.size() / 2);
        return false;  // cut the connection short
      });
}

DemoSite::DemoSite(SiteOptions options, RequestHandler first)
    : options_(std::move(options)),
      first_(std::move(first)),
      server_(options_.tls ? MakeTlsServer() : std::make_unique<httplib::Server>()) {
  // An idle kept-alive connection holds Stop until it times out; keep that short.
  server_->set_keep_alive_timeout(1);
  // A walk of any length stays on one connection (the library closes one after 5 requests).
  server_->set_keep_alive_max_count(1'000'000);
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  // Headers and body go out in separate writes; without this, Nagle's algorithm and the
  // client's delayed acknowledgement hold every page back by tens of milliseconds.
  server_->set_tcp_nodelay(true);
  Route();
}

DemoSite::~DemoSite() {
  Stop();
}

int DemoSite::Bind() {
  if (!server_->is_valid())
    return port_ = -1;
  port_ = options_.port == 0
              ? server_->bind_to_any_port(options_.host)
              : (server_->bind_to_port(options_.host, options_.port) ? options_.port : -1);
  return port_;
}

std::string DemoSite::BaseAddress() const {
  const bool v6 = options_.host.find(':') != std::string::npos;
  return (options_.tls ? "https://" : "http://") +
         (v6 ? "[" + options_.host + "]" : options_.host) + ":" + std::to_string(port_);
}

void DemoSite::Serve() {
  server_->listen_after_bind();
}

int DemoSite::ConnectionCount() const {
  return connections_;
}

void DemoSite::ResetConnectionCount() {
  connections_ = 0;
}

void DemoSite::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopping_changed_.notify_all();
  server_->stop();
}

bool DemoSite::Delay(const httplib::Request& req) {
  int delayMs = options_.latencyMs;
  if (IsNewConnection(req)) {
    ++connections_;
    delayMs += options_.connectDelayMs;
  }
  std::unique_lock lock(mutex_);
  stopping_changed_.wait_for(lock, std::chrono::milliseconds(delayMs),
                             [this] { return stopping_; });
  return !stopping_;
}

// Routing by hand: the decoded keyword may hold any byte, slashes and line breaks included.
void DemoSite::Route() {
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (!Delay(req) || (first_ && first_(req, res)))
      return httplib::Server::HandlerResponse::Handled;
    if (req.method != "GET") {
      res.status = 405;
    } else if (req.path.rfind("/list/", 0) == 0) {
      ServeList(req, res);
    } else if (req.path.rfind("/detail/", 0) == 0) {
      ServeDetail(req, res, 8, MakeDetailPage, false);
    } else if (req.path == "/search") {
      ServeGbkSearch(req, res);
    } else if (req.path.rfind("/torrent/", 0) == 0) {
      ServeDetail(req, res, 9, MakeGbkDetailPage, true);
    } else if (req.path == "/api/search") {
      ServeJsonSearch(req, res);
    } else if (req.path == "/torrents") {
      ServeTable(req, res, TableSite::kTable);
    } else if (req.path == "/new/torrents") {
      ServeTable(req, res, TableSite::kMoved);
    } else if (req.path == "/feed") {
      ServeFeed(req, res);
    } else if (req.path.rfind("/old/", 0) == 0) {
      res.set_redirect(MovedAddress(req));
    } else if (req.path == "/") {
      res.set_content(kHomePage, kHtml);
    } else {
      Send(res, "", Failure::kNotFound);
    }
    return httplib::Server::HandlerResponse::Handled;
  });
}

void DemoSite::ServeList(const httplib::Request& req, httplib::Response& res) {
  const std::string_view rest = std::string_view(req.path).substr(6);
  const std::size_t slash = rest.rfind('/');
  const auto page = slash == std::string_view::npos || rest.size() - slash > 10
                        ? std::nullopt
                        : ParseNumber(rest.substr(slash + 1));
  if (!page)
    return Send(res, "", Failure::kNotFound);
  const auto quirk = options_.quirkPages.find(*page);
  const PageQuirk q = quirk == options_.quirkPages.end() ? PageQuirk::kNone : quirk->second;
  const auto failing = options_.failingPages.find(*page);
  Send(res,
       MakeResultPage(rest.substr(0, slash), *page, q, options_.lastPage, options_.entriesPerPage)
           .body,
       failing == options_.failingPages.end() ? std::nullopt : std::optional(failing->second));
}

// The keyword in q is GBK, percent-encoded; a missing q or a p that is not a number is not found.
void DemoSite::ServeGbkSearch(const httplib::Request& req, httplib::Response& res) {
  const std::optional<int> parsed = ParseNumber(req.get_param_value("p"));  // "" when absent
  if (!req.has_param("q") || !parsed)
    return Send(res, "", Failure::kNotFound);
  const int page = parsed.value_or(0);
  const auto failing = options_.failingPages.find(page);
  const std::string keyword = FromGbk(req.get_param_value("q"));
  Send(res,
       ToGbk(MakeGbkResultPage(keyword, page, options_.lastPage, options_.entriesPerPage).body),
       failing == options_.failingPages.end() ? std::nullopt : std::optional(failing->second),
       kGbkHtml);
}

std::optional<int> DemoSite::SearchPage(const httplib::Request& req, const char* name) const {
  if (!req.has_param("q"))
    return std::nullopt;
  return ParseNumber(req.get_param_value(name));  // "" when absent: not a number
}

std::optional<Failure> DemoSite::PageFailure(int page) const {
  const auto failing = options_.failingPages.find(page);
  return failing == options_.failingPages.end() ? std::nullopt : std::optional(failing->second);
}

// The keyword in q is UTF-8, percent-encoded; a missing q or page is not found.
void DemoSite::ServeJsonSearch(const httplib::Request& req, httplib::Response& res) {
  const std::optional<int> page = SearchPage(req, "page");
  if (!page)
    return Send(res, "", Failure::kNotFound);
  Send(res,
       MakeJsonResultPage(req.get_param_value("q"), *page, options_.jsonPages,
                          options_.entriesPerPage)
           .body,
       PageFailure(*page), kJson);
}

// The keyword in q is UTF-8, percent-encoded; a missing q or a p below 1 is not found.
void DemoSite::ServeTable(const httplib::Request& req, httplib::Response& res, TableSite site) {
  const std::optional<int> page = SearchPage(req, "p");
  if (!page || *page < 1)
    return Send(res, "", Failure::kNotFound);
  Send(res,
       MakeTableResultPage(req.get_param_value("q"), *page, site, options_.tablePages,
                           options_.entriesPerPage)
           .body,
       PageFailure(*page));
}

// The keyword in q is UTF-8, percent-encoded; a missing q, start or count is not found.
void DemoSite::ServeFeed(const httplib::Request& req, httplib::Response& res) {
  const std::optional<int> start = SearchPage(req, "start");
  const std::optional<int> count = SearchPage(req, "count");
  if (!start || !count || *count > 1000)
    return Send(res, "", Failure::kNotFound);
  const int page = *start / std::max(*count, 1) + 1;
  Send(res, MakeFeedResultPage(req.get_param_value("q"), *start, *count).body, PageFailure(page),
       kRss);
}

// Serves the detail page whose "<id>.html" follows the first `prefix` bytes of the path.
void DemoSite::ServeDetail(const httplib::Request& req, httplib::Response& res, std::size_t prefix,
                           DetailMaker make, bool gbk) {
  std::string_view id = std::string_view(req.path).substr(prefix);
  const bool html = id.size() > 5 && id.substr(id.size() - 5) == ".html";
  const auto page = html ? make(id.substr(0, id.size() - 5), options_.detailLinks) : std::nullopt;
  if (!page)
    return Send(res, "", Failure::kNotFound);
  Send(res, gbk ? ToGbk(page->body) : page->body, options_.failingDetail, gbk ? kGbkHtml : kHtml);
}

void DemoSite::Send(httplib::Response& res, std::string body, std::optional<Failure> failure,
                    const char* type) {
  if (!failure)
    return res.set_content(body, type);
  switch (*failure) {
    case Failure::kNotFound:
    case Failure::kServerError:
      res.status = *failure == Failure::kNotFound ? 404 : 500;
      return res.set_content(ErrorPage(res.status), kHtml);
    case Failure::kEmpty:
      return res.set_content("", type);
    case Failure::kZeroFirst:
      return res.set_content(std::string(1, '\0') + body, type);
    case Failure::kClose:
      return SendCutShort(res, body.empty() ? ErrorPage(200) : std::move(body), type);
  }
}

}  // namespace mf::demo
