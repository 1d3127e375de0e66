#include "platform/http_request.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "hostile_server.h"
#include "loopback_server.h"
#include "platform/request_log.h"
#include "platform/threads.h"
#include "tiny_proxy.h"

extern char** environ;

namespace mf::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using test::Gate;
using test::LocalServer;
using test::TinyProxy;
using test::WaitUntil;

long Microseconds(Clock::duration span) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(span).count());
}

constexpr std::size_t kDribbleSize = 15 * 512;

void AddRoutes(LocalServer& local) {
  httplib::Server& server = local.server();
  server.Get(R"(/status/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
    response.status = std::stoi(request.matches[1]);
    response.set_header("X-Test", "yes");
    response.set_content("status " + request.matches[1].str(), "text/plain");
  });
  auto echo = [&local](const httplib::Request& request, httplib::Response& response) {
    local.SeeBody(request.body);
    response.set_header("X-Method", request.method);
    response.set_content(request.body, "application/octet-stream");
  };
  server.Get("/echo", echo);
  server.Post("/echo", echo);
  server.Put("/echo", echo);
  server.Get(R"(/redirect/(\d+))",
             [](const httplib::Request& request, httplib::Response& response) {
               const int left = std::stoi(request.matches[1]);
               if (left == 0) {
                 response.set_content("arrived", "text/plain");
                 return;
               }
               response.set_header("X-Hop", std::to_string(left));
               response.set_redirect("/redirect/" + std::to_string(left - 1));
             });
  server.Get("/stall",
             [&local](const httplib::Request&, httplib::Response&) { local.gate().Wait(); });
  server.Get("/stall-in-body", [&local](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [&local](size_t, httplib::DataSink& sink) {
      sink.write("partial", 7);
      local.gate().Wait();
      sink.done();
      return true;
    });
  });
  server.Get("/dribble", [](const httplib::Request&, httplib::Response& response) {
    // Steady progress, above 1 KiB a second, that lasts longer than the receive time-out in total.
    response.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
      if (offset >= kDribbleSize) {
        sink.done();
        return true;
      }
      std::this_thread::sleep_for(100ms);
      sink.write(std::string(kDribbleSize / 15, 'x').data(), kDribbleSize / 15);
      return true;
    });
  });
  server.Get(R"(/big/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
    const std::size_t total = std::stoull(request.matches[1]);
    const bool sized = request.has_param("sized");
    auto provide = [total, sized](size_t offset, httplib::DataSink& sink) {
      static const std::string block(1 << 20, 'z');
      const std::size_t length = std::min(block.size(), total - offset);
      sink.write(block.data(), length);
      if (!sized && offset + length == total) {
        sink.done();
      }
      return true;
    };
    if (sized) {
      response.set_content_provider(total, "application/octet-stream",
                                    [provide](size_t offset, size_t, httplib::DataSink& sink) {
                                      return provide(offset, sink);
                                    });
    } else {
      response.set_chunked_content_provider("application/octet-stream", provide);
    }
  });
  server.Get("/utf8", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("磁力 ok", "text/plain; charset=utf-8");
  });
}

class HttpRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRoutes(local_);
    local_.Start();
    request_.SetTimeouts(5000, 5000, 5000, 5000);
  }
  void TearDown() override { local_.Stop(); }

  bool Fetch(const std::string& path, const std::string& method = "GET",
             std::string_view body = {}) {
    return request_.Open(method, local_.Url(path)) && request_.Send(body);
  }

  LocalServer local_{std::make_unique<httplib::Server>()};
  HttpRequest request_;
};

TEST_F(HttpRequestTest, ErrorStatusesComeBackWithTheirBodyAndHeaders) {
  ASSERT_TRUE(Fetch("/status/404"));
  EXPECT_EQ(request_.Status(), 404);
  EXPECT_EQ(request_.StatusText(), "Not Found");
  EXPECT_EQ(request_.ResponseBody(), "status 404");
  const std::string headers = request_.GetAllResponseHeaders();
  EXPECT_NE(headers.find("X-Test: yes\r\n"), std::string::npos);
  EXPECT_NE(headers.find("Content-Length: 10\r\n"), std::string::npos);
  EXPECT_EQ(headers.find("HTTP/"), std::string::npos);
  EXPECT_TRUE(headers.ends_with("\r\n"));
  EXPECT_EQ(headers.find("\r\n\r\n"), std::string::npos);

  ASSERT_TRUE(Fetch("/status/500"));
  EXPECT_EQ(request_.Status(), 500);
  EXPECT_EQ(request_.ResponseBody(), "status 500");
}

