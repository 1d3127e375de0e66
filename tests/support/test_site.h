// A loopback index site for tests: the demo site's pages by default, plus what a test scripts for
// chosen addresses (odd pages, failures), a record of every requested address, a latency, and a
// hold that keeps one address unanswered until the test lets it go. All members are safe from
// any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "demo_server.h"

namespace mf::test {

struct Reply {
  int status = 200;
  std::string body;
  // The header announces the whole body, then the connection closes halfway through it.
  bool closeHalfway = false;
};

class TestSite {
 public:
  TestSite();  // listens on 127.0.0.1, on a free port, at once
  ~TestSite();
  TestSite(const TestSite&) = delete;
  TestSite& operator=(const TestSite&) = delete;

  std::string BaseAddress() const;  // "http://127.0.0.1:PORT"

  // `target` is the address as sent, percent escapes and all ("/list/%61/1").
  void Script(const std::string& target, Reply reply);
  void SetLatency(std::chrono::milliseconds latency);
  // Requests for `target` wait, once they have been recorded, until Release (or the end).
  void Hold(const std::string& target);
  void Release();
  // Every request's target so far, in the order they arrived.
  std::vector<std::string> Targets() const;
  // The Host header of the last request.
  std::string LastHost() const;
  // Every request's User-Agent header so far, in the order they arrived.
  std::vector<std::string> UserAgents() const;
  // Back to the plain demo site with an empty record; releases a hold.
  void Reset();

 private:
  bool Handle(const httplib::Request& req, httplib::Response& res);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Reply> scripted_;
  std::vector<std::string> targets_;
  std::string lastHost_;
  std::vector<std::string> userAgents_;
  std::chrono::milliseconds latency_{0};
  std::string held_;
  bool stopping_ = false;
  demo::DemoSite site_;
  std::thread serving_;
};

}  // namespace mf::test
