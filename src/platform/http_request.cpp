#include "platform/http_request.h"

#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/request_log.h"
#include "platform/threads.h"

namespace mf::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kNoLimitMs = INT_MAX;
// Larger than libcurl's 16 KiB: fewer rounds through the transfer loop for a big page.
constexpr long kReceiveBufferSize = 256 * 1024;
constexpr char kProxyAuthorization[] = "Proxy-Authorization";

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
  });
}

// Characters that end a header line or a C string on the way to the wire.
bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
    return true;
  }
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

std::string_view TrimSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool IsHttpAddress(const std::string& url) {
  CURLU* parsed = curl_url();
  if (parsed == nullptr) {
    return false;
  }
  char* scheme = nullptr;
  const bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
                  curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                  (std::string_view(scheme) == "http" || std::string_view(scheme) == "https");
  curl_free(scheme);
  curl_url_cleanup(parsed);
  return ok;
}

// "MAGNET_FINDER_KEEP_ALIVE=0" puts every request on a new connection, closed after its answer.
bool KeepAliveWanted() {
  static const bool wanted = [] {
    const char* value = std::getenv("MAGNET_FINDER_KEEP_ALIVE");
    return value == nullptr || std::string_view(value) != "0";
  }();
  return wanted;
}

// The descriptors open in this process, read from /proc/self/fd, each with what it refers to
// ("socket:[4711]", "pipe:[815]", a path): a number closed and opened again refers to something
// else. Empty where it cannot be read. Only names are read, no descriptor is touched, as other
// threads may be closing theirs meanwhile.
std::map<int, std::string> OpenDescriptors() {
  std::map<int, std::string> open;
  DIR* listing = opendir("/proc/self/fd");
  if (listing == nullptr) {
    return open;
  }
  const int own = dirfd(listing);
  while (const dirent* entry = readdir(listing)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == own) {
      continue;
    }
    char target[256];
    const std::string path = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length >= 0) {
      open[static_cast<int>(fd)].assign(target, static_cast<std::size_t>(length));
    }
  }
  closedir(listing);
  return open;
}

