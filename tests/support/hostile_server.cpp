#include "hostile_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace mf::test {
namespace {

constexpr std::size_t kLongestRequestHead = 64 * 1024;

std::string Status200(std::string_view extraHeaders = {}) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n" +
         std::string(extraHeaders) + "\r\n";
}

std::string GzipOfZeros(std::size_t total) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  std::string zeros(std::size_t{1} << 20, '\0');
  std::string out;
  char buffer[64 * 1024];
  for (std::size_t done = 0; done < total; done += zeros.size()) {
    stream.next_in = reinterpret_cast<Bytef*>(zeros.data());
    stream.avail_in = static_cast<uInt>(zeros.size());
    do {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      deflate(&stream, done + zeros.size() >= total ? Z_FINISH : Z_NO_FLUSH);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
  }
  deflateEnd(&stream);
  return out;
}

}  // namespace

HostileScript RawReply(std::string bytes) {
  return [bytes = std::move(bytes)](HostileWire& wire) { wire.Send(bytes); };
}

HostileScript SlowReply(std::string body, int pieces, std::chrono::milliseconds pause) {
  return [body = std::move(body), pieces, pause](HostileWire& wire) {
    if (!wire.Send(Status200("Content-Length: " + std::to_string(body.size()) + "\r\n"))) {
      return;
    }
    const std::size_t piece = body.size() / static_cast<std::size_t>(pieces) + 1;
    for (std::size_t at = 0; at < body.size(); at += piece) {
      if (!wire.Pause(pause) || !wire.Send(std::string_view(body).substr(at, piece))) {
        return;
      }
    }
  };
}

HostileScript Trickle(std::chrono::milliseconds every, int bytes) {
  return [every, bytes](HostileWire& wire) {
    if (!wire.Send(Status200())) {
      return;
    }
    for (int sent = 0; sent < bytes && wire.Send("x") && wire.Pause(every); ++sent) {
    }
  };
}

HostileScript EndlessBody() {
  return [](HostileWire& wire) {
    const std::string block(256 * 1024, 'z');
    if (!wire.Send(Status200("Content-Type: application/octet-stream\r\n"))) {
      return;
    }
    while (wire.Send(block)) {
    }
  };
}

const std::string& Bomb() {
  static const std::string bomb = GzipOfZeros(std::size_t{100} << 20);
  return bomb;
}

HostileScript UnaskedGzipBomb() {
  return [](HostileWire& wire) {
    wire.Send(Status200("Content-Encoding: gzip\r\nContent-Length: " +
                        std::to_string(Bomb().size()) + "\r\n") +
              Bomb());
  };
}

HostileScript InterimResponses(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    bytes += "HTTP/1.1 100 Continue\r\n\r\n";
  }
  return RawReply(bytes + Status200("Content-Length: 5\r\n") + "final");
}

HostileScript RedirectTo(std::string location) {
  return RawReply("HTTP/1.1 302 Found\r\nLocation: " + location +
                  "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

HostileScript Silence() {
  return [](HostileWire& wire) {
    while (wire.Pause(std::chrono::hours(1))) {
    }
  };
}

// The connection's socket as its script sees it; a failed call marks the client gone.
class HostileServer::Wire : public HostileWire {
 public:
  Wire(HostileServer& server, int fd, std::size_t index)
      : server_(server), fd_(fd), index_(index) {}

  bool Send(std::string_view bytes) override {
    while (!gone_ && !bytes.empty()) {
      const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) {
        Gone();
      } else {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
      }
    }
    return !gone_;
  }

  bool Pause(std::chrono::milliseconds span) override {
    const auto until = HostileClock::now() + span;
    while (!gone_) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - HostileClock::now());
      if (left.count() <= 0) {
        break;
      }
      pollfd watch{fd_, POLLIN, 0};
      const int wait = static_cast<int>(std::min<std::int64_t>(left.count(), 60000));
      if (poll(&watch, 1, wait) > 0) {
        char ignored[4096];
        if (recv(fd_, ignored, sizeof ignored, 0) <= 0) {
          Gone();
        }
      }
    }
    return !gone_;
  }

  // Reads the request head; the target of its request line, empty when none came.
  std::string ReadRequestTarget() {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kLongestRequestHead) {
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) {
        Gone();
        return {};
      }
      head.append(buffer, static_cast<std::size_t>(got));
    }
    const auto start = head.find(' ');
    const auto end = head.find(' ', start + 1);
    return start == std::string::npos || end == std::string::npos
               ? std::string()
               : head.substr(start + 1, end - start - 1);
  }

  // Ends the server's side, then waits for the client to drop the connection.
  void Finish() {
    if (!gone_) {
      shutdown(fd_, SHUT_WR);
      while (Pause(std::chrono::hours(1))) {
      }
    }
  }

 private:
  void Gone() {
    gone_ = true;
    server_.SeeDrop(index_);
  }

  HostileServer& server_;
  int fd_;
  std::size_t index_;
  bool gone_ = false;
};

