#include "platform/winhttp_request_object.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "loopback_server.h"
#include "support/com_access.h"
#include "support/threads.h"
#include "tiny_proxy.h"
#include "web/web_request.h"

namespace mf {
namespace {

using platform::VT_BSTR;
using platform::VT_I4;
using platform::VT_VARIANT;
using test::LocalServer;

std::string HeaderOf(const httplib::Headers& headers, const char* name) {
  return httplib::detail::get_header_value(headers, name, 0, "");
}

void AddRoutes(LocalServer& local) {
  auto echo = [&local](const httplib::Request& request, httplib::Response& response) {
    local.SeeBody(request.body);
    response.set_header("X-Method", request.method);
    response.set_content(request.body, "application/octet-stream");
  };
  local.server().Get("/echo", echo);
  local.server().Post("/echo", echo);
  local.server().Get("/moved", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/echo");
  });
}

class WinHttpRequestObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AddRoutes(local_);
    local_.Start();
  }

  Text Url(const std::string& path) const { return Text(local_.Url(path)); }

  // A request object created by ProgID and opened with a GET of `path`.
  ComObject Opened(const std::string& path, const char* method = "GET") {
    ComObject request;
    EXPECT_TRUE(ComCreate(request, Text(kHttpRequestProgId)));
    ComCall(request, Text("SetTimeouts"), 5000, 5000, 5000, 5000);
    ComCall(request, Text("Open"), Text(method), Url(path), false);
    EXPECT_EQ(ComErrorCode(), 0);
    return request;
  }

  ComApartmentScope apartment_;
  LocalServer local_{std::make_unique<httplib::Server>()};
};

TEST_F(WinHttpRequestObjectTest, TheClassIsRegisteredWithTheMembersAsDeclared) {
  platform::Clsid clsid;
  ASSERT_EQ(platform::CLSIDFromProgID(u"winhttp.winhttprequest.5.1", &clsid), platform::S_OK);
  EXPECT_EQ(platform::StringFromClsid(clsid), u"{2087C2F4-2CEF-4953-A8AB-66779B670495}");
  platform::ObjectRef object;
  ASSERT_EQ(platform::CoCreateInstance(clsid, platform::CLSCTX_INPROC_SERVER, &object),
            platform::S_OK);
  platform::DispatchObject* dispatch = object->QueryDispatch();
  ASSERT_NE(dispatch, nullptr);
  std::shared_ptr<const platform::TypeInfo> type;
  ASSERT_EQ(dispatch->GetTypeInfo(platform::LOCALE_USER_DEFAULT, &type), platform::S_OK);

  const auto open = type->Bind(u"open", platform::DISPATCH_METHOD);
  ASSERT_NE(open.member, nullptr);
  EXPECT_EQ(open.member->params, (std::vector<platform::VarType>{VT_BSTR, VT_BSTR, VT_VARIANT}));
  EXPECT_EQ(open.member->optionalCount, 1);
  const auto option = type->Bind(u"Option", platform::DISPATCH_PROPERTYPUT);
  ASSERT_NE(option.member, nullptr);
  EXPECT_EQ(option.member->params, (std::vector<platform::VarType>{VT_I4, VT_VARIANT}));
  const auto send = type->Bind(u"Send", platform::DISPATCH_METHOD);
  ASSERT_NE(send.member, nullptr);
  EXPECT_EQ(send.member->optionalCount, 1);
  const auto status = type->Bind(u"Status", platform::DISPATCH_PROPERTYGET);
  ASSERT_NE(status.member, nullptr);
  EXPECT_EQ(status.member->result, VT_I4);
}

TEST_F(WinHttpRequestObjectTest, ARequestByMemberNameReturnsTheResponse) {
  ComObject request = Opened("/echo");
  ComCall(request, Text("SetRequestHeader"), Text("X-Asked"), Text("yes"));
  ComCall(request, Text("Send"), Text());
  ASSERT_EQ(ComErrorCode(), 0);
  EXPECT_EQ(HeaderOf(local_.Seen().headers, "X-Asked"), "yes");
  EXPECT_EQ(ComGetNumberProperty(request, Text("Status")), 200.0);
  EXPECT_EQ(ComGetTextProperty(request, Text("StatusText")), Text("OK"));
  const Text headers = ComCallText(request, Text("GetallResponseHeaders"));
  EXPECT_NE(headers.view().find("X-Method: GET\r\n"), std::string_view::npos);
  const Variant body = ComGetVariantProperty(request, Text("ResponseBody"));
  EXPECT_EQ(body.value().Type(), platform::VT_ARRAY | platform::VT_UI1);
  EXPECT_TRUE(body.value().AsBytes().empty());
}

