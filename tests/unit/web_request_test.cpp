// The order and arguments of the calls WebRequest makes on the request object, observed through
// a recording stand-in registered under the request object's ProgID.
#include "web/web_request.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"
#include "support/encoding.h"
#include "support/threads.h"

namespace mf {
namespace {

using namespace platform;

std::string Describe(const platform::Variant& value) {
  const platform::Variant& v = value.Deref();
  switch (v.Type()) {
    case VT_BSTR:
      return "'" + Utf16ToAnsi(v.AsString()).str() + "'";
    case VT_I4:
      return std::to_string(v.AsInt32());
    case VT_BOOL:
      return v.AsBool() ? "true" : "false";
    case VT_ARRAY | VT_UI1:
      return "bytes(" + std::string(v.AsBytes().begin(), v.AsBytes().end()) + ")";
    default:
      return v.IsMissing() ? "missing" : "vt" + std::to_string(v.Type());
  }
}

// Records every call as one line: the member name and its arguments.
class RecordingRequest : public DispatchObject {
 public:
  explicit RecordingRequest(std::vector<std::string>* log) : DispatchObject(Type()), log_(log) {}

  static std::shared_ptr<const TypeInfo> Type() {
    static const auto type =
        TypeInfoBuilder<RecordingRequest>("IWinHttpRequest")
            .Method("SetTimeouts", {VT_I4, VT_I4, VT_I4, VT_I4}, VT_EMPTY, Record("SetTimeouts"))
            .Method("SetProxy", {VT_I4, VT_VARIANT, VT_VARIANT}, VT_EMPTY, Record("SetProxy"))
            .Optional(2)
            .Method("SetRequestHeader", {VT_BSTR, VT_BSTR}, VT_EMPTY, Record("SetRequestHeader"))
            .Method("Open", {VT_BSTR, VT_BSTR, VT_VARIANT}, VT_EMPTY, Record("Open"))
            .Optional(1)
            .Put("Option", {VT_I4, VT_VARIANT}, Record("Option="))
            .Method("Send", {VT_VARIANT}, VT_EMPTY, Record("Send"))
            .Optional(1)
            .Get("ResponseBody", {}, VT_VARIANT, Respond("ResponseBody"))
            .Method("GetAllResponseHeaders", {}, VT_BSTR, Respond("GetAllResponseHeaders"))
            .Get("Status", {}, VT_I4, Respond("Status"))
            .Build();
    return type;
  }

 private:
  using Fn = TypeInfoBuilder<RecordingRequest>::Fn;

  static Fn Record(std::string name) {
    return [name](RecordingRequest& self, CallArgs& args, platform::Variant&) {
      std::string line = name;
      for (std::size_t i = 0; i < args.size(); ++i) {
        line += " " + Describe(args[i]);
      }
      self.log_->push_back(line);
      return S_OK;
    };
  }

  static Fn Respond(std::string name) {
    return [name](RecordingRequest& self, CallArgs&, platform::Variant& result) {
      self.log_->push_back(name);
      if (name == "ResponseBody") {
        result = platform::Variant::FromBytes({'o', 'k'});
      } else if (name == "Status") {
        result = platform::Variant::FromInt32(200);
      } else {
        result = platform::Variant::FromString(
            u"Content-Type: text/html\r\nset-cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n");
      }
      return S_OK;
    };
  }

