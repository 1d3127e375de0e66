// One synchronous HTTP request through the platform's request object
// ("WinHttp.WinHttpRequest.5.1"), driven by member name.
//
// By default a "GET" with five browser-like headers ("Accept: */*", a Referer of the address
// itself, "Accept-Language: zh-cn", an MSIE User-Agent and a form Content-Type), 15-second
// time-outs, redirects followed and certificate errors ignored. The routine never throws and
// reports no error: an empty body is the only sign that no response arrived.
//
// It blocks the calling thread. A kill of that thread (support/threads.h) abandons the transfer,
// and the routine returns at once with an empty body.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/com_access.h"
#include "support/text_types.h"

namespace mf {

// The parameters, under their names and with the values a left-out parameter takes. Out-
// parameters are written only when the request object could be created; a null pointer means
// the caller does not want that value. `proxyAuthMode` and `requestObject` tell "left out" from
// a given value: left out, the first counts as 1 and the second makes a new request object.
struct WebRequestParams {
  Text url{};                          // handed to Open unchanged; the default Referer
  std::int32_t method = 0;             // 0 GET, 1 POST, 2 HEAD; anything else GET
  Text bodyText{};                     // sent when bodyBytes is empty
  Text cookies{};                      // non-empty: one "Cookie" header, unchanged
  Text* receivedCookies = nullptr;     // out: "name=value; name=value" the response sets
  Text extraHeaders{};                 // the caller's header lines, separated by CR LF
  Text* responseHeaders = nullptr;     // out: the response header block, Set-Cookie spelled so
  std::int32_t* statusCode = nullptr;  // out: the status, 0 when no response was read
  bool disableRedirects = false;       // true: a redirect response is returned as it is
  Bytes bodyBytes{};                   // non-empty: sent instead of bodyText
  Text proxyAddress{};                 // non-empty: "host:port" of the proxy to go through;
                                       // empty: the process's (proxy_setting.h), if any
  std::int32_t timeoutSeconds = 0;     // -1: leave the object's own; below 1: 15 seconds
  Text proxyUser{};                    // non-empty (with a proxy): send Basic credentials
  Text proxyPassword{};                //
  std::optional<std::int32_t> proxyAuthMode{};  // 1 (or left out): send them; else: do not
  std::optional<ComObject> requestObject{};     // an existing request object to use
};

// Returns the response body; empty when the request failed.
Bytes WebRequest(const WebRequestParams& params);

// Why the last WebRequest on the calling thread failed, in a few words ("timed out", "HTTP 404",
// "cannot connect (...)"); empty when a response with a status below 400 arrived.
std::string LastRequestFailure();

// Every failed request writes one line to stderr from now on (time, method, address, reason,
// duration). The environment variable MAGNET_FINDER_LOG=1 does the same from the start.
void EnableFailureLog();

// The ProgID of the request object.
inline constexpr const char* kHttpRequestProgId = "WinHttp.WinHttpRequest.5.1";

}  // namespace mf