void CloseOnExec(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
    fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

// A multi handle whose own descriptors do not pass to programs this process launches. libcurl
// opens a socket pair in curl_multi_init (what curl_multi_wakeup writes to) without close-on-exec
// and gives no way to reach it, so every descriptor that came while the handle was made gets the
// flag. One that another thread opened in that moment gets it too, which is harmless here: this
// program hands a launched program only its standard streams, and dup2 clears the flag on those.
MultiPtr NewMultiClosedOnExec() {
  const auto before = OpenDescriptors();
  MultiPtr multi(curl_multi_init());
  if (!before.empty()) {
    for (const auto& [fd, file] : OpenDescriptors()) {
      const auto was = before.find(fd);
      if (was == before.end() || was->second != file) {
        CloseOnExec(fd);
      }
    }
  }
  return multi;
}

// Every connection's socket is made with close-on-exec, so no kept-alive connection to the site
// lives on in a program that this one launches (xdg-open and what it starts).
curl_socket_t OpenSocketClosedOnExec(void*, curlsocktype, curl_sockaddr* address) {
  return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// Acknowledges what arrives on the transfer's sockets at once instead of up to 40 ms later.
// Linux delays an acknowledgement while the connection looks interactive (the client sent
// soon after it received); on a kept-alive connection a request always follows the last answer
// that way. A server that writes an answer's header and its body in two writes with Nagle's
// algorithm on then holds the body until the header is acknowledged: 40 ms per request. The
// setting lasts only until this side sends again, so it is renewed after every step of the
// transfer, which covers the moment right after the request went out. Also flushes an
// acknowledgement already held back. Sockets that are not TCP refuse it, which does no harm.
void AcknowledgeAtOnce(CURLM* multi) {
  fd_set reading, writing, failing;
  FD_ZERO(&reading);
  FD_ZERO(&writing);
  FD_ZERO(&failing);
  int highest = -1;
  // The sockets the transfer waits on now; libcurl 7.88 names a transfer's socket
  // (CURLINFO_ACTIVESOCKET) only once the transfer has ended.
  if (curl_multi_fdset(multi, &reading, &writing, &failing, &highest) != CURLM_OK) {
    return;
  }
  const int on = 1;
  for (int fd = 0; fd <= highest; ++fd) {
    if (FD_ISSET(fd, &reading) || FD_ISSET(fd, &writing)) {
      setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
  }
}

// The bypass list as libcurl reads it: host names separated by commas.
std::string NoProxyList(std::string_view bypass) {
  std::string list(bypass);
  std::replace_if(
      list.begin(), list.end(), [](char c) { return c == ';' || c == ' ' || c == '\t'; }, ',');
  return list;
}

// Multi handles keep the connections (and resolved names) of the transfers that ran through
// them. A transfer leases one for its route and gives it back when it succeeded, so that
// consecutive requests of a thread, and of threads taking turns, go over kept-alive connections,
// while no two threads ever use one handle at once (libcurl's own sharing of a connection cache
// between threads is not safe). A handle whose transfer failed or was killed is not given back:
// its connections close with it and are never reused.
class ConnectionPool {
 public:
  static ConnectionPool& Instance() {
    static ConnectionPool* const pool = new ConnectionPool;  // threads may outlive main
    return *pool;
  }

  MultiPtr Lease(const std::string& route) {
    {
      std::lock_guard lock(mutex_);
      std::vector<MultiPtr>& idle = idle_[route];
      if (!idle.empty()) {
        MultiPtr multi = std::move(idle.back());
        idle.pop_back();
        return multi;
      }
    }
    return NewMultiClosedOnExec();
  }

  void Clear() {
    std::map<std::string, std::vector<MultiPtr>> idle;
    {
      std::lock_guard lock(mutex_);
      idle.swap(idle_);
    }
  }

  void GiveBack(const std::string& route, MultiPtr multi) {
    std::lock_guard lock(mutex_);
    std::vector<MultiPtr>& idle = idle_[route];
    if (idle.size() < kIdlePerRoute) {
      idle.push_back(std::move(multi));
    }
  }

 private:
  static constexpr std::size_t kIdlePerRoute = 4;
  std::mutex mutex_;
  std::map<std::string, std::vector<MultiPtr>> idle_;
};

long ConnectLimitMs(std::int32_t resolve, std::int32_t connect) {
  if (resolve <= 0 || connect <= 0) {
    return kNoLimitMs;
  }
  return std::min<long>(kNoLimitMs, long{resolve} + long{connect});
}

}  // namespace

// One run of the request over an easy handle, driven through its own multi handle so that a
// kill can wake the wait on the socket at once.
class HttpRequest::Transfer {
 public:
  Transfer(const HttpRequest& request, std::string_view body)
      : request_(request),
        body_(body),
        route_(Route()),
        easy_(curl_easy_init()),
        multi_(ConnectionPool::Instance().Lease(route_)) {}

  ~Transfer() {
    if (added_) {
      curl_multi_remove_handle(multi_.get(), easy_.get());
    }
    if (multi_ != nullptr && failure == Failure::kNone) {
      ConnectionPool::Instance().GiveBack(route_, std::move(multi_));
    }
  }

  // True when a complete response arrived; its parts are then in the public fields.
  bool Run() { return Configure() && Drive() && CollectStatus(); }

  Failure failure = Failure::kOther;
  int status = 0;
  int newConnections = 0;
  std::string statusText;
  // libcurl's own words about a failure; empty when it had none.
  std::string Detail() const { return errorBuffer_; }
  std::vector<Header> headers;
  std::string responseBody;

 private:
  template <typename Value>
  bool Set(CURLoption option, Value value) {
    return curl_easy_setopt(easy_.get(), option, value) == CURLE_OK;
  }

  bool Configure() {
    if (easy_ == nullptr || multi_ == nullptr) {
      return false;
    }
    if (!(ConfigureMethod() && ConfigureHeaders() && ConfigureConnection() &&
          ConfigureCallbacks())) {
      return false;
    }
    added_ = curl_multi_add_handle(multi_.get(), easy_.get()) == CURLM_OK;
    return added_;
  }

  bool ConfigureMethod() {
    const std::string& method = request_.method_;
    bool ok = Set(CURLOPT_URL, request_.url_.c_str());
    if (method == "HEAD") {
      return ok && Set(CURLOPT_NOBODY, 1L);
    }
    if (method == "GET" && body_.empty()) {
      return ok && Set(CURLOPT_HTTPGET, 1L);
    }
    if (method == "POST" || !body_.empty()) {
      ok = ok && Set(CURLOPT_POSTFIELDS, body_.data()) &&
           Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    }
    return ok && (method == "POST" || Set(CURLOPT_CUSTOMREQUEST, method.c_str()));
  }

  // The caller's headers go to the server, except the proxy credential, which goes to the
  // proxy only. libcurl's own Accept, Content-Type and Expect are left out unless given, so
  // the request carries the headers it was given.
  bool ConfigureHeaders() {
    for (const auto& [name, value] : request_.headers_) {
      std::string line = name + ": " + value;
      if (EqualsIgnoringCase(name, kProxyAuthorization)) {
        proxyHeaders_.reset(curl_slist_append(proxyHeaders_.release(), line.c_str()));
      } else {
        serverHeaders_.reset(curl_slist_append(serverHeaders_.release(), line.c_str()));
      }
    }
    for (const char* name : {"Accept", "Content-Type", "Expect"}) {
      if (!HasHeader(name)) {
        serverHeaders_.reset(
            curl_slist_append(serverHeaders_.release(), (std::string(name) + ":").c_str()));
      }
    }
    return Set(CURLOPT_HEADEROPT, CURLHEADER_SEPARATE) &&
           Set(CURLOPT_HTTPHEADER, serverHeaders_.get()) &&
           Set(CURLOPT_PROXYHEADER, proxyHeaders_.get()) &&
           Set(CURLOPT_USERAGENT, request_.userAgent_.c_str());
  }

  // What a connection must have in common for a request to go over it, beyond the scheme, host
  // and port that libcurl checks itself: the proxy, and the credential sent to it, which libcurl
  // does not see in a header of ours.
  std::string Route() const {
    std::string route = std::to_string(request_.proxySetting_) + "\n" + request_.proxyServer_ +
                        "\n" + request_.proxyBypass_;
    for (const auto& [name, value] : request_.headers_) {
      if (EqualsIgnoringCase(name, kProxyAuthorization)) {
        route += "\n" + value;
      }
    }
    return route;
  }

  bool HasHeader(std::string_view name) const {
    return std::any_of(
        request_.headers_.begin(), request_.headers_.end(),
        [&](const Header& header) { return EqualsIgnoringCase(header.first, name); });
  }

  bool ConfigureConnection() {
    const bool ignoreCertificates =
        (request_.sslIgnoreFlags_ & SslErrorIgnoreAll) == SslErrorIgnoreAll;
    bool ok = Set(CURLOPT_NOSIGNAL, 1L) &&
              Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
              Set(CURLOPT_PROTOCOLS_STR, "http,https") &&
              Set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
              Set(CURLOPT_FOLLOWLOCATION, request_.followRedirects_ ? 1L : 0L) &&
              Set(CURLOPT_MAXREDIRS, static_cast<long>(request_.maxRedirects_)) &&
              Set(CURLOPT_SSL_VERIFYPEER, ignoreCertificates ? 0L : 1L) &&
              Set(CURLOPT_SSL_VERIFYHOST, ignoreCertificates ? 0L : 2L) &&
              Set(CURLOPT_CONNECTTIMEOUT_MS,
                  ConnectLimitMs(request_.resolveTimeout_, request_.connectTimeout_)) &&
              Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxResponseBody)) &&
              Set(CURLOPT_BUFFERSIZE, kReceiveBufferSize) &&
              Set(CURLOPT_OPENSOCKETFUNCTION, &OpenSocketClosedOnExec);
    if (!KeepAliveWanted()) {
      ok = ok && Set(CURLOPT_FRESH_CONNECT, 1L) && Set(CURLOPT_FORBID_REUSE, 1L);
    }
    if (request_.proxySetting_ == HTTPREQUEST_PROXYSETTING_DIRECT) {
      ok = ok && Set(CURLOPT_PROXY, "");
    } else if (request_.proxySetting_ == HTTPREQUEST_PROXYSETTING_PROXY) {
      noProxy_ = NoProxyList(request_.proxyBypass_);
      ok = ok && Set(CURLOPT_PROXY, request_.proxyServer_.c_str()) &&
           Set(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP)) &&
           Set(CURLOPT_NOPROXY, noProxy_.c_str());
      if (!request_.proxyUser_.empty()) {
        ok = ok && Set(CURLOPT_PROXYUSERNAME, request_.proxyUser_.c_str()) &&
             Set(CURLOPT_PROXYPASSWORD, request_.proxyPassword_.c_str()) &&
             Set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
      }
    }
    return ok;
  }

  bool ConfigureCallbacks() {
    return Set(CURLOPT_ERRORBUFFER, errorBuffer_) &&
           Set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody) && Set(CURLOPT_WRITEDATA, this) &&
           Set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader) && Set(CURLOPT_HEADERDATA, this) &&
           Set(CURLOPT_NOPROGRESS, 0L) && Set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress) &&
           Set(CURLOPT_XFERINFODATA, this) && Set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected) &&
           Set(CURLOPT_PREREQDATA, this);
  }

  bool Drive() {
    if (IsThisThreadKilled()) {
      failure = Failure::kKilled;
      return false;
    }
    CURLM* multi = multi_.get();
    KillWakeup wakeup([multi] { curl_multi_wakeup(multi); });
    int running = 1;
    while (!IsThisThreadKilled()) {
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        return false;
      }
      if (running == 0) {
        return Succeeded();
      }
      AcknowledgeAtOnce(multi);
      const auto now = Clock::now();
      if (Stalled(now)) {
        failure = Failure::kTimedOut;
        return false;
      }
      if (curl_multi_poll(multi, nullptr, 0, PollMs(now), nullptr) != CURLM_OK) {
        return false;
      }
    }
    failure = Failure::kKilled;
    return false;
  }

  bool Succeeded() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
      if (message->msg == CURLMSG_DONE) {
        failure = FailureOf(message->data.result);
        return message->data.result == CURLE_OK;
      }
    }
    return false;
  }

  static Failure FailureOf(CURLcode code) {
    switch (code) {
      case CURLE_OK:
        return Failure::kNone;
      case CURLE_COULDNT_RESOLVE_HOST:
        return Failure::kNameNotResolved;
      case CURLE_COULDNT_CONNECT:
      case CURLE_COULDNT_RESOLVE_PROXY:
        return Failure::kCannotConnect;
      case CURLE_OPERATION_TIMEDOUT:
        return Failure::kTimedOut;
      case CURLE_WRITE_ERROR:  // only the body cap refuses data
      case CURLE_FILESIZE_EXCEEDED:
        return Failure::kTooLarge;
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_SSL_CERTPROBLEM:
      case CURLE_SSL_CACERT_BADFILE:
        return Failure::kSecure;
      case CURLE_TOO_MANY_REDIRECTS:
        return Failure::kRedirects;
      case CURLE_ABORTED_BY_CALLBACK:
        return Failure::kKilled;
      default:
        return Failure::kOther;
    }
  }

  bool CollectStatus() {
    long code = 0;
    long connects = 0;
    curl_easy_getinfo(easy_.get(), CURLINFO_NUM_CONNECTS, &connects);
    newConnections = static_cast<int>(connects);
    curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &code);
    status = static_cast<int>(code);
    return status > 0;
  }

  // Send and receive time-outs bound a stretch that brings fewer than kProgressFloor bytes: one
  // without any progress, and one that only trickles. Before the connection is ready only the
  // connect limit applies.
  static constexpr std::uint64_t kProgressFloor = 1024;

  Clock::duration StallLimit() const {
    const std::int32_t ms = requestSent_ ? request_.receiveTimeout_ : request_.sendTimeout_;
    return ms > 0 ? Clock::duration(std::chrono::milliseconds(ms)) : Clock::duration::max();
  }

  bool Stalled(Clock::time_point now) const {
    const auto limit = StallLimit();
    return connected_ && limit != Clock::duration::max() && now - ShortOfFloorSince() >= limit;
  }

  int PollMs(Clock::time_point now) const {
    constexpr auto kLongest = std::chrono::milliseconds(1000);
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kLongest);
    const auto limit = StallLimit();
    if (connected_ && limit != Clock::duration::max()) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(ShortOfFloorSince() + limit - now);
      wait = std::clamp(left, std::chrono::milliseconds(1), wait);
    }
    return static_cast<int>(wait.count());
  }

  // Bytes in (header lines and body) and out (body), with the moment they went.
  void Progress(std::uint64_t bytes) {
    if (bytes == 0) {
      return;
    }
    progressBytes_ += bytes;
    marks_.push_back({Clock::now(), progressBytes_});
    // A mark a whole floor behind the latest starts no short stretch any more.
    while (marks_.front().total + kProgressFloor <= progressBytes_) {
      marks_.pop_front();
    }
  }

  // The earliest moment since which fewer than kProgressFloor bytes have gone.
  Clock::time_point ShortOfFloorSince() const { return marks_.front().at; }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    if (length > kMaxResponseBody - transfer.responseBody.size()) {
      return 0;  // fails the transfer with a write error
    }
    transfer.responseBody.append(data, length);
    transfer.Progress(length);
    return length;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<Transfer*>(self);
    const std::size_t length = size * count;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
      line.remove_suffix(1);
    }
    transfer.AddHeaderLine(line);
    transfer.Progress(length);
    return length;
  }

  // Each status line starts a new response (a redirect, an interim 100, the proxy's answer to
  // CONNECT), so only the final response's headers are kept.
  void AddHeaderLine(std::string_view line) {
    if (line.starts_with("HTTP/")) {
      headers.clear();
      responseBody.clear();
      const auto code = line.find(' ');
      const auto reason = code == std::string_view::npos ? code : line.find(' ', code + 1);
      statusText = reason == std::string_view::npos ? "" : std::string(line.substr(reason + 1));
      return;
    }
    if (line.empty()) {
      ReserveForBody();
      return;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !headers.empty()) {
      headers.back().second += ' ';
      headers.back().second += TrimSpaces(line);
      return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
      return;
    }
    headers.emplace_back(TrimSpaces(line.substr(0, colon)), TrimSpaces(line.substr(colon + 1)));
  }

  // Growing a large body step by step costs more than the transfer itself on loopback.
  void ReserveForBody() {
    if (request_.method_ == "HEAD") {
      return;
    }
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0 && static_cast<std::size_t>(length) <= kMaxResponseBody) {
      responseBody.reserve(static_cast<std::size_t>(length));
    }
  }

  // Bytes in are counted where they arrive, in OnHeader and OnBody.
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t toUpload,
                        curl_off_t uploaded) {
    auto& transfer = *static_cast<Transfer*>(self);
    if (uploaded != transfer.uploaded_) {  // smaller on the next hop of a redirect
      transfer.Progress(
          static_cast<std::uint64_t>(std::max<curl_off_t>(0, uploaded - transfer.uploaded_)));
      transfer.uploaded_ = uploaded;
    }
    transfer.requestSent_ = uploaded >= toUpload;
    return IsThisThreadKilled() ? 1 : 0;
  }

  static int OnConnected(void* self, char*, char*, int, int) {
    auto& transfer = *static_cast<Transfer*>(self);
    transfer.connected_ = true;
    transfer.requestSent_ = transfer.body_.empty();
    transfer.marks_.assign(1, {Clock::now(), transfer.progressBytes_});
    return CURL_PREREQFUNC_OK;
  }

  const HttpRequest& request_;
  std::string body_;
  std::string route_;
  std::string noProxy_;
  EasyPtr easy_;
  MultiPtr multi_;
  SlistPtr serverHeaders_;
  SlistPtr proxyHeaders_;
  bool added_ = false;
  bool connected_ = false;
  bool requestSent_ = false;
  struct Mark {
    Clock::time_point at;
    std::uint64_t total;  // progress bytes so far
  };
  // From the first mark that is less than a floor behind the latest; never empty.
  std::deque<Mark> marks_{{Clock::now(), 0}};
  std::uint64_t progressBytes_ = 0;
  curl_off_t uploaded_ = 0;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

