// A misbehaving HTTP server on a free loopback port, for tests. It writes raw bytes on the
// socket, so it can send what a well-behaved server library never would: a trickle, a broken
// status line or chunk size, a huge header line, an endless body, silence. A script per request
// target says what it sends; any other target gets a plain 404.
//
// It tells a test what happened on every connection it accepted: which target was asked for and
// when the request arrived, and when the client dropped the connection.
//
// Threads: one thread accepts, one thread serves each connection. Every public function may be
// called from any thread. The destructor ends every script at once (pauses and holds return) and
// joins the threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace mf::test {

using HostileClock = std::chrono::steady_clock;

// For tests of a kill while a request waits on an idle connection. With nothing on the socket the
// request engine wakes once a second to look at the clock, counted from the request or from 0.2 s
// after it (a timer of libcurl's). Left idle for 1.3 s, the connection is killed early in such a
// wait either way: a kill noticed only at the next look comes 0.7 to 0.9 s late, one that wakes
// the wait itself within a millisecond.
inline constexpr std::chrono::milliseconds kIdleBeforeKill{1300};
inline constexpr std::chrono::milliseconds kKillBound{100};

// One connection as its script sees it. Each call returns false once the client has dropped the
// connection or the server is stopping; the script should then return.
class HostileWire {
 public:
  virtual ~HostileWire() = default;
  virtual bool Send(std::string_view bytes) = 0;
  // Waits for `span` without sending; what the client sends meanwhile is read and ignored.
  virtual bool Pause(std::chrono::milliseconds span) = 0;
};

// After the script returns, the server ends its side of the connection (a body without a length
// ends there) and waits for the client to drop it.
using HostileScript = std::function<void(HostileWire&)>;

// Sends `bytes` as they are.
HostileScript RawReply(std::string bytes);
// A 200 whose body comes in `pieces` parts with `pause` between them.
HostileScript SlowReply(std::string body, int pieces, std::chrono::milliseconds pause);
// A 200 without a length whose body is `bytes` bytes, one every `every`.
HostileScript Trickle(std::chrono::milliseconds every, int bytes);
// A 200 without a length whose body never ends.
HostileScript EndlessBody();
// A gzip body that inflates to 100 MiB of zeros, labelled Content-Encoding: gzip whatever the
// request accepted. `Bomb()` is the body as sent.
HostileScript UnaskedGzipBomb();
const std::string& Bomb();
// `count` interim "100 Continue" responses before a 200 with the body "final".
HostileScript InterimResponses(int count);
HostileScript RedirectTo(std::string location);
// Nothing at all, until the client gives up.
HostileScript Silence();

struct SeenConnection {
  std::string target;  // the request's target; empty until a request arrived
  std::optional<HostileClock::time_point> requestAt;
  std::optional<HostileClock::time_point> droppedAt;  // the client closed or reset it
};

class HostileServer {
 public:
  HostileServer();  // listens at once; throws std::runtime_error when it cannot
  ~HostileServer();
  HostileServer(const HostileServer&) = delete;
  HostileServer& operator=(const HostileServer&) = delete;

  int port() const { return port_; }
  std::string BaseAddress() const;  // "http://127.0.0.1:PORT"
  std::string Url(std::string_view target) const { return BaseAddress() + std::string(target); }
  // `target` as it appears in the request line ("/list/%61/1").
  void Script(const std::string& target, HostileScript script);

  // Every connection accepted so far, in order.
  std::vector<SeenConnection> Connections() const;
  // The connection that received the n-th request (0-based), once it has arrived.
  std::optional<SeenConnection> Request(std::size_t index) const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<bool> done;  // guarded by mutex_
  };
  class Wire;

  void Accept();
  void Serve(int fd, std::size_t index);
  void SeeRequest(std::size_t index, std::string target);
  void SeeDrop(std::size_t index);
  HostileScript ScriptFor(const std::string& target) const;
  void ReapFinishedWorkers();

  int listener_ = -1;
  int port_ = 0;
  std::thread accepting_;
  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::map<std::string, HostileScript> scripts_;
  std::vector<SeenConnection> seen_;
  std::vector<std::size_t> requestOrder_;  // indices into seen_, in order of arrival
  std::map<std::size_t, int> openSockets_;
  std::list<Worker> workers_;
};

}  // namespace mf::test
