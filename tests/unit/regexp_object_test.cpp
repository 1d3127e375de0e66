#include "platform/regexp_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com_apartment.h"

namespace mf::platform {
namespace {

// Calls a member by name as an automation client does: bind through the type information, then
// invoke. `args` in declared order.
HRESULT Call(const ObjectRef& object, std::u16string_view name, InvokeFlags flags,
             std::vector<Variant> args, Variant* result = nullptr) {
  DispatchObject* dispatch = object ? object->QueryDispatch() : nullptr;
  std::shared_ptr<const TypeInfo> type;
  if (dispatch == nullptr || Failed(dispatch->GetTypeInfo(LOCALE_USER_DEFAULT, &type))) {
    return E_NOINTERFACE;
  }
  const BindResult bound = type->Bind(name, flags);
  if (bound.member == nullptr) {
    return DISP_E_MEMBERNOTFOUND;
  }
  DispParams params;
  params.args.assign(args.rbegin(), args.rend());
  if (flags == DISPATCH_PROPERTYPUT) {
    params.namedArgs = {DISPID_PROPERTYPUT};
  }
  Variant ignored;
  return dispatch->Invoke(bound.member->id, LOCALE_USER_DEFAULT, flags, params,
                          result ? result : &ignored, nullptr);
}

Variant Get(const ObjectRef& object, std::u16string_view name, std::vector<Variant> args = {}) {
  Variant result;
  EXPECT_EQ(Call(object, name, DISPATCH_PROPERTYGET, std::move(args), &result), S_OK) << "Get";
  return result;
}

void Put(const ObjectRef& object, std::u16string_view name, Variant value) {
  EXPECT_EQ(Call(object, name, DISPATCH_PROPERTYPUT, {std::move(value)}), S_OK) << "Put";
}

class RegExpObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    Clsid clsid;
    ASSERT_EQ(CLSIDFromProgID(kRegExpProgId, &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, CLSCTX_INPROC_SERVER, &regExp_), S_OK);
  }
  void TearDown() override { CoUninitialize(); }

  ObjectRef Configure(std::u16string pattern, bool ignoreCase = true, bool global = true) {
    Put(regExp_, u"Pattern", Variant::FromString(std::move(pattern)));
    Put(regExp_, u"IgnoreCase", Variant::FromBool(ignoreCase));
    Put(regExp_, u"Multiline", Variant::FromBool(true));
    Put(regExp_, u"Global", Variant::FromBool(global));
    return regExp_;
  }

  ObjectRef Execute(const std::u16string& subject) {
    Variant result;
    EXPECT_EQ(Call(regExp_, u"Execute", DISPATCH_METHOD, {Variant::FromString(subject)}, &result),
              S_OK);
    return result.AsObject();
  }

  ObjectRef regExp_;
};

TEST_F(RegExpObjectTest, FlagsStartFalseAndKeepWhatIsWritten) {
  for (std::u16string_view flag : {u"IgnoreCase", u"Global", u"Multiline"}) {
    SCOPED_TRACE(std::string(flag.begin(), flag.end()));
    EXPECT_EQ(Get(regExp_, flag), Variant::FromBool(false));
    Put(regExp_, flag, Variant::FromBool(true));
    EXPECT_EQ(Get(regExp_, flag), Variant::FromBool(true));
  }
  Put(regExp_, u"pattern", Variant::FromString(u"a.c"));  // names ignore case
  EXPECT_EQ(Get(regExp_, u"Pattern"), Variant::FromString(u"a.c"));
}

