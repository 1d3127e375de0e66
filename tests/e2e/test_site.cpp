#include "test_site.h"

#include <optional>

#include "demo_pages.h"

namespace mf::test {
namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";

// The demo site's page for a decoded path, or nullopt when it has none.
std::optional<std::string> DemoPage(const std::string& path) {
  if (path.rfind("/list/", 0) == 0) {
    const std::size_t slash = path.rfind('/');
    const std::string number = path.substr(slash + 1);
    if (slash < 6 || number.empty() || number.size() > 6 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    return demo::MakeResultPage(path.substr(6, slash - 6), std::stoi(number)).body;
  }
  const std::string prefix = "/detail/";
  const std::string suffix = ".html";
  if (path.rfind(prefix, 0) == 0 && path.size() > prefix.size() + suffix.size() &&
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    const auto page = demo::MakeDetailPage(
        std::string_view(path).substr(prefix.size(), path.size() - prefix.size() - suffix.size()));
    if (page) {
      return page->body;
    }
  }
  return std::nullopt;
}

void Send(httplib::Response& res, const Reply& reply) {
  res.status = reply.status;
  if (!reply.closeHalfway) {
    res.set_content(reply.body, kHtml);
    return;
  }
  res.set_content_provider(reply.body.size(), kHtml,
                           [body = reply.body](std::size_t, std::size_t, httplib::DataSink& sink) {
                             sink.write(body.data(), body.size() / 2);
                             return false;  // drop the connection
                           });
}

}  // namespace

TestSite::TestSite() {
  server_.set_tcp_nodelay(true);
  server_.set_keep_alive_timeout(1);
  server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    Handle(req, res);
    return httplib::Server::HandlerResponse::Handled;
  });
  port_ = server_.bind_to_any_port("127.0.0.1");
  serving_ = std::thread([this] { server_.listen_after_bind(); });
}

TestSite::~TestSite() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  server_.stop();
  serving_.join();
}

std::string TestSite::BaseAddress() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void TestSite::Script(const std::string& target, Reply reply) {
  std::lock_guard lock(mutex_);
  scripted_[target] = std::move(reply);
}

void TestSite::SetLatency(std::chrono::milliseconds latency) {
  std::lock_guard lock(mutex_);
  latency_ = latency;
}

void TestSite::Hold(const std::string& target) {
  std::lock_guard lock(mutex_);
  held_ = target;
}

void TestSite::Release() {
  {
    std::lock_guard lock(mutex_);
    held_.clear();
  }
  changed_.notify_all();
}

std::vector<std::string> TestSite::Targets() const {
  std::lock_guard lock(mutex_);
  return targets_;
}

void TestSite::Reset() {
  {
    std::lock_guard lock(mutex_);
    scripted_.clear();
    targets_.clear();
    latency_ = std::chrono::milliseconds(0);
    held_.clear();
  }
  changed_.notify_all();
}

void TestSite::Wait(std::unique_lock<std::mutex>& lock, const std::string& target) {
  changed_.wait_for(lock, latency_, [this] { return stopping_; });
  changed_.wait(lock, [&] { return stopping_ || held_ != target; });
}

void TestSite::Handle(const httplib::Request& req, httplib::Response& res) {
  std::optional<Reply> reply;
  {
    std::unique_lock lock(mutex_);
    targets_.push_back(req.target);
    Wait(lock, req.target);
    if (stopping_) {
      return;
    }
    if (const auto found = scripted_.find(req.target); found != scripted_.end()) {
      reply = found->second;
    }
  }
  if (!reply) {
    const std::optional<std::string> page = DemoPage(req.path);
    reply = page ? Reply{200, *page} : Reply{404, "<html><body>404</body></html>"};
  }
  Send(res, *reply);
}

}  // namespace mf::test
