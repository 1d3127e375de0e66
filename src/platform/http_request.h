// Platform layer, for winhttp_request_object.cpp; program code fetches pages through src/web.
//
// One HTTP request at a time, in the shape of the system's HTTP request object (set time-outs,
// proxy and headers, open, send, then read the response), over libcurl.
//
// Contract:
//   - `Send` is synchronous: it returns when the response is complete or the request has failed.
//     Every failure is a false or empty result; nothing throws.
//   - A failed request leaves no partial response: status 0, no headers, empty body.
//   - A kill of the calling thread (platform::TerminateThread) aborts a transfer in flight at once,
//     also while the socket is idle, and `Send` refuses to start on a killed thread.
//   - Header names and values are bytes as they go on the wire; one holding CR, LF or a zero
//     byte is refused, so no caller text can add a header line of its own.
//   - A "Proxy-Authorization" header goes to the proxy only (also through a CONNECT tunnel),
//     never to the target server.
//   - One object serves one thread at a time; objects on different threads are independent.
//   - Every Send leaves its outcome in platform/request_log.h (the calling thread's last outcome,
//     and the failure log).
//   - Connections are kept alive and reused by later requests of any thread, but only between
//     requests that go the same way: same scheme, host and port, same proxy, same credential for
//     the proxy. No two threads use a connection at once; a connection whose transfer failed or
//     was killed is closed, never reused. With the environment variable
//     MAGNET_FINDER_KEEP_ALIVE=0 every request goes over a new connection, closed after it.
//   - A request over a kept-alive connection is never slower than one over a new connection:
//     what arrives is acknowledged at once, so a server that holds back the rest of an answer
//     until its first part is acknowledged (Nagle's algorithm) does not wait for the delayed
//     acknowledgement (40 ms on Linux).
//   - No socket or other descriptor of the engine passes to a program that the process launches:
//     all are close-on-exec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace mf::platform {

// Proxy settings of `SetProxy`.
inline constexpr int HTTPREQUEST_PROXYSETTING_PRECONFIG = 0;  // the environment's proxy, if any
inline constexpr int HTTPREQUEST_PROXYSETTING_DIRECT = 1;
inline constexpr int HTTPREQUEST_PROXYSETTING_PROXY = 2;

// Whom the credentials of `SetCredentials` are for.
inline constexpr int HTTPREQUEST_SETCREDENTIALS_FOR_SERVER = 0;
inline constexpr int HTTPREQUEST_SETCREDENTIALS_FOR_PROXY = 1;

// Indices of `Option`.
inline constexpr int WinHttpRequestOption_UserAgentString = 0;
inline constexpr int WinHttpRequestOption_URL = 1;  // read only: the address given to Open
inline constexpr int WinHttpRequestOption_SslErrorIgnoreFlags = 4;
inline constexpr int WinHttpRequestOption_EnableRedirects = 6;
inline constexpr int WinHttpRequestOption_MaxAutomaticRedirects = 14;

// Certificate errors that `SslErrorIgnoreFlags` can name. Checking is off only when all four
// are set together: libcurl cannot ignore one of them and check the others.
inline constexpr std::int32_t SslErrorIgnoreAll = 0x0100 | 0x0200 | 0x1000 | 0x2000;

class HttpRequest {
 public:
  using OptionValue = std::variant<bool, std::int32_t, std::string>;

  // Why the last `Send` gave no response.
  enum class Failure {
    kNone,     // a response arrived
    kNotSent,  // no Send since the last Open
    kNotOpened,
    kKilled,  // the calling thread was killed
    kNameNotResolved,
    kCannotConnect,
    kTimedOut,   // connect limit, or under 1 KiB of progress in the send or receive time-out
    kTooLarge,   // body above kMaxResponseBody
    kSecure,     // certificate or TLS handshake
    kRedirects,  // more than the allowed number of redirects
    kOther,
  };

  // A response body above this size fails the request.
  static constexpr std::size_t kMaxResponseBody = std::size_t{64} << 20;
  static constexpr std::int32_t kDefaultMaxRedirects = 10;