TEST_F(RegExpObjectTest, HasNoSinglelineProperty) {
  EXPECT_EQ(Call(regExp_, u"Singleline", DISPATCH_PROPERTYPUT, {Variant::FromBool(true)}),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(RegExpObjectTest, ExecuteGivesMatchesWithIndexesAndGroups) {
  Configure(u"href=\"(.*?)\">(.*?)</a></div>");
  const ObjectRef collection =
      Execute(u"中<a href=\"/a\">甲</a></div><A HREF=\"/b\">乙</A></DIV>\n<a href=\"/c\">丙\n");
  ASSERT_TRUE(collection);
  EXPECT_EQ(Get(collection, u"Count"), Variant::FromInt32(2));

  const ObjectRef second = Get(collection, u"Item", {Variant::FromInt32(1)}).AsObject();
  ASSERT_TRUE(second);
  EXPECT_EQ(Get(second, u"Value"), Variant::FromString(u"HREF=\"/b\">乙</A></DIV>"));
  EXPECT_EQ(Get(second, u"FirstIndex"), Variant::FromInt32(28));
  EXPECT_EQ(Get(second, u"Length"), Variant::FromInt32(21));
  const ObjectRef groups = Get(second, u"SubMatches").AsObject();
  EXPECT_EQ(Get(groups, u"Count"), Variant::FromInt32(2));
  EXPECT_EQ(Get(groups, u"Item", {Variant::FromInt32(0)}), Variant::FromString(u"/b"));
  EXPECT_EQ(Get(groups, u"Item", {Variant::FromDouble(1.0)}), Variant::FromString(u"乙"));
}

TEST_F(RegExpObjectTest, IndexOutsideTheCollectionFailsAndUnsetGroupIsEmpty) {
  Configure(u"(x)|(y)");
  const ObjectRef collection = Execute(u"y");
  Variant result;
  EXPECT_EQ(Call(collection, u"Item", DISPATCH_PROPERTYGET, {Variant::FromInt32(1)}, &result),
            kRegExpInvalidCall);
  EXPECT_EQ(Call(collection, u"Item", DISPATCH_PROPERTYGET, {Variant::FromInt32(-1)}, &result),
            kRegExpInvalidCall);
  const ObjectRef groups =
      Get(Get(collection, u"Item", {Variant::FromInt32(0)}).AsObject(), u"SubMatches").AsObject();
  EXPECT_TRUE(Get(groups, u"Item", {Variant::FromInt32(0)}).IsEmpty());
  EXPECT_EQ(Get(groups, u"Item", {Variant::FromInt32(1)}), Variant::FromString(u"y"));
  EXPECT_EQ(Call(groups, u"Item", DISPATCH_PROPERTYGET, {Variant::FromInt32(2)}, &result),
            kRegExpInvalidCall);
}

TEST_F(RegExpObjectTest, CollectionKeepsItsMatchesWhenTheObjectMovesOn) {
  Configure(u"\\d+");
  const ObjectRef collection = Execute(u"12 345");
  Configure(u"[a-z]");
  EXPECT_EQ(Get(Execute(u"ab"), u"Count"), Variant::FromInt32(2));
  regExp_.reset();
  EXPECT_EQ(Get(collection, u"Count"), Variant::FromInt32(2));
  EXPECT_EQ(Get(Get(collection, u"Item", {Variant::FromInt32(1)}).AsObject(), u"Value"),
            Variant::FromString(u"345"));
}

TEST_F(RegExpObjectTest, ReplaceAndTest) {
  Configure(u"(\\w+)@(\\w+)", true, /*global=*/false);
  Variant result;
  EXPECT_EQ(Call(regExp_, u"Replace", DISPATCH_METHOD,
                 {Variant::FromString(u"a@b c@d"), Variant::FromString(u"$2#$1")}, &result),
            S_OK);
  EXPECT_EQ(result, Variant::FromString(u"b#a c@d"));
  Put(regExp_, u"Global", Variant::FromBool(true));
  EXPECT_EQ(Call(regExp_, u"Replace", DISPATCH_METHOD,
                 {Variant::FromString(u"a@b c@d"), Variant::FromInt32(7)}, &result),
            S_OK);
  EXPECT_EQ(result, Variant::FromString(u"7 7"));

  EXPECT_EQ(Call(regExp_, u"Test", DISPATCH_METHOD, {Variant::FromString(u"x@y")}, &result), S_OK);
  EXPECT_EQ(result, Variant::FromBool(true));
  EXPECT_EQ(Call(regExp_, u"Test", DISPATCH_METHOD, {Variant::FromString(u"xy")}, &result), S_OK);
  EXPECT_EQ(result, Variant::FromBool(false));
}

TEST_F(RegExpObjectTest, FailuresAreTheObjectsOwnCodesNotEmptyResults) {
  Configure(u"(unclosed");
  Variant result;
  const Variant subject = Variant::FromString(u"unclosed");
  EXPECT_EQ(Call(regExp_, u"Execute", DISPATCH_METHOD, {subject}, &result), kRegExpSyntaxError);
  EXPECT_EQ(Call(regExp_, u"Test", DISPATCH_METHOD, {subject}, &result), kRegExpSyntaxError);
  EXPECT_EQ(Call(regExp_, u"Replace", DISPATCH_METHOD, {subject, subject}, &result),
            kRegExpSyntaxError);

  Configure(u"^(a+)+$");  // backtracks exponentially on a line that ends in something else
  EXPECT_EQ(Call(regExp_, u"Execute", DISPATCH_METHOD,
                 {Variant::FromString(std::u16string(64, u'a') + u"b")}, &result),
            kRegExpOutOfStack);
}

TEST_F(RegExpObjectTest, NothingWorksOutsideAnApartment) {
  Configure(u"a");
  CoUninitialize();
  Variant result;
  EXPECT_EQ(Call(regExp_, u"Execute", DISPATCH_METHOD, {Variant::FromString(u"a")}, &result),
            CO_E_NOTINITIALIZED);
  CoInitialize(nullptr);
}

}  // namespace
}  // namespace mf::platform