TEST_F(HttpRequestTest, HeadFillsStatusAndHeadersButNoBody) {
  ASSERT_TRUE(Fetch("/status/200", "HEAD"));
  EXPECT_EQ(request_.Status(), 200);
  EXPECT_EQ(local_.Seen().method, "HEAD");
  EXPECT_TRUE(request_.ResponseBody().empty());
  EXPECT_NE(request_.GetAllResponseHeaders().find("X-Test: yes\r\n"), std::string::npos);
}

TEST_F(HttpRequestTest, BodiesGoOutAsGivenWithTheirMethod) {
  const std::string bytes("a\0b\xff\r\nc", 7);
  ASSERT_TRUE(Fetch("/echo", "POST", bytes));
  EXPECT_EQ(request_.ResponseBody(), bytes);
  EXPECT_EQ(local_.Seen().method, "POST");
  // No content type is invented for a body.
  EXPECT_FALSE(local_.Seen().headers.count("Content-Type"));

  request_.SetRequestHeader("Content-Type", "application/x-www-form-urlencoded");
  ASSERT_TRUE(Fetch("/echo", "POST", "k=%E4%B8%AD"));
  EXPECT_EQ(local_.Seen().body, "k=%E4%B8%AD");
  EXPECT_EQ(httplib::detail::get_header_value(local_.Seen().headers, "Content-Type", 0, ""),
            std::string("application/x-www-form-urlencoded"));

  // The test server does not read the body of a GET; its length shows that it was sent.
  ASSERT_TRUE(Fetch("/echo", "GET", "body on a get"));
  EXPECT_EQ(local_.Seen().method, "GET");
  EXPECT_EQ(httplib::detail::get_header_value(local_.Seen().headers, "Content-Length", 0, ""),
            std::string("13"));

  ASSERT_TRUE(Fetch("/echo", "PUT", "put"));
  EXPECT_EQ(request_.ResponseBody(), "put");

  ASSERT_TRUE(Fetch("/echo", "POST"));
  EXPECT_EQ(local_.Seen().method, "POST");
  EXPECT_TRUE(request_.ResponseBody().empty());
  EXPECT_EQ(request_.Status(), 200);
}

TEST_F(HttpRequestTest, HeadersGivenBeforeOpenAreSentAndUsedUpBySend) {
  EXPECT_TRUE(request_.SetRequestHeader("X-Early", "before open"));
  ASSERT_TRUE(request_.Open("GET", local_.Url("/echo")));
  EXPECT_TRUE(request_.SetRequestHeader("X-Late", "first"));
  EXPECT_TRUE(request_.SetRequestHeader("X-Late", "second"));
  EXPECT_TRUE(request_.SetRequestHeader("x-other", "lower"));
  EXPECT_TRUE(request_.SetRequestHeader("X-Other", "upper"));
  EXPECT_TRUE(request_.SetRequestHeader("X-Gone", "soon"));
  EXPECT_TRUE(request_.SetRequestHeader("X-Gone", ""));
  EXPECT_TRUE(request_.SetRequestHeader("User-Agent", "Mozilla/4.0 (compatible; MSIE 9.0)"));
  ASSERT_TRUE(request_.Send());
  httplib::Headers seen = local_.Seen().headers;
  EXPECT_EQ(seen.count("X-Early"), 1u);
  EXPECT_EQ(seen.count("X-Late"), 1u);
  EXPECT_EQ(httplib::detail::get_header_value(seen, "X-Late", 0, ""), std::string("second"));
  EXPECT_EQ(seen.count("X-Other"), 2u);  // names in another case are lines of their own
  EXPECT_EQ(seen.count("X-Gone"), 0u);
  EXPECT_EQ(seen.count("Accept"), 0u);
  EXPECT_EQ(httplib::detail::get_header_value(seen, "User-Agent", 0, ""),
            std::string("Mozilla/4.0 (compatible; MSIE 9.0)"));

  ASSERT_TRUE(Fetch("/echo"));
  seen = local_.Seen().headers;
  EXPECT_EQ(seen.count("X-Early") + seen.count("X-Late"), 0u);
}