HostileServer::HostileServer() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  const bool listening =
      bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      listen(listener_, 64) == 0 &&
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (!listening) {
    close(listener_);
    throw std::runtime_error("the hostile server cannot listen on the loopback");
  }
  port_ = ntohs(address.sin_port);
  accepting_ = std::thread([this] { Accept(); });
}

HostileServer::~HostileServer() {
  std::list<Worker> workers;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Wakes the accept and every blocked receive, send and poll.
    shutdown(listener_, SHUT_RDWR);
    for (const auto& [index, fd] : openSockets_) {
      shutdown(fd, SHUT_RDWR);
    }
  }
  accepting_.join();
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (Worker& worker : workers) {
    worker.thread.join();
  }
  close(listener_);
}

std::string HostileServer::BaseAddress() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void HostileServer::Script(const std::string& target, HostileScript script) {
  std::lock_guard lock(mutex_);
  scripts_[target] = std::move(script);
}

std::vector<SeenConnection> HostileServer::Connections() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

std::optional<SeenConnection> HostileServer::Request(std::size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= requestOrder_.size()) {
    return std::nullopt;
  }
  return seen_[requestOrder_[index]];
}

void HostileServer::Accept() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard lock(mutex_);
    if (stopping_) {
      if (fd >= 0) {
        close(fd);
      }
      return;
    }
    if (fd < 0) {
      continue;
    }
    const int on = 1;  // every write goes out as it is, not gathered for later
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ReapFinishedWorkers();
    const std::size_t index = seen_.size();
    seen_.emplace_back();
    openSockets_[index] = fd;
    auto done = std::make_shared<bool>(false);
    workers_.push_back({std::thread([this, fd, index, done] {
                          Serve(fd, index);
                          std::lock_guard finished(mutex_);
                          openSockets_.erase(index);
                          close(fd);
                          *done = true;
                        }),
                        done});
  }
}

void HostileServer::ReapFinishedWorkers() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (*it->done) {
      it->thread.join();  // it has only the unlock left to do
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void HostileServer::Serve(int fd, std::size_t index) {
  Wire wire(*this, fd, index);
  std::string target = wire.ReadRequestTarget();
  if (target.empty()) {
    return;
  }
  HostileScript script = ScriptFor(target);
  SeeRequest(index, std::move(target));
  script(wire);
  wire.Finish();
}

HostileScript HostileServer::ScriptFor(const std::string& target) const {
  std::lock_guard lock(mutex_);
  const auto it = scripts_.find(target);
  if (it != scripts_.end()) {
    return it->second;
  }
  return RawReply("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

void HostileServer::SeeRequest(std::size_t index, std::string target) {
  std::lock_guard lock(mutex_);
  seen_[index].target = std::move(target);
  seen_[index].requestAt = HostileClock::now();
  requestOrder_.push_back(index);
}

void HostileServer::SeeDrop(std::size_t index) {
  const auto now = HostileClock::now();
  std::lock_guard lock(mutex_);
  if (!stopping_ && !seen_[index].droppedAt) {
    seen_[index].droppedAt = now;
  }
}

}  // namespace mf::test
