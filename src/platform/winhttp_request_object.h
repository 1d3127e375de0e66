// Platform layer, for builtin_classes.cpp; program code uses it through support/com_access.h.
//
// The automation object "WinHttp.WinHttpRequest.5.1" over HttpRequest (platform/http_request.h,
// which describes the transfer itself).
//
//   SetTimeouts(resolve, connect, send, receive)   milliseconds
//   SetProxy(setting[, server[, bypass]])           2 = the named proxy "host:port" or
//                                                   "scheme://host:port"
//   SetCredentials(user, password, flags)           1 = for the proxy (0, for the server, is
//                                                   not offered); texts or byte arrays
//   SetRequestHeader(name, value)                   also before Open; CR or LF: refused
//   Open(method, url[, async])                      only synchronous requests
//   Option(index) get / put                         0 user agent, 1 URL (read only), 4 certificate
//                                                   errors to ignore, 6 redirects, 14 redirect
//                                                   limit
//   Send([body])                                    a string goes as its UTF-8 bytes, a byte array
//                                                   as it is; missing or empty: no body
//   WaitForResponse([timeout])                      true: Send has already waited
//   ResponseBody (byte array), ResponseText, GetAllResponseHeaders, Status, StatusText
//
// Texts cross as UTF-16 and go on the wire as UTF-8; response headers are read as UTF-8. A failed
// Send returns the system's code for the cause (time-out, cannot connect, ...); reading the
// response before one has arrived fails with kWinHttpCannotCallBeforeSend.
//
// Threads: one object serves one thread at a time, as its HttpRequest does; a kill of that
// thread aborts a Send in flight (platform/http_request.h).
#pragma once

#include "platform/automation.h"

namespace mf::platform {

inline constexpr char16_t kWinHttpRequestProgId[] = u"WinHttp.WinHttpRequest.5.1";

// The system's codes for what can go wrong (HRESULTs of WinHTTP's error numbers). A body above
// the size cap fails Send with E_OUTOFMEMORY.
inline constexpr HRESULT kWinHttpTimeout = MakeHresult(0x80072EE2);               // 12002
inline constexpr HRESULT kWinHttpInvalidUrl = MakeHresult(0x80072EE5);            // 12005
inline constexpr HRESULT kWinHttpNameNotResolved = MakeHresult(0x80072EE7);       // 12007
inline constexpr HRESULT kWinHttpInvalidOption = MakeHresult(0x80072EE9);         // 12009
inline constexpr HRESULT kWinHttpOperationCancelled = MakeHresult(0x80072EF1);    // 12017
inline constexpr HRESULT kWinHttpCannotConnect = MakeHresult(0x80072EFD);         // 12029
inline constexpr HRESULT kWinHttpConnectionError = MakeHresult(0x80072EFE);       // 12030
inline constexpr HRESULT kWinHttpCannotCallBeforeOpen = MakeHresult(0x80072F44);  // 12100
inline constexpr HRESULT kWinHttpCannotCallBeforeSend = MakeHresult(0x80072F45);  // 12101
inline constexpr HRESULT kWinHttpHeaderNotFound = MakeHresult(0x80072F76);        // 12150
inline constexpr HRESULT kWinHttpInvalidHeader = MakeHresult(0x80072F79);         // 12153
inline constexpr HRESULT kWinHttpRedirectFailed = MakeHresult(0x80072F7C);        // 12156
inline constexpr HRESULT kWinHttpSecureFailure = MakeHresult(0x80072F8F);         // 12175

// The class entry for the registry (see BuiltinClasses).
ClassEntry WinHttpRequestClass();

}  // namespace mf::platform