TEST_F(HttpRequestTest, HeadersWithLineBreaksAreRefusedAndNeverReachTheWire) {
  EXPECT_FALSE(request_.SetRequestHeader("X-Bad", "a\r\nX-Injected: 1"));
  EXPECT_FALSE(request_.SetRequestHeader("X-Bad", "a\nX-Injected: 1"));
  EXPECT_FALSE(request_.SetRequestHeader("X-Bad", std::string_view("a\0b", 3)));
  EXPECT_FALSE(request_.SetRequestHeader("X-Injected: 1\r\nX-Bad", "a"));
  EXPECT_FALSE(request_.SetRequestHeader("", "a"));
  EXPECT_FALSE(request_.SetOption(WinHttpRequestOption_UserAgentString,
                                  std::string("agent\r\nX-Injected: 1")));
  EXPECT_FALSE(request_.Open("GET", local_.Url("/echo\r\nX-Injected: 1")));
  EXPECT_FALSE(request_.Open("GE T", local_.Url("/echo")));
  ASSERT_TRUE(Fetch("/echo"));
  const httplib::Headers seen = local_.Seen().headers;
  EXPECT_EQ(seen.count("X-Injected"), 0u);
  EXPECT_EQ(seen.count("X-Bad"), 0u);
}

TEST_F(HttpRequestTest, RedirectsAreFollowedUnlessSwitchedOff) {
  ASSERT_TRUE(Fetch("/redirect/3"));
  EXPECT_EQ(request_.Status(), 200);
  EXPECT_EQ(request_.ResponseBody(), "arrived");
  // Only the final response's headers are reported.
  EXPECT_EQ(request_.GetAllResponseHeaders().find("X-Hop"), std::string::npos);
  EXPECT_EQ(request_.GetAllResponseHeaders().find("Location"), std::string::npos);

  ASSERT_TRUE(request_.Open("GET", local_.Url("/redirect/3")));
  ASSERT_TRUE(request_.SetOption(WinHttpRequestOption_EnableRedirects, std::int32_t{0}));
  ASSERT_TRUE(request_.Send());
  EXPECT_EQ(request_.Status(), 302);
  EXPECT_NE(request_.GetAllResponseHeaders().find("Location: /redirect/2\r\n"), std::string::npos);
}

TEST_F(HttpRequestTest, MoreThanTenRedirectsFailTheRequest) {
  ASSERT_TRUE(Fetch("/redirect/10"));
  EXPECT_EQ(request_.ResponseBody(), "arrived");
  EXPECT_FALSE(Fetch("/redirect/11"));
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kRedirects);
  EXPECT_EQ(request_.Status(), 0);
  EXPECT_TRUE(request_.ResponseBody().empty());
  EXPECT_TRUE(request_.GetAllResponseHeaders().empty());
}

TEST_F(HttpRequestTest, AStalledServerEndsTheRequestAfterTheReceiveTimeout) {
  request_.SetTimeouts(1000, 1000, 1000, 1000);
  for (const char* path : {"/stall", "/stall-in-body"}) {
    const auto start = Clock::now();
    EXPECT_FALSE(Fetch(path)) << path;
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 900ms) << path;
    EXPECT_LT(took, 5s) << path;
    EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kTimedOut);
    EXPECT_EQ(request_.Status(), 0);
    EXPECT_TRUE(request_.ResponseBody().empty());
    EXPECT_TRUE(request_.GetAllResponseHeaders().empty());
  }
}

TEST_F(HttpRequestTest, AServerThatTakesNoBodyEndsTheRequestAfterTheSendTimeout) {
  // Connections wait in the listen queue and nothing reads them, so a large body stalls once
  // the socket buffers are full. Only the send time-out is short.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";

  request_.SetTimeouts(5000, 5000, 1000, 30000);
  const auto start = Clock::now();
  EXPECT_TRUE(request_.Open("POST", url));
  EXPECT_FALSE(request_.Send(std::string(std::size_t{16} << 20, 'b')));
  const auto took = Clock::now() - start;
  close(listener);
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kTimedOut);
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 10s);
}

TEST_F(HttpRequestTest, TheReceiveTimeoutDoesNotCapASteadyTransfer) {
  request_.SetTimeouts(1000, 1000, 1000, 1000);
  const auto start = Clock::now();
  ASSERT_TRUE(Fetch("/dribble"));
  EXPECT_GT(Clock::now() - start, 1s);
  EXPECT_EQ(request_.ResponseBody(), std::string(kDribbleSize, 'x'));
}

TEST_F(HttpRequestTest, NoResponseMeansStatusZeroAndNothingElse) {
  const std::string closedPort = "http://127.0.0.1:1/";
  ASSERT_TRUE(request_.Open("GET", closedPort));
  EXPECT_FALSE(request_.Send());
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kCannotConnect);
  EXPECT_EQ(request_.Status(), 0);
  EXPECT_TRUE(request_.StatusText().empty());
  EXPECT_TRUE(request_.ResponseBody().empty());

  EXPECT_FALSE(request_.Open("GET", "ftp://127.0.0.1/"));
  EXPECT_FALSE(request_.Open("GET", "not an address"));
  EXPECT_FALSE(request_.Open("GET", local_.Url("/echo"), true));
  EXPECT_FALSE(request_.Send());
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kNotOpened);
}

