// A cpp-httplib server for tests on a free loopback port, on a thread of its own, that records
// what it saw of the last request; and two small socket probes.
#pragma once

#include <httplib.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "wait_until.h"

namespace mf::test {

// What the server saw of the last request.
struct SeenRequest {
  std::string method;
  std::string body;
  httplib::Headers headers;
  int count = 0;
  int connections = 0;  // distinct client connections that sent requests so far
};

// It closes each connection after one response, so that no kept-alive connection holds up its
// Stop; a test about connection reuse raises server().set_keep_alive_max_count.
class LocalServer {
 public:
  explicit LocalServer(std::unique_ptr<httplib::Server> server) : server_(std::move(server)) {
    server_->set_keep_alive_max_count(1);
  }
  ~LocalServer() { Stop(); }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  // Binds a free port and serves; a failed start fails the current test.
  void Start();
  // Opens the gate and ends the server; safe to call twice.
  void Stop();

  httplib::Server& server() { return *server_; }
  Gate& gate() { return gate_; }
  int port() const { return port_; }
  std::string Url(const std::string& path, const std::string& scheme = "http") const;
  SeenRequest Seen();
  void SeeBody(const std::string& body);

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  Gate gate_;
  std::mutex mutex_;
  SeenRequest seen_;
  std::set<int> clientPorts_;
};

// A loopback port that nothing listened on a moment ago.
int FreeLoopbackPort();
// True when something accepts connections on the loopback port.
bool Accepts(int port);

}  // namespace mf::test