void CloseIdleConnections() {
  ConnectionPool::Instance().Clear();
}

HttpRequest::HttpRequest() {
  InitCurlOnce();
}

HttpRequest::~HttpRequest() = default;

bool HttpRequest::SetTimeouts(std::int32_t resolve, std::int32_t connect, std::int32_t send,
                              std::int32_t receive) {
  resolveTimeout_ = resolve;
  connectTimeout_ = connect;
  sendTimeout_ = send;
  receiveTimeout_ = receive;
  return true;
}

bool HttpRequest::SetProxy(int setting, std::string_view server, std::string_view bypass) {
  if (setting == HTTPREQUEST_PROXYSETTING_PROXY &&
      (server.empty() || HoldsLineBreak(server) || HoldsLineBreak(bypass))) {
    return false;
  }
  if (setting < HTTPREQUEST_PROXYSETTING_PRECONFIG || setting > HTTPREQUEST_PROXYSETTING_PROXY) {
    return false;
  }
  proxySetting_ = setting;
  proxyServer_ = setting == HTTPREQUEST_PROXYSETTING_PROXY ? std::string(server) : std::string();
  proxyBypass_ = setting == HTTPREQUEST_PROXYSETTING_PROXY ? std::string(bypass) : std::string();
  return true;
}

bool HttpRequest::SetCredentials(std::string_view user, std::string_view password, int flags) {
  if (flags != HTTPREQUEST_SETCREDENTIALS_FOR_PROXY || HoldsLineBreak(user) ||
      HoldsLineBreak(password)) {
    return false;
  }
  proxyUser_ = std::string(user);
  proxyPassword_ = std::string(password);
  return true;
}