TEST_F(HttpRequestTest, ResponsesAboveTheCapFailInsteadOfFillingMemory) {
  const std::string cap = std::to_string(HttpRequest::kMaxResponseBody);
  const std::string over = std::to_string(HttpRequest::kMaxResponseBody + 1);
  ASSERT_TRUE(Fetch("/big/" + cap + "?sized=1"));
  EXPECT_EQ(request_.ResponseBody().size(), HttpRequest::kMaxResponseBody);
  EXPECT_FALSE(Fetch("/big/" + over));
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kTooLarge);
  EXPECT_TRUE(request_.ResponseBody().empty());
  EXPECT_EQ(request_.Status(), 0);
  EXPECT_FALSE(Fetch("/big/" + over + "?sized=1"));
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kTooLarge);
  EXPECT_TRUE(request_.ResponseBody().empty());
}

TEST_F(HttpRequestTest, ResponseTextDecodesUtf8) {
  ASSERT_TRUE(Fetch("/utf8"));
  EXPECT_EQ(request_.ResponseText(), u"磁力 ok");
}

TEST_F(HttpRequestTest, OptionsReadBackWhatWasWritten) {
  HttpRequest::OptionValue value;
  ASSERT_TRUE(request_.GetOption(WinHttpRequestOption_EnableRedirects, &value));
  EXPECT_EQ(value, HttpRequest::OptionValue(true));
  EXPECT_TRUE(request_.SetOption(WinHttpRequestOption_SslErrorIgnoreFlags, SslErrorIgnoreAll));
  ASSERT_TRUE(request_.GetOption(WinHttpRequestOption_SslErrorIgnoreFlags, &value));
  EXPECT_EQ(value, HttpRequest::OptionValue(std::int32_t{0x3300}));
  ASSERT_TRUE(request_.Open("GET", local_.Url("/echo")));
  ASSERT_TRUE(request_.GetOption(WinHttpRequestOption_URL, &value));
  EXPECT_EQ(value, HttpRequest::OptionValue(local_.Url("/echo")));
  EXPECT_FALSE(request_.SetOption(WinHttpRequestOption_URL, std::string("http://x/")));
  EXPECT_FALSE(request_.SetOption(WinHttpRequestOption_EnableRedirects, std::string("no")));
  EXPECT_FALSE(request_.GetOption(99, &value));

  ASSERT_TRUE(request_.SetOption(WinHttpRequestOption_UserAgentString, std::string("agent/1")));
  ASSERT_TRUE(request_.Send());
  EXPECT_EQ(httplib::detail::get_header_value(local_.Seen().headers, "User-Agent", 0, ""),
            std::string("agent/1"));
}

// Runs one request on a thread started by CreateThread, so that the test can kill it.
struct KillableFetch {
  std::string url;
  std::atomic<bool> mayStart{true};
  std::atomic<bool> sent{false};
  std::atomic<bool> result{true};
  std::atomic<HttpRequest::Failure> failure{HttpRequest::Failure::kNone};
  Clock::time_point returnedAt;

  static std::uint32_t Run(void* parameter) {
    auto& self = *static_cast<KillableFetch*>(parameter);
    while (!self.mayStart) {
      std::this_thread::yield();
    }
    HttpRequest request;
    request.SetTimeouts(30000, 30000, 30000, 30000);
    const bool ok = request.Open("GET", self.url) && request.Send();
    self.returnedAt = Clock::now();
    self.failure = request.LastFailure();
    self.result = ok;
    self.sent = true;
    return 0;
  }
};

// Consecutive requests go over one kept-alive connection, also from another thread and a new
// request object; a killed transfer's connection is closed, and the next request opens another.
TEST_F(HttpRequestTest, RequestsShareAConnectionUntilOneIsKilled) {
  local_.server().set_keep_alive_max_count(100);
  for (int i = 0; i < 3; ++i) {
    HttpRequest request;
    ASSERT_TRUE(request.Open("GET", local_.Url("/echo")) && request.Send());
    EXPECT_EQ(LastRequestOutcome().newConnections, i == 0 ? 1 : 0);
  }
  std::thread([this] {
    HttpRequest request;
    EXPECT_TRUE(request.Open("GET", local_.Url("/status/200")) && request.Send());
  }).join();
  EXPECT_EQ(local_.Seen().connections, 1);

  KillableFetch fetch;
  fetch.url = local_.Url("/stall");
  const ThreadHandle handle = CreateThread(&KillableFetch::Run, &fetch, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return local_.gate().Entered(); }));
  ASSERT_TRUE(TerminateThread(handle, STILL_ACTIVE));
  ASSERT_TRUE(WaitUntil([&] { return fetch.sent.load(); }));
  CloseHandle(handle);
  EXPECT_EQ(local_.Seen().connections, 1);  // the stalled request went over the kept one
  ASSERT_TRUE(Fetch("/echo"));
  EXPECT_EQ(LastRequestOutcome().newConnections, 1);
  EXPECT_EQ(local_.Seen().connections, 2);
  CloseIdleConnections();  // or the server's Stop waits for them
}

