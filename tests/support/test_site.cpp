#include "test_site.h"

namespace mf::test {

TestSite::TestSite()
    : site_(demo::SiteOptions{}, [this](const httplib::Request& req, httplib::Response& res) {
        return Handle(req, res);
      }) {
  site_.Bind();
  serving_ = std::thread([this] { site_.Serve(); });
}

TestSite::~TestSite() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  site_.Stop();
  serving_.join();
}

std::string TestSite::BaseAddress() const {
  return site_.BaseAddress();
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

std::string TestSite::LastHost() const {
  std::lock_guard lock(mutex_);
  return lastHost_;
}

std::vector<std::string> TestSite::UserAgents() const {
  std::lock_guard lock(mutex_);
  return userAgents_;
}

void TestSite::Reset() {
  {
    std::lock_guard lock(mutex_);
    scripted_.clear();
    targets_.clear();
    userAgents_.clear();
    latency_ = std::chrono::milliseconds(0);
    held_.clear();
  }
  changed_.notify_all();
}

bool TestSite::Handle(const httplib::Request& req, httplib::Response& res) {
  std::unique_lock lock(mutex_);
  targets_.push_back(req.target);
  lastHost_ = req.get_header_value("Host");
  userAgents_.push_back(req.get_header_value("User-Agent"));
  changed_.wait_for(lock, latency_, [this] { return stopping_; });
  changed_.wait(lock, [&] { return stopping_ || held_ != req.target; });
  const auto scripted = scripted_.find(req.target);
  if (stopping_ || scripted == scripted_.end())
    return stopping_;
  const Reply reply = scripted->second;
  lock.unlock();
  res.status = reply.status;
  if (reply.closeHalfway)
    demo::SendCutShort(res, reply.body);
  else
    res.set_content(reply.body, "text/html; charset=utf-8");
  return true;
}

}  // namespace mf::test