bool HttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
  if (!IsToken(name) || HoldsLineBreak(value)) {
    return false;
  }
  PutHeader(headers_, name, TrimSpaces(value));
  return true;
}

void HttpRequest::PutHeader(std::vector<Header>& headers, std::string_view name,
                            std::string_view value) {
  // Only a header of exactly this name is replaced: a caller that gives "accept" and "Accept"
  // means two lines, and both go out.
  auto same = std::find_if(headers.begin(), headers.end(),
                           [&](const Header& header) { return header.first == name; });
  if (value.empty()) {
    if (same != headers.end()) {
      headers.erase(same);
    }
  } else if (same != headers.end()) {
    same->second = value;
  } else {
    headers.emplace_back(name, value);
  }
}

bool HttpRequest::Open(std::string_view method, std::string_view url, bool async) {
  ClearResponse();
  opened_ = false;
  if (async || !IsToken(method) || HoldsLineBreak(url)) {
    return false;
  }
  std::string address(url);
  if (!IsHttpAddress(address)) {
    return false;
  }
  method_ = method;
  url_ = std::move(address);
  opened_ = true;
  return true;
}

bool HttpRequest::GetOption(int index, OptionValue* value) const {
  if (value == nullptr) {
    return false;
  }
  switch (index) {
    case WinHttpRequestOption_UserAgentString:
      *value = userAgent_;
      return true;
    case WinHttpRequestOption_URL:
      *value = url_;
      return true;
    case WinHttpRequestOption_SslErrorIgnoreFlags:
      *value = sslIgnoreFlags_;
      return true;
    case WinHttpRequestOption_EnableRedirects:
      *value = followRedirects_;
      return true;
    case WinHttpRequestOption_MaxAutomaticRedirects:
      *value = maxRedirects_;
      return true;
    default:
      return false;
  }
}