// cpp-httplib, like Python's http.server, writes an answer's header and its body in two writes,
// and here Nagle's algorithm is on: the body waits until the header is acknowledged. A client
// that delays that acknowledgement, as Linux does on a kept-alive connection, waits 40 ms per
// request, 0.8 s for these 20; without the delay they take a few milliseconds.
TEST_F(HttpRequestTest, KeptAliveRequestsDoNotWaitForTheServersNagleDelay) {
  local_.server().set_keep_alive_max_count(1000);
  local_.server().Get("/page", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(6000, 'p'), "text/html");
  });
  ASSERT_TRUE(Fetch("/page"));  // the connection is set up outside the measured stretch
  const auto start = Clock::now();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(Fetch("/page")) << i;
    ASSERT_EQ(request_.ResponseBody().size(), 6000u) << i;
  }
  const auto took = Clock::now() - start;
  EXPECT_EQ(local_.Seen().connections, 1);  // all of them over the one kept-alive connection
  EXPECT_LT(took, 400ms) << Microseconds(took) << " us for 20 requests";
  CloseIdleConnections();
}

// The socket of every connection, and libcurl's own, closes when a program is launched, so no
// launched program (xdg-open, the download tool it starts) holds a connection to the site.
TEST(SocketInheritanceTest, NoSocketOfTheEnginePassesToALaunchedProgram) {
  int port = 0;
  {
    test::HostileServer site;
    site.Script("/page", test::RawReply("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\npage"));
    HttpRequest request;
    ASSERT_TRUE(request.Open("GET", site.Url("/page")) && request.Send());
    port = site.port();
  }
  // The site has closed its own sockets and ended its threads, so every socket left is the
  // engine's, and none is closed under the look at it. The connection stays in the pool.
  int connections = 0;  // kept alive, to the site
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode)) {
      continue;
    }
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
        peer.sin_family == AF_INET && ntohs(peer.sin_port) == port) {
      ++connections;
    }
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "socket " << fd << " passes to programs";
  }
  EXPECT_EQ(connections, 1);

  // What a launched program holds: its standard streams and nothing of the site.
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  char shell[] = "/bin/sh";
  char option[] = "-c";
  char script[] = "for fd in /proc/$$/fd/*; do readlink \"$fd\"; done";
  char* arguments[] = {shell, option, script, nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, shell, &actions, nullptr, arguments, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  std::string held;
  char buffer[4096];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) {
    held.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_FALSE(held.empty());
  EXPECT_EQ(held.find("socket:"), std::string::npos) << held;
  CloseIdleConnections();
}

// A connection to a proxy is reused only with the same credential for it. The proxy here keeps
// connections alive (tinyproxy does not) and answers every request itself.
TEST(ProxyConnectionTest, IsNotSharedAcrossCredentials) {
  LocalServer proxy{std::make_unique<httplib::Server>()};
  proxy.server().set_keep_alive_max_count(100);
  std::mutex mutex;
  std::map<int, std::set<std::string>> credentialsOf;  // by the client's port: one connection
  proxy.server().Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard lock(mutex);
    credentialsOf[request.remote_port].insert(request.get_header_value("Proxy-Authorization"));
    response.set_content("proxied", "text/plain");
  });
  proxy.Start();
  const auto fetch = [&](const char* credential) {
    HttpRequest request;
    request.SetProxy(HTTPREQUEST_PROXYSETTING_PROXY, "127.0.0.1:" + std::to_string(proxy.port()));
    request.SetRequestHeader("Proxy-Authorization", credential);
    EXPECT_TRUE(request.Open("GET", "http://127.0.0.1:9/page") && request.Send());
    EXPECT_EQ(request.ResponseBody(), "proxied");
    return LastRequestOutcome().newConnections;
  };
  EXPECT_EQ(fetch("Basic YQ=="), 1);
  EXPECT_EQ(fetch("Basic YQ=="), 0);
  EXPECT_EQ(fetch("Basic Yg=="), 1);
  EXPECT_EQ(fetch(""), 1);
  EXPECT_EQ(fetch("Basic YQ=="), 0);
  std::lock_guard lock(mutex);
  EXPECT_EQ(credentialsOf.size(), 3u);
  for (const auto& [port, credentials] : credentialsOf) {
    EXPECT_EQ(credentials.size(), 1u) << "connection from port " << port;
  }
  CloseIdleConnections();
}

