#include "platform/request_log.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/printable_text.h"

namespace mf::platform {
namespace {

thread_local RequestOutcome lastOutcome;

bool LogWantedByEnvironment() {
  const char* value = std::getenv("MAGNET_FINDER_LOG");
  return value != nullptr && *value != '\0' && std::string_view(value) != "0";
}

std::atomic<bool>& FailureLogSwitch() {
  static std::atomic<bool> on{LogWantedByEnvironment()};
  return on;
}

// "2026-12-09 01:23:45.678", in UTC.
std::string Timestamp(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(millis));
  return text;
}

}  // namespace

const char* DescribeFailure(HttpRequest::Failure failure) {
  switch (failure) {
    case HttpRequest::Failure::kNone:
      return "";
    case HttpRequest::Failure::kNotSent:
      return "not sent";
    case HttpRequest::Failure::kNotOpened:
      return "not an http or https address";
    case HttpRequest::Failure::kKilled:
      return "stopped";
    case HttpRequest::Failure::kNameNotResolved:
      return "host not found";
    case HttpRequest::Failure::kCannotConnect:
      return "cannot connect";
    case HttpRequest::Failure::kTimedOut:
      return "timed out";
    case HttpRequest::Failure::kTooLarge:
      return "too large";
    case HttpRequest::Failure::kSecure:
      return "certificate or TLS failure";
    case HttpRequest::Failure::kRedirects:
      return "too many redirects";
    case HttpRequest::Failure::kOther:
      return "transfer failed";
  }
  return "transfer failed";
}

bool RequestOutcome::Failed() const {
  return failure != HttpRequest::Failure::kNone || status >= 400;
}

std::string RequestOutcome::Reason() const {
  if (failure == HttpRequest::Failure::kNone) {
    return status >= 400 ? "HTTP " + std::to_string(status) : std::string();
  }
  std::string reason = DescribeFailure(failure);
  if (!detail.empty()) {
    reason += " (" + detail + ")";
  }
  return reason;
}

const RequestOutcome& LastRequestOutcome() {
  return lastOutcome;
}

void RecordRequestOutcome(RequestOutcome outcome) {
  lastOutcome = std::move(outcome);
  if (FailureLogOn() && lastOutcome.Failed() &&
      lastOutcome.failure != HttpRequest::Failure::kKilled) {
    // One write per line, so lines of two threads never mix.
    const std::string line = FailureLogLine(lastOutcome, std::chrono::system_clock::now()) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
}

void ClearLastRequestOutcome() {
  lastOutcome = RequestOutcome();
}

void SetFailureLog(bool on) {
  FailureLogSwitch().store(on);
}

bool FailureLogOn() {
  return FailureLogSwitch().load();
}

std::string FailureLogLine(const RequestOutcome& outcome,
                           std::chrono::system_clock::time_point when) {
  char took[32];
  std::snprintf(took, sizeof took, "%.1f ms", static_cast<double>(outcome.took.count()) / 1000.0);
  // The address and the reason may hold what a site sent (a redirect's target) and a password.
  return Timestamp(when) + " " + outcome.method + " " +
         PrintableText(AddressWithoutPassword(outcome.url)) + " failed after " + took + ": " +
         PrintableText(outcome.Reason());
}

}  // namespace mf::platform
