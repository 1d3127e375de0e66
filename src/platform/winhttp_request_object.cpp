#include "platform/winhttp_request_object.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/http_request.h"

namespace mf::platform {
namespace {

using Failure = HttpRequest::Failure;

std::string ToUtf8(std::u16string_view text) {
  if (text.empty()) {
    return {};
  }
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::u16string FromUtf8(std::string_view bytes) {
  if (bytes.empty()) {
    return {};
  }
  const int length = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(size), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, text.data(), size);
  return text;
}

// An optional text argument: missing or empty gives "", anything else its text.
HRESULT OptionalText(const CallArgs& args, std::size_t index, std::string* text) {
  if (args.IsMissing(index) || args[index].IsEmpty()) {
    text->clear();
    return S_OK;
  }
  Variant converted;
  if (const HRESULT hr = VariantChangeType(&converted, &args[index], 0, VT_BSTR); Failed(hr)) {
    return hr;
  }
  *text = ToUtf8(converted.AsString());
  return S_OK;
}

bool IsByteArray(const Variant& value) {
  return value.Type() == (VT_ARRAY | VT_UI1) || value.Type() == (VT_ARRAY | VT_I1);
}

// A text argument, or a byte array taken as the bytes it holds (a credential that is no text of
// the program's code page).
HRESULT TextOrBytes(const CallArgs& args, std::size_t index, std::string* text) {
  if (IsByteArray(args[index])) {
    text->assign(args[index].AsBytes().begin(), args[index].AsBytes().end());
    return S_OK;
  }
  return OptionalText(args, index, text);
}

HRESULT SendFailureCode(Failure failure) {
  switch (failure) {
    case Failure::kNone:
      return S_OK;
    case Failure::kNotSent:
    case Failure::kNotOpened:
      return kWinHttpCannotCallBeforeOpen;
    case Failure::kKilled:
      return kWinHttpOperationCancelled;
    case Failure::kNameNotResolved:
      return kWinHttpNameNotResolved;
    case Failure::kCannotConnect:
      return kWinHttpCannotConnect;
    case Failure::kTimedOut:
      return kWinHttpTimeout;
    case Failure::kTooLarge:
      return E_OUTOFMEMORY;
    case Failure::kSecure:
      return kWinHttpSecureFailure;
    case Failure::kRedirects:
      return kWinHttpRedirectFailed;
    case Failure::kOther:
      break;
  }
  return kWinHttpConnectionError;
}

Variant OptionToVariant(const HttpRequest::OptionValue& value) {
  if (const auto* flag = std::get_if<bool>(&value)) {
    return Variant::FromBool(*flag);
  }
  if (const auto* number = std::get_if<std::int32_t>(&value)) {
    return Variant::FromInt32(*number);
  }
  return Variant::FromString(FromUtf8(std::get<std::string>(value)));
}

// Booleans stay booleans and texts texts; any other value is taken as a number.
HRESULT VariantToOption(const Variant& value, HttpRequest::OptionValue* option) {
  if (value.Type() == VT_BOOL) {
    *option = value.AsBool();
    return S_OK;
  }
  if (value.Type() == VT_BSTR) {
    *option = ToUtf8(value.AsString());
    return S_OK;
  }
  Variant number;
  if (const HRESULT hr = VariantChangeType(&number, &value, 0, VT_I4); Failed(hr)) {
    return hr;
  }
  *option = number.AsInt32();
  return S_OK;
}

class WinHttpRequestObject final : public DispatchObject {
 public:
  WinHttpRequestObject() : DispatchObject(Type()) {}

 private:
  static std::shared_ptr<const TypeInfo> Type() {
    using Self = WinHttpRequestObject;
    static const auto type =
        TypeInfoBuilder<Self>("IWinHttpRequest")
            .Method("SetTimeouts", {VT_I4, VT_I4, VT_I4, VT_I4}, VT_EMPTY, &Self::SetTimeouts)
            .Method("SetProxy", {VT_I4, VT_VARIANT, VT_VARIANT}, VT_EMPTY, &Self::SetProxy)
            .Optional(2)
            .Method("SetCredentials", {VT_VARIANT, VT_VARIANT, VT_I4}, VT_EMPTY,
                    &Self::SetCredentials)
            .Method("SetRequestHeader", {VT_BSTR, VT_BSTR}, VT_EMPTY, &Self::SetRequestHeader)
            .Method("Open", {VT_BSTR, VT_BSTR, VT_VARIANT}, VT_EMPTY, &Self::Open)
            .Optional(1)
            .Get("Option", {VT_I4}, VT_VARIANT, &Self::GetOption)
            .Put("Option", {VT_I4, VT_VARIANT}, &Self::PutOption)
            .Method("Send", {VT_VARIANT}, VT_EMPTY, &Self::Send)
            .Optional(1)
            .Method("WaitForResponse", {VT_VARIANT}, VT_BOOL, &Self::WaitForResponse)
            .Optional(1)
            .Get("ResponseBody", {}, VT_VARIANT, &Self::ResponseBody)
            .Get("ResponseText", {}, VT_BSTR, &Self::ResponseText)
            .Method("GetAllResponseHeaders", {}, VT_BSTR, &Self::GetAllResponseHeaders)
            .Get("Status", {}, VT_I4, &Self::Status)
            .Get("StatusText", {}, VT_BSTR, &Self::StatusText)
            .Build();
    return type;
  }