bool HttpRequest::SetOption(int index, const OptionValue& value) {
  const auto* number = std::get_if<std::int32_t>(&value);
  const auto* flag = std::get_if<bool>(&value);
  const auto* text = std::get_if<std::string>(&value);
  switch (index) {
    case WinHttpRequestOption_UserAgentString:
      if (text == nullptr || HoldsLineBreak(*text)) {
        return false;
      }
      userAgent_ = *text;
      return true;
    case WinHttpRequestOption_SslErrorIgnoreFlags:
      if (number == nullptr) {
        return false;
      }
      sslIgnoreFlags_ = *number;
      return true;
    case WinHttpRequestOption_EnableRedirects:
      if (number == nullptr && flag == nullptr) {
        return false;
      }
      followRedirects_ = flag != nullptr ? *flag : *number != 0;
      return true;
    case WinHttpRequestOption_MaxAutomaticRedirects:
      if (number == nullptr || *number < 0) {
        return false;
      }
      maxRedirects_ = *number;
      return true;
    default:
      return false;
  }
}

bool HttpRequest::Send(std::string_view body) {
  const auto start = Clock::now();
  std::string detail;
  const bool ok = Perform(body, detail);
  RecordRequestOutcome({method_, url_, failure_, status_, std::move(detail),
                        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start),
                        newConnections_});
  return ok;
}

