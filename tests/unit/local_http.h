// Loopback HTTP fixtures for tests: a cpp-httplib server on a free port on a thread of its own,
// and tinyproxy with Basic credentials. Both end in their destructors.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

extern char** environ;

namespace mf::test {

using namespace std::chrono_literals;

// Polls `done` until it holds or `limit` has passed; true when it held.

inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::steady_clock::duration limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A gate that stalled handlers wait at until the test lets them go.
class Gate {
 public:
  void Wait() {
    std::unique_lock lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, 60s, [this] { return open_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool Entered() {
    std::lock_guard lock(mutex_);
    return entered_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool entered_ = false;
};

// What the server saw of the last request.
struct SeenRequest {
  std::string method;
  std::string body;
  httplib::Headers headers;
  int count = 0;
};

// A cpp-httplib server on a free loopback port, on a thread of its own.
class LocalServer {
 public:
  explicit LocalServer(std::unique_ptr<httplib::Server> server) : server_(std::move(server)) {}
  ~LocalServer() { Stop(); }

  void Start() {
    // Recorded before the handler runs, so before the client can see the response.
    server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
      std::lock_guard lock(mutex_);
      seen_.method = request.method;
      seen_.headers = request.headers;
      seen_.body.clear();
      ++seen_.count;
      return httplib::Server::HandlerResponse::Unhandled;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // A stop before the accept loop runs would be lost and leave the loop running for good.
    ASSERT_TRUE(WaitUntil([this] { return server_->is_running(); }));
  }
  void Stop() {
    gate_.Open();
    if (thread_.joinable()) {
      server_->stop();
      thread_.join();
    }
  }

  httplib::Server& server() { return *server_; }
  Gate& gate() { return gate_; }
  std::string Url(const std::string& path, const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
  }
  SeenRequest Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  void SeeBody(const std::string& body) {
    std::lock_guard lock(mutex_);
    seen_.body = body;
  }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  Gate gate_;
  std::mutex mutex_;
  SeenRequest seen_;
};

inline int FreeLoopbackPort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(probe);
  return port;
}

inline bool Accepts(int port) {
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(client);
  return ok;
}

// tinyproxy with Basic credentials "user" / "secret", on a free loopback port.
class TinyProxy {
 public:
  explicit TinyProxy(const std::filesystem::path& directory) {
    port_ = FreeLoopbackPort();
    const std::filesystem::path config = directory / "tinyproxy.conf";
    std::ofstream(config) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                          << "MaxClients 16\nAllow 127.0.0.1\nBasicAuth user secret\n"
                          << "LogLevel Critical\n";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string path = config.string();
    char* arguments[] = {const_cast<char*>("tinyproxy"), const_cast<char*>("-d"),
                         const_cast<char*>("-c"), const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawnp(&pid_, "tinyproxy", &actions, nullptr, arguments, environ) != 0) {
      pid_ = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~TinyProxy() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Ready() const {
    return pid_ > 0 && port_ > 0 && WaitUntil([this] { return Accepts(port_); });
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t pid_ = 0;
  int port_ = 0;
};

}  // namespace mf::test