  HRESULT SetTimeouts(CallArgs& args, Variant&) {
    request_.SetTimeouts(args[0].AsInt32(), args[1].AsInt32(), args[2].AsInt32(),
                         args[3].AsInt32());
    return S_OK;
  }

  HRESULT SetProxy(CallArgs& args, Variant&) {
    std::string server;
    std::string bypass;
    if (const HRESULT hr = OptionalText(args, 1, &server); Failed(hr)) {
      return hr;
    }
    if (const HRESULT hr = OptionalText(args, 2, &bypass); Failed(hr)) {
      return hr;
    }
    return request_.SetProxy(args[0].AsInt32(), server, bypass) ? S_OK : E_INVALIDARG;
  }

  HRESULT SetCredentials(CallArgs& args, Variant&) {
    std::string user;
    std::string password;
    if (const HRESULT hr = TextOrBytes(args, 0, &user); Failed(hr)) {
      return hr;
    }
    if (const HRESULT hr = TextOrBytes(args, 1, &password); Failed(hr)) {
      return hr;
    }
    return request_.SetCredentials(user, password, args[2].AsInt32()) ? S_OK : E_INVALIDARG;
  }

  HRESULT SetRequestHeader(CallArgs& args, Variant&) {
    const bool ok =
        request_.SetRequestHeader(ToUtf8(args[0].AsString()), ToUtf8(args[1].AsString()));
    return ok ? S_OK : kWinHttpInvalidHeader;
  }

  HRESULT Open(CallArgs& args, Variant&) {
    Variant async = Variant::FromBool(false);
    if (!args.IsMissing(2)) {
      if (const HRESULT hr = VariantChangeType(&async, &args[2], 0, VT_BOOL); Failed(hr)) {
        return hr;
      }
    }
    if (async.AsBool()) {
      return E_NOTIMPL;  // only synchronous requests are offered
    }
    const bool ok = request_.Open(ToUtf8(args[0].AsString()), ToUtf8(args[1].AsString()));
    return ok ? S_OK : kWinHttpInvalidUrl;
  }

  HRESULT GetOption(CallArgs& args, Variant& result) {
    HttpRequest::OptionValue value;
    if (!request_.GetOption(args[0].AsInt32(), &value)) {
      return kWinHttpInvalidOption;
    }
    result = OptionToVariant(value);
    return S_OK;
  }

  HRESULT PutOption(CallArgs& args, Variant&) {
    HttpRequest::OptionValue current;
    if (!request_.GetOption(args[0].AsInt32(), &current)) {
      return kWinHttpInvalidOption;
    }
    HttpRequest::OptionValue value;
    if (const HRESULT hr = VariantToOption(args[1], &value); Failed(hr)) {
      return hr;
    }
    return request_.SetOption(args[0].AsInt32(), value) ? S_OK : E_INVALIDARG;
  }

  HRESULT Send(CallArgs& args, Variant&) {
    std::string body;
    const Variant& given = args[0];
    if (IsByteArray(given)) {
      body.assign(given.AsBytes().begin(), given.AsBytes().end());
    } else if (given.Type() != VT_NULL) {
      if (const HRESULT hr = OptionalText(args, 0, &body); Failed(hr)) {
        return hr;
      }
    }
    request_.Send(body);
    return SendFailureCode(request_.LastFailure());
  }

  HRESULT WaitForResponse(CallArgs&, Variant& result) {
    result = Variant::FromBool(true);  // Send has already waited
    return S_OK;
  }

  HRESULT ResponseBody(CallArgs&, Variant& result) {
    if (!HaveResponse()) {
      return kWinHttpCannotCallBeforeSend;
    }
    const std::string& body = request_.ResponseBody();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(body.data());
    result = Variant::FromBytes(std::vector<std::uint8_t>(bytes, bytes + body.size()));
    return S_OK;
  }

  HRESULT ResponseText(CallArgs&, Variant& result) {
    if (!HaveResponse()) {
      return kWinHttpCannotCallBeforeSend;
    }
    result = Variant::FromString(request_.ResponseText());
    return S_OK;
  }

  HRESULT GetAllResponseHeaders(CallArgs&, Variant& result) {
    if (!HaveResponse()) {
      return kWinHttpCannotCallBeforeSend;
    }
    result = Variant::FromString(FromUtf8(request_.GetAllResponseHeaders()));
    return S_OK;
  }

  HRESULT Status(CallArgs&, Variant& result) {
    if (!HaveResponse()) {
      return kWinHttpCannotCallBeforeSend;
    }
    result = Variant::FromInt32(request_.Status());
    return S_OK;
  }

  HRESULT StatusText(CallArgs&, Variant& result) {
    if (!HaveResponse()) {
      return kWinHttpCannotCallBeforeSend;
    }
    result = Variant::FromString(FromUtf8(request_.StatusText()));
    return S_OK;
  }

  bool HaveResponse() const { return request_.LastFailure() == Failure::kNone; }

  HttpRequest request_;
};

}  // namespace

ClassEntry WinHttpRequestClass() {
  Clsid clsid;
  CLSIDFromString(u"{2087C2F4-2CEF-4953-A8AB-66779B670495}", &clsid);
  return ClassEntry{kWinHttpRequestProgId, clsid,
                    [] { return std::make_shared<WinHttpRequestObject>(); }};
}

}  // namespace mf::platform