bool HttpRequest::Perform(std::string_view body, std::string& detail) {
  ClearResponse();
  if (!opened_) {
    failure_ = Failure::kNotOpened;
    return false;
  }
  if (IsThisThreadKilled()) {
    failure_ = Failure::kKilled;
    return false;
  }
  Transfer transfer(*this, body);
  const bool ok = transfer.Run();
  headers_.clear();
  if (!ok) {
    failure_ = transfer.failure == Failure::kNone ? Failure::kOther : transfer.failure;
    detail = transfer.Detail();
    return false;
  }
  failure_ = Failure::kNone;
  status_ = transfer.status;
  newConnections_ = transfer.newConnections;
  statusText_ = std::move(transfer.statusText);
  responseHeaders_ = std::move(transfer.headers);
  body_ = std::move(transfer.responseBody);
  return true;
}

std::string HttpRequest::GetAllResponseHeaders() const {
  std::string block;
  for (const auto& [name, value] : responseHeaders_) {
    block += name;
    block += ": ";
    block += value;
    block += "\r\n";
  }
  return block;
}

std::u16string HttpRequest::ResponseText() const {
  if (body_.empty()) {
    return {};
  }
  const int length = static_cast<int>(body_.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, body_.data(), length, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(units), u'\0');
  if (units == 0 ||
      MultiByteToWideChar(CP_UTF8, 0, body_.data(), length, text.data(), units) != units) {
    return {};
  }
  return text;
}

void HttpRequest::ClearResponse() {
  failure_ = Failure::kNotSent;
  newConnections_ = 0;
  status_ = 0;
  statusText_.clear();
  responseHeaders_.clear();
  body_.clear();
}

}  // namespace mf::platform