  std::vector<std::string>* log_;
};

const std::string kAgent =
    "SetRequestHeader 'User-Agent' 'Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)'";

class WebRequestCalls : public ::testing::Test {
 protected:
  std::vector<std::string> log_;
  ScopedClassRegistration recorder_{u"WinHttp.WinHttpRequest.5.1",
                                    [this] { return std::make_shared<RecordingRequest>(&log_); }};
};

TEST_F(WebRequestCalls, OnlyTheAddressGiven) {
  const Bytes body = WebRequest({.url = Text("http://h/p")});
  EXPECT_EQ(body, Bytes("ok"));
  const std::vector<std::string> expected = {
      "SetTimeouts 15000 15000 15000 15000",
      "Open 'GET' 'http://h/p' false",
      "Option= 4 13056",
      "SetRequestHeader 'Accept' '*/*'",
      "SetRequestHeader 'Referer' 'http://h/p'",
      "SetRequestHeader 'Accept-Language' 'zh-cn'",
      kAgent,
      "SetRequestHeader 'Content-Type' 'application/x-www-form-urlencoded'",
      "Send ''",
      "ResponseBody",
      "GetAllResponseHeaders",
      "Status",
  };
  EXPECT_EQ(log_, expected);
}

TEST_F(WebRequestCalls, MethodsOutOfRangeAreGet) {
  for (std::int32_t method : {-1, 5}) {
    log_.clear();
    WebRequest({.url = Text("u"), .method = method});
    EXPECT_EQ(log_.at(1), "Open 'GET' 'u' false");
  }
  log_.clear();
  WebRequest({.url = Text("u"), .method = 1});
  EXPECT_EQ(log_.at(1), "Open 'POST' 'u' false");
  log_.clear();
  WebRequest({.url = Text("u"), .method = 2});
  EXPECT_EQ(log_.at(1), "Open 'HEAD' 'u' false");
}

TEST_F(WebRequestCalls, TimeOuts) {
  WebRequest({.url = Text("u"), .timeoutSeconds = -1});
  EXPECT_EQ(log_.at(0), "Open 'GET' 'u' false");
  for (std::int32_t seconds : {0, -5}) {
    log_.clear();
    WebRequest({.url = Text("u"), .timeoutSeconds = seconds});
    EXPECT_EQ(log_.at(0), "SetTimeouts 15000 15000 15000 15000");
  }
  log_.clear();
  WebRequest({.url = Text("u"), .timeoutSeconds = 30});
  EXPECT_EQ(log_.at(0), "SetTimeouts 30000 30000 30000 30000");
  log_.clear();
  WebRequest({.url = Text("u"), .timeoutSeconds = 2147484});  // does not fit: the largest that does
  EXPECT_EQ(log_.at(0), "SetTimeouts 2147483647 2147483647 2147483647 2147483647");
}

TEST_F(WebRequestCalls, ProxyWithCredentialsBeforeOpen) {
  WebRequest({.url = Text("u"),
              .proxyAddress = Text("127.0.0.1:3128"),
              .proxyUser = Text("user"),
              .proxyPassword = Text("pw")});
  ASSERT_GE(log_.size(), 4u);
  EXPECT_EQ(log_[1], "SetProxy 2 '127.0.0.1:3128'");
  EXPECT_EQ(log_[2], "SetRequestHeader 'Proxy-Authorization' 'Basic dXNlcjpwdw=='");
  EXPECT_EQ(log_[3], "Open 'GET' 'u' false");
}

TEST_F(WebRequestCalls, ProxyCredentialsOnlyWithProxyUserAndMode1) {
  WebRequest({.url = Text("u"), .proxyUser = Text("user")});  // no proxy: neither call
  EXPECT_EQ(log_.at(1), "Open 'GET' 'u' false");
  log_.clear();
  WebRequest({.url = Text("u"), .proxyAddress = Text("p:1")});  // no user: no credentials
  EXPECT_EQ(log_.at(2), "Open 'GET' 'u' false");
  log_.clear();
  WebRequest({.url = Text("u"),
              .proxyAddress = Text("p:1"),
              .proxyUser = Text("user"),
              .proxyAuthMode = 0});
  EXPECT_EQ(log_.at(1), "SetProxy 2 'p:1'");
  EXPECT_EQ(log_.at(2), "Open 'GET' 'u' false");
}

TEST_F(WebRequestCalls, RedirectsOffCookiesAndCallerHeaders) {
  WebRequest({.url = Text("u"),
              .cookies = Text("a=1; b=2"),
              .extraHeaders = Text("X-One: 1\r\nUser-Agent: me"),
              .disableRedirects = true});
  const std::vector<std::string> expected = {
      "SetTimeouts 15000 15000 15000 15000",
      "Open 'GET' 'u' false",
      "Option= 6 0",
      "Option= 4 13056",
      "SetRequestHeader 'Cookie' 'a=1; b=2'",
      "SetRequestHeader 'X-One' '1'",
      "SetRequestHeader 'User-Agent' 'me'",
      "SetRequestHeader 'Accept' '*/*'",
      "SetRequestHeader 'Referer' 'u'",
      "SetRequestHeader 'Accept-Language' 'zh-cn'",
      "SetRequestHeader 'Content-Type' 'application/x-www-form-urlencoded'",
      "Send ''",
      "ResponseBody",
      "GetAllResponseHeaders",
      "Status",
  };
  EXPECT_EQ(log_, expected);
}

TEST_F(WebRequestCalls, BodyBytesWinOverBodyText) {
  WebRequest({.url = Text("u"), .method = 1, .bodyText = Text("text")});
  EXPECT_EQ(log_.at(8), "Send 'text'");
  log_.clear();
  WebRequest({.url = Text("u"), .method = 1, .bodyText = Text("text"), .bodyBytes = Bytes("raw")});
  EXPECT_EQ(log_.at(8), "Send bytes(raw)");
}

TEST_F(WebRequestCalls, OutParametersAndApartmentBalance) {
  Text headers("old"), cookies("old");
  std::int32_t status = -1;
  const int depth = platform::ComApartmentDepth();
  WebRequest({.url = Text("u"),
              .receivedCookies = &cookies,
              .responseHeaders = &headers,
              .statusCode = &status});
  EXPECT_EQ(platform::ComApartmentDepth(), depth);
  EXPECT_EQ(status, 200);
  EXPECT_EQ(cookies, Text("a=1; b=2"));
  EXPECT_EQ(headers,
            Text("Content-Type: text/html\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n"));
}

TEST_F(WebRequestCalls, GivenRequestObjectIsUsedAndKeptByTheCaller) {
  ComApartmentScope apartment;
  ComObject mine;
  ASSERT_TRUE(ComCreate(mine, Text(kHttpRequestProgId)));
  const long references = mine.object().use_count();
  WebRequest({.url = Text("u"), .requestObject = mine});
  EXPECT_EQ(log_.at(1), "Open 'GET' 'u' false");
  EXPECT_EQ(mine.object().use_count(), references);
}

TEST_F(WebRequestCalls, GivenEmptyRequestObjectFailsEveryCall) {
  std::int32_t status = -1;
  Text headers("old");
  EXPECT_TRUE(WebRequest({.url = Text("u"),
                          .responseHeaders = &headers,
                          .statusCode = &status,
                          .requestObject = ComObject()})
                  .empty());
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(headers, Text());
}

TEST(WebRequestCreation, FailureKeepsOutParametersAndBalancesTheApartment) {
  ScopedClassRegistration hidden(u"WinHttp.WinHttpRequest.5.1", nullptr);
  Text headers("kept"), cookies("kept");
  std::int32_t status = 7;
  const int depth = platform::ComApartmentDepth();
  EXPECT_TRUE(WebRequest({.url = Text("u"),
                          .receivedCookies = &cookies,
                          .responseHeaders = &headers,
                          .statusCode = &status})
                  .empty());
  EXPECT_EQ(headers, Text("kept"));
  EXPECT_EQ(cookies, Text("kept"));
  EXPECT_EQ(status, 7);
  EXPECT_EQ(platform::ComApartmentDepth(), depth);
}

}  // namespace
}  // namespace mf