TEST_F(HttpRequestTest, AKilledThreadStartsNoTransfer) {
  KillableFetch fetch;
  fetch.url = local_.Url("/echo");
  fetch.mayStart = false;
  const ThreadHandle handle = CreateThread(&KillableFetch::Run, &fetch, nullptr);
  ASSERT_NE(handle, 0);
  ASSERT_TRUE(TerminateThread(handle, STILL_ACTIVE));
  fetch.mayStart = true;
  ASSERT_TRUE(WaitUntil([&] { return fetch.sent.load(); }));
  EXPECT_FALSE(fetch.result);
  EXPECT_EQ(fetch.failure, HttpRequest::Failure::kKilled);
  CloseHandle(handle);
  ASSERT_TRUE(WaitUntil([] { return RunningThreadCount() == 0; }));
  EXPECT_EQ(local_.Seen().count, 0);
}

TEST_F(HttpRequestTest, AProxyCredentialNeverReachesTheServerDirectly) {
  ASSERT_TRUE(request_.SetRequestHeader("Proxy-Authorization", "Basic dXNlcjpzZWNyZXQ="));
  ASSERT_TRUE(Fetch("/echo"));
  EXPECT_EQ(local_.Seen().headers.count("Proxy-Authorization"), 0u);
}

// A site that breaks the protocol on purpose, one way per target.
class HostileSiteTest : public ::testing::Test {
 protected:
  void SetUp() override { request_.SetTimeouts(5000, 5000, 5000, 5000); }

  bool Fetch(const std::string& target) {
    return request_.Open("GET", site_.Url(target)) && request_.Send();
  }
  void ExpectNothingKept(const std::string& target) {
    EXPECT_EQ(request_.Status(), 0) << target;
    EXPECT_TRUE(request_.ResponseBody().empty()) << target;
    EXPECT_TRUE(request_.GetAllResponseHeaders().empty()) << target;
  }

  test::HostileServer site_;
  HttpRequest request_;
};

TEST_F(HostileSiteTest, BrokenResponsesFailAtOnceAndLeaveNothing) {
  const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
  const std::string chunked = head + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n";
  const std::map<std::string, std::string> broken = {
      {"/garbage-status-line", "\x16\x03\x01 GARBAGE\r\n\r\nhello"},
      {"/status-out-of-range", "HTTP/1.1 99999999999 OK\r\nContent-Length: 2\r\n\r\nok"},
      {"/megabyte-header-line",
       head + "X-Big: " + std::string(1 << 20, 'a') + "\r\nContent-Length: 2\r\n\r\nok"},
      {"/chunk-size-not-hex", chunked + "zz\r\nxyz\r\n0\r\n\r\n"},
      {"/chunk-size-negative", chunked + "-5\r\nxyz\r\n0\r\n\r\n"},
      {"/chunk-size-overflows", chunked + "FFFFFFFFFFFFFFFFFFFF\r\nxyz\r\n0\r\n\r\n"},
      {"/chunk-cut-short", chunked + "100\r\nxyz"},
      {"/closed-halfway", head + "Content-Length: 1000\r\n\r\n" + std::string(500, 'h')},
  };
  for (const auto& [target, reply] : broken) {
    site_.Script(target, test::RawReply(reply));
    const auto start = Clock::now();
    EXPECT_FALSE(Fetch(target)) << target;
    EXPECT_LT(Clock::now() - start, 3s) << target;  // not a time-out: those are 5 s here
    ExpectNothingKept(target);
  }
}

TEST_F(HostileSiteTest, OddButWellFormedResponsesComeBackAsSent) {
  site_.Script("/interim", test::InterimResponses(10000));
  ASSERT_TRUE(Fetch("/interim"));
  EXPECT_EQ(request_.Status(), 200);
  EXPECT_EQ(request_.ResponseBody(), "final");
  EXPECT_EQ(request_.GetAllResponseHeaders().find("Continue"), std::string::npos);

  // Nothing asked for gzip, so nothing inflates it: the body is the bomb, not 100 MiB of zeros.
  site_.Script("/gzip-bomb", test::UnaskedGzipBomb());
  ASSERT_TRUE(Fetch("/gzip-bomb"));
  EXPECT_EQ(request_.ResponseBody(), test::Bomb());
  EXPECT_NE(request_.GetAllResponseHeaders().find("Content-Encoding: gzip\r\n"), std::string::npos);
}