TEST_F(WinHttpRequestObjectTest, TextBodiesGoAsUtf8AndByteArraysAsTheyAre) {
  ComObject request = Opened("/echo", "POST");
  ComCall(request, Text("Send"), "中文"_gbk);
  ASSERT_EQ(ComErrorCode(), 0);
  EXPECT_EQ(local_.Seen().body, "中文");
  EXPECT_EQ(VariantToBytes(ComGetVariantProperty(request, Text("ResponseBody"))), Bytes("中文"));

  request = Opened("/echo", "POST");
  const Bytes bytes(std::string_view("a\0\xff", 3));
  Variant body;
  VariantSet(body, bytes);
  ComCall(request, Text("Send"), body);
  ASSERT_EQ(ComErrorCode(), 0);
  EXPECT_EQ(local_.Seen().body, bytes.view());
}

TEST_F(WinHttpRequestObjectTest, FailuresAreReportedAsFailedCalls) {
  ComObject request = Opened("/echo");
  ComGetNumberProperty(request, Text("Status"));
  EXPECT_NE(ComErrorCode(), 0);  // no response yet
  ComCall(request, Text("SetRequestHeader"), Text("X-Bad"), Text("a\r\nX-Injected: 1"));
  EXPECT_NE(ComErrorCode(), 0);
  ComCall(request, Text("Send"));
  ASSERT_EQ(ComErrorCode(), 0);
  EXPECT_EQ(local_.Seen().headers.count("X-Injected"), 0u);

  ComCall(request, Text("Open"), Text("GET"), Text("http://127.0.0.1:1/"), false);
  ComCall(request, Text("Send"));
  EXPECT_NE(ComErrorCode(), 0);
  EXPECT_TRUE(VariantToBytes(ComGetVariantProperty(request, Text("ResponseBody"))).empty());
  EXPECT_EQ(ComGetNumberProperty(request, Text("Status")), 0.0);
  EXPECT_TRUE(ComCallText(request, Text("GetAllResponseHeaders")).empty());
}

TEST_F(WinHttpRequestObjectTest, OptionsAreReadAndWrittenByIndex) {
  ComObject request = Opened("/moved");
  EXPECT_TRUE(ComSetProperty(request, Text("Option"), std::int32_t{6}, std::int32_t{0}));
  EXPECT_TRUE(ComSetProperty(request, Text("Option"), std::int32_t{4}, std::int32_t{0x3300}));
  EXPECT_EQ(ComGetNumberProperty(request, Text("Option"), std::int32_t{4}), 0x3300);
  EXPECT_FALSE(ComSetProperty(request, Text("Option"), std::int32_t{77}, std::int32_t{1}));
  ComCall(request, Text("Send"));
  EXPECT_EQ(ComGetNumberProperty(request, Text("Status")), 302.0);
}

TEST_F(WinHttpRequestObjectTest, WebRequestFetchesThroughTheRealObject) {
  std::int32_t status = -1;
  Text headers;
  WebRequestParams params;
  params.url = Url("/echo");
  params.statusCode = &status;
  params.responseHeaders = &headers;
  params.bodyText = Text("k=v");
  params.method = 1;
  const Bytes body = WebRequest(params);
  EXPECT_EQ(body, Bytes("k=v"));
  EXPECT_EQ(status, 200);
  EXPECT_NE(headers.view().find("X-Method: POST"), std::string_view::npos);
  const httplib::Headers seen = local_.Seen().headers;
  EXPECT_EQ(HeaderOf(seen, "User-Agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
  EXPECT_EQ(HeaderOf(seen, "Referer"), local_.Url("/echo"));
  EXPECT_EQ(HeaderOf(seen, "Accept-Language"), "zh-cn");
  EXPECT_EQ(HeaderOf(seen, "Content-Type"), "application/x-www-form-urlencoded");

  params = WebRequestParams();
  params.url = Text("http://127.0.0.1:1/");
  params.statusCode = &status;
  EXPECT_TRUE(WebRequest(params).empty());
  EXPECT_EQ(status, 0);
}

TEST_F(WinHttpRequestObjectTest, WebRequestSendsProxyCredentialsToTheProxyOnly) {
  const auto directory =
      std::filesystem::temp_directory_path() / ("winhttp_test." + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  {
    test::TinyProxy proxy(directory);
    ASSERT_TRUE(proxy.Ready());
    std::int32_t status = 0;
    WebRequestParams params;
    params.url = Url("/echo");
    params.statusCode = &status;
    params.proxyAddress = Text(proxy.Address());
    params.proxyUser = Text("user");
    params.proxyPassword = Text("secret");
    WebRequest(params);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(local_.Seen().count, 1);
    EXPECT_EQ(local_.Seen().headers.count("Proxy-Authorization"), 0u);

    params.proxyPassword = Text("wrong");
    WebRequest(params);
    EXPECT_TRUE(status == 401 || status == 407) << status;
    EXPECT_EQ(local_.Seen().count, 1);
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace mf