  HttpRequest();
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  // Milliseconds; 0 or less means no limit. Resolve and connect together bound the setting-up
  // of the connection; send and receive bound a stretch that brings under 1 KiB (nothing at all,
  // or a trickle) while the request goes out and while the response comes in, not the length of
  // a steady transfer.
  bool SetTimeouts(std::int32_t resolve, std::int32_t connect, std::int32_t send,
                   std::int32_t receive);
  // PROXY takes "host:port" (an HTTP proxy), or "scheme://host:port" with the scheme http,
  // https, socks5h or socks5, and an optional bypass list of host names separated by ";" or ",".
  bool SetProxy(int setting, std::string_view server = {}, std::string_view bypass = {});
  // Basic credentials for the proxy that SetProxy names (FOR_PROXY; credentials for a server are
  // not offered), sent to the proxy only: to an HTTP proxy with each request or a tunnel's
  // CONNECT, to a SOCKS5 proxy in its own sign-in. They never go into an address, so no message
  // of libcurl's holds them. An empty user sends none; a CR, LF or zero byte is refused.
  bool SetCredentials(std::string_view user, std::string_view password, int flags);
  // Adds a request header, or replaces one of exactly the same name (a name in another case is
  // a header line of its own); an empty value removes it. Headers go with the request sent next,
  // also when given before its `Open`; `Send` uses them up.
  bool SetRequestHeader(std::string_view name, std::string_view value);
  // Starts a new request: any method token; an absolute http or https address. Only
  // synchronous use is offered, so `async` must be false. Clears the last response.
  bool Open(std::string_view method, std::string_view url, bool async = false);

  // False for an unknown index.
  bool GetOption(int index, OptionValue* value) const;
  // Boolean options take a bool or a number (non-zero is true); number options a number; the
  // user agent a string. False for an unknown or read-only index or a wrong type.
  bool SetOption(int index, const OptionValue& value);

  // Sends the opened request with `body` as given (also for GET, empty for none) and waits for
  // the whole response. False when no complete response arrived.
  bool Send(std::string_view body = {});

  // The response of the last successful `Send`; empty or 0 otherwise.
  const std::string& ResponseBody() const { return body_; }
  // The final response's header lines (after redirects), each "name: value" ended by CR LF.
  std::string GetAllResponseHeaders() const;
  int Status() const { return status_; }
  const std::string& StatusText() const { return statusText_; }
  // The body decoded as UTF-8.
  std::u16string ResponseText() const;
  Failure LastFailure() const { return failure_; }

 private:
  using Header = std::pair<std::string, std::string>;
  class Transfer;

  // Send without the record of its outcome; `detail` gets libcurl's words about a failure.
  bool Perform(std::string_view body, std::string& detail);
  void ClearResponse();
  static void PutHeader(std::vector<Header>& headers, std::string_view name,
                        std::string_view value);

  // Settings that outlive one request.
  std::int32_t resolveTimeout_ = 0;
  std::int32_t connectTimeout_ = 60000;
  std::int32_t sendTimeout_ = 30000;
  std::int32_t receiveTimeout_ = 30000;
  int proxySetting_ = HTTPREQUEST_PROXYSETTING_PRECONFIG;
  std::string proxyServer_;
  std::string proxyBypass_;
  std::string proxyUser_;
  std::string proxyPassword_;
  std::string userAgent_ = "Mozilla/4.0 (compatible; Win32; WinHttp.WinHttpRequest.5)";
  std::int32_t sslIgnoreFlags_ = 0;
  bool followRedirects_ = true;
  std::int32_t maxRedirects_ = kDefaultMaxRedirects;

  // The request being prepared.
  bool opened_ = false;
  std::string method_;
  std::string url_;
  std::vector<Header> headers_;

  // The last response.
  Failure failure_ = Failure::kNotSent;
  int status_ = 0;
  int newConnections_ = 0;
  std::string statusText_;
  std::vector<Header> responseHeaders_;
  std::string body_;
};

// Closes every kept-alive connection that no request is using. Safe from any thread.
void CloseIdleConnections();

}  // namespace mf::platform