// The server answers as if the connection stayed open, then closes it: the next request finds a
// dead kept-alive connection, and must still get its page.
TEST_F(HostileSiteTest, AConnectionClosedBetweenRequestsCostsNoPage) {
  site_.Script("/page", test::RawReply("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\npage"));
  for (int i = 0; i < 20; ++i) {
    HttpRequest request;
    request.SetTimeouts(5000, 5000, 5000, 5000);
    ASSERT_TRUE(request.Open("GET", site_.Url("/page")) && request.Send()) << i;
    EXPECT_EQ(request.ResponseBody(), "page") << i;
  }
  EXPECT_EQ(site_.Connections().size(), 20u);
}

TEST_F(HostileSiteTest, AnEndlessBodyIsCutAtTheCap) {
  site_.Script("/endless", test::EndlessBody());
  EXPECT_FALSE(Fetch("/endless"));
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kTooLarge);
  ExpectNothingKept("/endless");
  EXPECT_TRUE(WaitUntil([&] { return site_.Connections().at(0).droppedAt.has_value(); }));
}

TEST_F(HostileSiteTest, RedirectsLeadOnlyToHttpOrHttps) {
  const std::string here = "127.0.0.1:" + std::to_string(site_.port());
  const std::string locations[] = {"file:///etc/passwd",     "ftp://" + here + "/",
                                   "gopher://" + here + "/", "dict://" + here + "/d:x",
                                   "telnet://" + here + "/", "scp://" + here + "/x"};
  std::size_t connections = 0;
  for (const std::string& location : locations) {
    site_.Script("/to", test::RedirectTo(location));
    EXPECT_FALSE(Fetch("/to")) << location;
    ExpectNothingKept(location);
    // The redirect's own connection, and none for where it pointed.
    EXPECT_EQ(site_.Connections().size(), ++connections) << location;
  }
}

TEST_F(HostileSiteTest, ATrickleFailsAsATimeOut) {
  // One byte every 100 ms is progress, but far less than 1 KiB per stretch of the time-out. The
  // whole body would take 5 s.
  request_.SetTimeouts(1000, 1000, 1000, 1000);
  site_.Script("/trickle", test::Trickle(100ms, 50));
  const auto start = Clock::now();
  EXPECT_FALSE(Fetch("/trickle"));
  const auto took = Clock::now() - start;
  std::printf("a trickle with a 1 s time-out ended after %ld ms\n", Microseconds(took) / 1000);
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 4s);
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kTimedOut);
  ExpectNothingKept("/trickle");
}

// A kill wakes the wait on the socket itself, not only the engine's next look at the clock.
TEST_F(HostileSiteTest, AKillEndsSendOnAnIdleSocketAtOnce) {
  site_.Script("/silence", test::Silence());
  KillableFetch fetch;
  fetch.url = site_.Url("/silence");
  const ThreadHandle handle = CreateThread(&KillableFetch::Run, &fetch, nullptr);
  ASSERT_NE(handle, 0);
  ASSERT_TRUE(WaitUntil([&] { return site_.Request(0).has_value(); }));
  std::this_thread::sleep_until(*site_.Request(0)->requestAt + test::kIdleBeforeKill);

  const auto killedAt = Clock::now();
  ASSERT_TRUE(TerminateThread(handle, STILL_ACTIVE));
  ASSERT_TRUE(WaitUntil([&] { return fetch.sent.load(); }, 5s));
  ASSERT_TRUE(WaitUntil([&] { return site_.Connections().at(0).droppedAt.has_value(); }, 5s));
  const auto returned = fetch.returnedAt - killedAt;
  const auto dropped = *site_.Connections().at(0).droppedAt - killedAt;
  std::printf("kill to return of Send: %ld us; to the server seeing the drop: %ld us\n",
              Microseconds(returned), Microseconds(dropped));
  EXPECT_LT(returned, test::kKillBound);
  EXPECT_LT(dropped, test::kKillBound);
  EXPECT_FALSE(fetch.result);
  EXPECT_EQ(fetch.failure, HttpRequest::Failure::kKilled);
  CloseHandle(handle);
  ASSERT_TRUE(WaitUntil([] { return RunningThreadCount() == 0; }));
}

constexpr char kRightCredential[] = "Basic dXNlcjpzZWNyZXQ=";  // user:secret
constexpr char kWrongCredential[] = "Basic dXNlcjp3cm9uZw==";  // user:wrong

class ProxyAndTlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = fs::temp_directory_path() / ("http_request_test." + std::to_string(getpid()));
    fs::create_directories(directory_);
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
        "-nodes -days 1 -subj /CN=localhost -keyout '" +
        (directory_ / "key.pem").string() + "' -out '" + (directory_ / "cert.pem").string() +
        "' >/dev/null 2>&1";
    haveCertificate_ = std::system(command.c_str()) == 0;
    ASSERT_EQ(std::system("command -v tinyproxy >/dev/null 2>&1"), 0) << "tinyproxy is missing";
  }
  static void TearDownTestSuite() { fs::remove_all(directory_); }

  void SetUp() override { request_.SetTimeouts(5000, 5000, 5000, 5000); }

  // False when tinyproxy could not be started.
  bool StartProxy() {
    proxy_ = std::make_unique<TinyProxy>(directory_);
    return proxy_->Ready();
  }

  std::unique_ptr<LocalServer> StartServer(bool secure) {
    std::unique_ptr<httplib::Server> server;
    if (secure) {
      const std::string cert = (directory_ / "cert.pem").string();
      const std::string key = (directory_ / "key.pem").string();
      server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
    } else {
      server = std::make_unique<httplib::Server>();
    }
    auto local = std::make_unique<LocalServer>(std::move(server));
    AddRoutes(*local);
    local->Start();
    return local;
  }

  bool FetchThroughProxy(const std::string& url, const char* credential) {
    request_.SetProxy(HTTPREQUEST_PROXYSETTING_PROXY, proxy_->Address());
    request_.SetRequestHeader("Proxy-Authorization", credential);
    return request_.Open("GET", url) &&
           request_.SetOption(WinHttpRequestOption_SslErrorIgnoreFlags, SslErrorIgnoreAll) &&
           request_.Send();
  }

  static inline fs::path directory_;
  static inline bool haveCertificate_ = false;
  std::unique_ptr<TinyProxy> proxy_;
  HttpRequest request_;
};

TEST_F(ProxyAndTlsTest, RightCredentialsPassAndStayWithTheProxy) {
  ASSERT_TRUE(StartProxy());
  auto server = StartServer(false);
  ASSERT_TRUE(FetchThroughProxy(server->Url("/status/200"), kRightCredential));
  EXPECT_EQ(request_.Status(), 200);
  EXPECT_EQ(request_.ResponseBody(), "status 200");
  EXPECT_EQ(server->Seen().count, 1);
  EXPECT_EQ(server->Seen().headers.count("Proxy-Authorization"), 0u);
}

TEST_F(ProxyAndTlsTest, WrongCredentialsAreRefusedByTheProxy) {
  ASSERT_TRUE(StartProxy());
  auto server = StartServer(false);
  ASSERT_TRUE(FetchThroughProxy(server->Url("/status/200"), kWrongCredential));
  EXPECT_TRUE(request_.Status() == 407 || request_.Status() == 401) << request_.Status();
  EXPECT_EQ(server->Seen().count, 0);
}

TEST_F(ProxyAndTlsTest, TheCredentialOpensACONNECTTunnelAndStaysOutOfIt) {
  if (!haveCertificate_) {
    GTEST_SKIP() << "no certificate: openssl failed";
  }
  ASSERT_TRUE(StartProxy());
  auto server = StartServer(true);
  ASSERT_TRUE(FetchThroughProxy(server->Url("/status/200", "https"), kRightCredential));
  EXPECT_EQ(request_.Status(), 200);
  EXPECT_EQ(server->Seen().count, 1);
  EXPECT_EQ(server->Seen().headers.count("Proxy-Authorization"), 0u);

  EXPECT_FALSE(FetchThroughProxy(server->Url("/status/200", "https"), kWrongCredential));
  EXPECT_EQ(request_.Status(), 0);
  EXPECT_EQ(server->Seen().count, 1);
}

TEST_F(ProxyAndTlsTest, CertificatesAreCheckedUnlessAllFourErrorsAreIgnored) {
  if (!haveCertificate_) {
    GTEST_SKIP() << "no certificate: openssl failed";
  }
  auto server = StartServer(true);
  ASSERT_TRUE(request_.Open("GET", server->Url("/status/200", "https")));
  ASSERT_TRUE(request_.SetOption(WinHttpRequestOption_SslErrorIgnoreFlags, std::int32_t{0x3200}));
  EXPECT_FALSE(request_.Send());
  EXPECT_EQ(request_.LastFailure(), HttpRequest::Failure::kSecure);
  ASSERT_TRUE(request_.Open("GET", server->Url("/status/200", "https")));
  ASSERT_TRUE(request_.SetOption(WinHttpRequestOption_SslErrorIgnoreFlags, SslErrorIgnoreAll));
  ASSERT_TRUE(request_.Send());
  EXPECT_EQ(request_.Status(), 200);
}

}  // namespace
}  // namespace mf::platform
