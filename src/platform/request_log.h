// Platform layer, for http_request.cpp and for src/web, which says why a page was not fetched.
//
// What became of the HTTP requests that HttpRequest::Send made: the last one on each thread, for
// a caller that wants to say why a page could not be fetched, and, when the failure log is on,
// one line on stderr for every failed request.
//
// A request failed when no response arrived or the response's status is 400 or above. A request
// abandoned because its thread was killed (Stop, Ctrl-C) did not fail and is not logged.
#pragma once

#include <chrono>
#include <string>

#include "platform/http_request.h"

namespace mf::platform {

struct RequestOutcome {
  std::string method;
  std::string url;
  HttpRequest::Failure failure = HttpRequest::Failure::kNotSent;
  int status = 0;      // of the final response; 0 when none arrived
  std::string detail;  // the transfer library's own words about a failure, when it had any
  std::chrono::microseconds took{0};
  int newConnections = 0;  // opened for it; 0 when it went over a kept-alive connection

  bool Failed() const;
  // Why it failed, in a few words ("timed out", "HTTP 404", "cannot connect: ..."); empty when
  // it did not.
  std::string Reason() const;
};

// A few words for each kind of failure ("timed out"); empty for kNone.
const char* DescribeFailure(HttpRequest::Failure failure);

// The outcome of the last Send on the calling thread; a default one before the first.
const RequestOutcome& LastRequestOutcome();
// Called by Send when it returns: remembers the outcome and logs it when it failed.
void RecordRequestOutcome(RequestOutcome outcome);
// Back to the default outcome (nothing sent), before a request that may fail before its Send.
void ClearLastRequestOutcome();

// The failure log is on when the environment variable MAGNET_FINDER_LOG is set to anything but
// "" or "0", or once it has been switched on here. Safe from any thread.
void SetFailureLog(bool on);
bool FailureLogOn();
// The line the log writes for an outcome, without its line break.
std::string FailureLogLine(const RequestOutcome& outcome,
                           std::chrono::system_clock::time_point when);

}  // namespace mf::platform
