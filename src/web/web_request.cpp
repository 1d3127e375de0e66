#include "web/web_request.h"

#include <limits>

#include "platform/request_log.h"
#include "support/threads.h"
#include "web/headers_cookies.h"
#include "web/proxy_setting.h"

namespace mf {
namespace {

// Option indexes and values of the request object.
constexpr std::int32_t kOptionSslErrorIgnoreFlags = 4;
constexpr std::int32_t kOptionEnableRedirects = 6;
// Unknown authority, wrong usage, invalid common name, invalid date: every certificate error.
constexpr std::int32_t kIgnoreAllCertificateErrors = 0x0100 | 0x0200 | 0x1000 | 0x2000;
constexpr std::int32_t kProxySettingNamedProxy = 2;
constexpr std::int32_t kCredentialsForProxy = 1;
constexpr std::int32_t kDefaultTimeoutMs = 15000;

Text MethodName(std::int32_t method) {
  switch (method) {
    case 1:
      return Text("POST");
    case 2:
      return Text("HEAD");
    default:
      return Text("GET");
  }
}

// A time-out beyond what 32 bits of milliseconds hold is cut to the largest that fits.
std::int32_t TimeoutMs(std::int32_t seconds) {
  if (seconds < 1) {
    return kDefaultTimeoutMs;
  }
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  return seconds > kMax / 1000 ? kMax : seconds * 1000;
}

// Truncated toward zero; a value no status can have (or not a number) counts as none.
std::int32_t TruncateStatus(double status) {
  return (status >= 0 && status < 1000) ? static_cast<std::int32_t>(status) : 0;
}

bool ObtainRequestObject(const WebRequestParams& params, ComObject& request) {
  if (params.requestObject.has_value()) {
    ComAssign(request, *params.requestObject);
    return true;
  }
  return ComCreate(request, Text(kHttpRequestProgId));
}

// The process's proxy (proxy_setting.h). Its credentials go over as bytes, so that a password
// outside code page 936 arrives as the user gave it, and apart from the address, so that no
// message about the proxy can hold them.
void UseProcessProxy(const ComObject& request, const ProxySetting& proxy) {
  ComCall(request, Text("SetProxy"), kProxySettingNamedProxy, Text(proxy.Address()));
  if (!proxy.user.empty()) {
    Variant user;
    Variant password;
    VariantSet(user, Bytes(proxy.user));
    VariantSet(password, Bytes(proxy.password));
    ComCall(request, Text("SetCredentials"), user, password, kCredentialsForProxy);
  }
}

void ConfigureConnection(const ComObject& request, const WebRequestParams& params) {
  if (params.timeoutSeconds != -1) {
    const std::int32_t t = TimeoutMs(params.timeoutSeconds);
    ComCall(request, Text("SetTimeouts"), t, t, t, t);
  }
  if (params.proxyAddress.empty()) {
    if (const std::shared_ptr<const ProxySetting> proxy = CurrentProxy()) {
      UseProcessProxy(request, *proxy);
    }
    return;
  }
  ComCall(request, Text("SetProxy"), kProxySettingNamedProxy, params.proxyAddress);
  if (!params.proxyUser.empty() && params.proxyAuthMode.value_or(1) == 1) {
    // Handed over before Open; the request object keeps it for the proxy.
    ComCall(request, Text("SetRequestHeader"), Text("Proxy-Authorization"),
            ProxyCredentialValue(params.proxyUser, params.proxyPassword));
  }
}

void SetHeaders(const ComObject& request, const WebRequestParams& params) {
  const Text headers = CompleteRequestHeaders(params.extraHeaders, params.url);
  if (!params.cookies.empty()) {
    ComCall(request, Text("SetRequestHeader"), Text("Cookie"), params.cookies);
  }
  for (const auto& [name, value] : SplitHeaderLines(headers)) {
    ComCall(request, Text("SetRequestHeader"), name, value);
  }
}

void Send(const ComObject& request, const WebRequestParams& params) {
  if (params.bodyBytes.empty()) {
    ComCall(request, Text("Send"), params.bodyText);
    return;
  }
  Variant body;
  VariantSet(body, params.bodyBytes);
  ComCall(request, Text("Send"), body);
}

}  // namespace

Bytes WebRequest(const WebRequestParams& params) {
  const ComApartmentScope apartment;
  platform::ClearLastRequestOutcome();
  const std::int32_t method = (params.method < 0 || params.method > 2) ? 0 : params.method;
  ComObject request;
  if (!ObtainRequestObject(params, request)) {
    return Bytes();
  }
  ConfigureConnection(request, params);
  ComCall(request, Text("Open"), MethodName(method), params.url, false);
  if (params.disableRedirects) {
    ComSetProperty(request, Text("Option"), kOptionEnableRedirects, std::int32_t{0});
  }
  ComSetProperty(request, Text("Option"), kOptionSslErrorIgnoreFlags, kIgnoreAllCertificateErrors);
  SetHeaders(request, params);
  Send(request, params);

  const Bytes body = VariantToBytes(ComGetVariantProperty(request, Text("ResponseBody")));
  const ResponseCookies response =
      CollectResponseCookies(ComCallText(request, Text("GetallResponseHeaders")));
  if (params.responseHeaders != nullptr) {
    *params.responseHeaders = response.headers;
  }
  const std::int32_t status = TruncateStatus(ComGetNumberProperty(request, Text("Status")));
  if (params.statusCode != nullptr) {
    *params.statusCode = status;
  }
  if (params.receivedCookies != nullptr) {
    *params.receivedCookies = response.cookies;
  }
  ComRelease(request);
  return body;
}

std::string LastRequestFailure() {
  const platform::RequestOutcome& outcome = platform::LastRequestOutcome();
  return outcome.Failed() ? outcome.Reason() : std::string();
}

void EnableFailureLog() {
  platform::SetFailureLog(true);
}

}  // namespace mf
