#include "loopback_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mf::test {
namespace {

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

void LocalServer::Start() {
  // Recorded before the handler runs, so before the client can see the response.
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    std::lock_guard lock(mutex_);
    seen_.method = request.method;
    seen_.headers = request.headers;
    seen_.body.clear();
    ++seen_.count;
    clientPorts_.insert(request.remote_port);
    seen_.connections = static_cast<int>(clientPorts_.size());
    return httplib::Server::HandlerResponse::Unhandled;
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  ASSERT_GT(port_, 0);
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // A stop before the accept loop runs would be lost and leave the loop running for good.
  ASSERT_TRUE(WaitUntil([this] { return server_->is_running(); }));
}

void LocalServer::Stop() {
  gate_.Open();
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

std::string LocalServer::Url(const std::string& path, const std::string& scheme) const {
  return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
}

SeenRequest LocalServer::Seen() {
  std::lock_guard lock(mutex_);
  return seen_;
}

void LocalServer::SeeBody(const std::string& body) {
  std::lock_guard lock(mutex_);
  seen_.body = body;
}

int FreeLoopbackPort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(probe);
  return port;
}

bool Accepts(int port) {
  const int client = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = LoopbackAddress(port);
  const bool ok = connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(client);
  return ok;
}

}  // namespace mf::test
