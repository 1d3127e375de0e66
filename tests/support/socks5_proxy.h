// A SOCKS5 proxy for tests on a loopback port of its own: it asks for the user name and password
// "user" / "secret" (RFC 1929), takes CONNECT only, and records how each client named its target
// (a host name to be resolved here, or an address), then relays bytes both ways. Whatever the
// target, it connects to 127.0.0.1 at the target's port: nothing leaves the machine.
//
// Threads: one accepts, one serves each connection; every public function is safe from any
// thread. The destructor ends every connection and joins the threads.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mf::test {

class Socks5Proxy {
 public:
  Socks5Proxy();  // listens at once
  ~Socks5Proxy();
  Socks5Proxy(const Socks5Proxy&) = delete;
  Socks5Proxy& operator=(const Socks5Proxy&) = delete;

  std::string Address() const;  // "127.0.0.1:PORT"
  // The targets of the CONNECT requests so far, as sent: "name host:PORT" for a name,
  // "address A:PORT" for an IPv4 or IPv6 address.
  std::vector<std::string> Targets() const;
  int RefusedSignIns() const { return refused_.load(); }

 private:
  void Accept();
  void Serve(int client);
  bool SignIn(int client);

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> refused_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> targets_;
  std::vector<int> open_;  // the sockets of live connections, shut down at the end
  std::vector<std::thread> served_;
  std::thread accepting_;
};

}  // namespace mf::test
