#include "socks5_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace mf::test {
namespace {

// Reads exactly `size` bytes; false when the peer ends first.
bool ReadAll(int socket, void* data, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t got = ::recv(socket, bytes, size, 0);
    if (got <= 0) {
      return false;
    }
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int socket, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t sent = ::send(socket, bytes, size, MSG_NOSIGNAL);
    if (sent <= 0) {
      return false;
    }
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

// A length-prefixed field of the sign-in.
bool ReadField(int socket, std::string& field) {
  std::uint8_t length = 0;
  if (!ReadAll(socket, &length, 1)) {
    return false;
  }
  field.resize(length);
  return ReadAll(socket, field.data(), length);
}

int ConnectToLoopback(std::uint16_t port) {
  const int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(target, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(target);
    return -1;
  }
  return target;
}

// Copies what either side sends to the other until one of them ends.
void Relay(int a, int b) {
  pollfd both[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  char buffer[16384];
  while (::poll(both, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (both[i].revents == 0) {
        continue;
      }
      const ssize_t got = ::recv(both[i].fd, buffer, sizeof buffer, 0);
      if (got <= 0 || !WriteAll(both[1 - i].fd, buffer, static_cast<std::size_t>(got))) {
        return;
      }
    }
  }
}

}  // namespace

Socks5Proxy::Socks5Proxy() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::listen(listener_, 16) == 0 &&
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port_ = ntohs(address.sin_port);
  }
  accepting_ = std::thread([this] { Accept(); });
}

Socks5Proxy::~Socks5Proxy() {
  stopping_ = true;
  ::shutdown(listener_, SHUT_RDWR);
  accepting_.join();
  {
    const std::lock_guard lock(mutex_);
    for (const int socket : open_) {
      ::shutdown(socket, SHUT_RDWR);
    }
  }
  for (std::thread& thread : served_) {
    thread.join();
  }
  ::close(listener_);
}

std::string Socks5Proxy::Address() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> Socks5Proxy::Targets() const {
  const std::lock_guard lock(mutex_);
  return targets_;
}

void Socks5Proxy::Accept() {
  while (!stopping_) {
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      continue;  // shut down: the loop ends; else try again
    }
    const std::lock_guard lock(mutex_);
    open_.push_back(client);
    served_.emplace_back([this, client] { Serve(client); });
  }
}

bool Socks5Proxy::SignIn(int client) {
  std::uint8_t greeting[2];
  std::string methods;
  if (!ReadAll(client, greeting, 2) || greeting[0] != 5) {
    return false;
  }
  methods.resize(greeting[1]);
  if (!ReadAll(client, methods.data(), methods.size())) {
    return false;
  }
  const bool offered = methods.find('\x02') != std::string::npos;  // user name and password
  const std::uint8_t choice[2] = {5, static_cast<std::uint8_t>(offered ? 2 : 0xFF)};
  std::uint8_t version = 0;
  std::string user;
  std::string password;
  if (!WriteAll(client, choice, 2) || !offered || !ReadAll(client, &version, 1) ||
      !ReadField(client, user) || !ReadField(client, password)) {
    return false;
  }
  const bool accepted = version == 1 && user == "user" && password == "secret";
  refused_ += accepted ? 0 : 1;
  const std::uint8_t verdict[2] = {1, static_cast<std::uint8_t>(accepted ? 0 : 1)};
  return WriteAll(client, verdict, 2) && accepted;
}

void Socks5Proxy::Serve(int client) {
  std::uint8_t request[4];  // version, command, reserved, address type
  if (SignIn(client) && ReadAll(client, request, 4) && request[1] == 1) {
    std::string target;
    if (request[3] == 3) {
      ReadField(client, target);
      target = "name " + target;
    } else {
      const bool v6 = request[3] == 4;
      std::uint8_t raw[16];
      char text[INET6_ADDRSTRLEN] = "";
      if (ReadAll(client, raw, v6 ? 16 : 4)) {
        ::inet_ntop(v6 ? AF_INET6 : AF_INET, raw, text, sizeof text);
      }
      target = std::string("address ") + text;
    }
    std::uint8_t port[2] = {0, 0};
    ReadAll(client, port, 2);
    const auto number = static_cast<std::uint16_t>(port[0] << 8 | port[1]);
    {
      const std::lock_guard lock(mutex_);
      targets_.push_back(target + ":" + std::to_string(number));
    }
    const int upstream = ConnectToLoopback(number);
    const std::uint8_t reply[10] = {5, static_cast<std::uint8_t>(upstream < 0 ? 5 : 0), 0, 1};
    if (WriteAll(client, reply, sizeof reply) && upstream >= 0) {
      Relay(client, upstream);
    }
    if (upstream >= 0) {
      ::close(upstream);
    }
  }
  const std::lock_guard lock(mutex_);
  open_.erase(std::find(open_.begin(), open_.end(), client));
  ::close(client);
}

}  // namespace mf::test
