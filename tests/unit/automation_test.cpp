#include "platform/automation.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace mf::platform {
namespace {

class ApartmentTest : public ::testing::Test {
 protected:
  void SetUp() override { CoInitialize(nullptr); }
  void TearDown() override { CoUninitialize(); }
};

// ----- VariantChangeType ---------------------------------------------------------------------

std::u16string AsText(const Variant& value, std::uint16_t flags = 0) {
  Variant text;
  EXPECT_EQ(VariantChangeType(&text, &value, flags, VT_BSTR), S_OK);
  return text.AsString();
}

TEST(VariantChangeTypeTest, BooleansBecomeMinusOneAndZeroUnlessAskedForWords) {
  EXPECT_EQ(AsText(Variant::FromBool(true)), u"-1");
  EXPECT_EQ(AsText(Variant::FromBool(false)), u"0");
  EXPECT_EQ(AsText(Variant::FromBool(true), VARIANT_ALPHABOOL), u"True");
}

TEST(VariantChangeTypeTest, NumbersBecomeTheirDecimalForm) {
  EXPECT_EQ(AsText(Variant()), u"");
  EXPECT_EQ(AsText(Variant::FromInt32(-2147483647 - 1)), u"-2147483648");
  EXPECT_EQ(AsText(Variant::FromUInt8(255)), u"255");
  EXPECT_EQ(AsText(Variant::FromInt8(-5)), u"-5");
  EXPECT_EQ(AsText(Variant::FromDouble(100.0)), u"100");
  EXPECT_EQ(AsText(Variant::FromDouble(2.5)), u"2.5");
  EXPECT_EQ(AsText(Variant::FromDouble(0.1)), u"0.1");
  EXPECT_EQ(AsText(Variant::FromDouble(1.0 / 3)), u"0.333333333333333");
  EXPECT_EQ(AsText(Variant::FromDouble(-0.0)), u"0");
  EXPECT_EQ(AsText(Variant::FromDouble(1e20)), u"1E+20");
  EXPECT_EQ(AsText(Variant::FromDouble(1.5e-7)), u"1.5E-07");
  EXPECT_EQ(AsText(Variant::FromDouble(0.0001)), u"0.0001");
  EXPECT_EQ(AsText(Variant::FromDouble(123456789012345678.0)), u"1.23456789012346E+17");
  EXPECT_EQ(AsText(Variant::FromDouble(123456789012345.0)), u"123456789012345");
}

TEST(VariantChangeTypeTest, TextBecomesNumbersRoundedHalfToEven) {
  struct Case {
    std::u16string text;
    VarType type;
    HRESULT hr;
    double value;
  };
  const Case cases[] = {
      {u" 42 ", VT_I4, S_OK, 42},
      {u"-12.5e1", VT_I4, S_OK, -125},
      {u"4.5", VT_I4, S_OK, 4},
      {u"5.5", VT_I4, S_OK, 6},
      {u"+7", VT_R8, S_OK, 7},
      {u".5", VT_R8, S_OK, 0.5},
      {u"1e-400", VT_R8, S_OK, 0},
      {u"255.4", VT_UI1, S_OK, 255},
      {u"-128", VT_I1, S_OK, -128},
      {u"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
      {u"256", VT_UI1, DISP_E_OVERFLOW, 0},
      {u"1e400", VT_R8, DISP_E_OVERFLOW, 0},
      {u"", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"abc", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"1e", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {u"1 2", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"0x10", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {u"inf", VT_R8, DISP_E_TYPEMISMATCH, 0},
  };
  for (const Case& c : cases) {
    Variant source = Variant::FromString(c.text);
    Variant number;
    ASSERT_EQ(VariantChangeType(&number, &source, 0, c.type), c.hr)
        << std::string(c.text.begin(), c.text.end());
    if (c.hr == S_OK) {
      Variant real;
      ASSERT_EQ(VariantChangeType(&real, &number, 0, VT_R8), S_OK);
      EXPECT_EQ(real.AsDouble(), c.value);
      EXPECT_EQ(number.Type(), c.type);
    }
  }
}

TEST(VariantChangeTypeTest, BooleansFromTextAndNumbers) {
  auto toBool = [](const Variant& value) {
    Variant result;
    HRESULT hr = VariantChangeType(&result, &value, 0, VT_BOOL);
    return hr == S_OK ? (result.AsBool() ? 1 : 0) : -1;
  };
  EXPECT_EQ(toBool(Variant::FromString(u"TRUE")), 1);
  EXPECT_EQ(toBool(Variant::FromString(u"false")), 0);
  EXPECT_EQ(toBool(Variant::FromString(u"-3")), 1);
  EXPECT_EQ(toBool(Variant::FromString(u"yes")), -1);
  EXPECT_EQ(toBool(Variant::FromDouble(0.0)), 0);
  Variant number;
  Variant yes = Variant::FromBool(true);
  ASSERT_EQ(VariantChangeType(&number, &yes, 0, VT_I4), S_OK);
  EXPECT_EQ(number.AsInt32(), -1);
}

TEST(VariantChangeTypeTest, StringsAndByteArraysConvertThroughUtf16LittleEndian) {
  Variant text = Variant::FromString(u"A\u4E2D");
  Variant bytes;
  ASSERT_EQ(VariantChangeType(&bytes, &text, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(bytes.AsBytes(), (std::vector<std::uint8_t>{0x41, 0x00, 0x2D, 0x4E}));
  Variant back;
  ASSERT_EQ(VariantChangeType(&back, &bytes, 0, VT_BSTR), S_OK);
  EXPECT_EQ(back.AsString(), u"A\u4E2D");

  Variant odd = Variant::FromSignedBytes({0x41, 0x00, 0x42});
  ASSERT_EQ(VariantChangeType(&back, &odd, 0, VT_BSTR), S_OK);
  EXPECT_EQ(back.AsString(), std::u16string(u"AB"));
  Variant unsignedCopy;
  ASSERT_EQ(VariantChangeType(&unsignedCopy, &odd, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_EQ(unsignedCopy.Type(), VT_ARRAY | VT_UI1);
  EXPECT_EQ(unsignedCopy.AsBytes(), odd.AsBytes());

  Variant number = Variant::FromInt32(3);
  EXPECT_EQ(VariantChangeType(&bytes, &number, 0, VT_ARRAY | VT_UI1), DISP_E_TYPEMISMATCH);
}

TEST(VariantChangeTypeTest, FailureLeavesTheDestinationAndRefusesUnknownKinds) {
  Variant destination = Variant::FromInt32(9);
  Variant null = Variant::Null();
  EXPECT_EQ(VariantChangeType(&destination, &null, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  Variant missing = Variant::Missing();
  EXPECT_EQ(VariantChangeType(&destination, &missing, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&destination, &null, 0, VT_VARIANT), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&destination, &null, 0, 2 /* VT_I2 */), DISP_E_BADVARTYPE);
  EXPECT_EQ(destination, Variant::FromInt32(9));
}

TEST(VariantChangeTypeTest, ConvertsInPlaceAndLooksThroughReferences) {
  Variant target = Variant::FromString(u"12");
  Variant ref = Variant::Ref(&target);
  Variant number;
  ASSERT_EQ(VariantChangeType(&number, &ref, 0, VT_I4), S_OK);
  EXPECT_EQ(number.AsInt32(), 12);
  ASSERT_EQ(VariantChangeType(&target, &target, 0, VT_R8), S_OK);
  EXPECT_EQ(target, Variant::FromDouble(12));
  EXPECT_EQ(Variant::TypedRef(&target).Type(), VT_BYREF | VT_R8);
}

TEST(VariantChangeTypeTest, ObjectsConvertOnlyToObjectKinds) {
  auto plain = std::make_shared<Object>();
  Variant unknown = Variant::FromObject(plain);
  EXPECT_EQ(unknown.Type(), VT_UNKNOWN);
  Variant out;
  EXPECT_EQ(VariantChangeType(&out, &unknown, 0, VT_DISPATCH), E_NOINTERFACE);
  EXPECT_EQ(VariantChangeType(&out, &unknown, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
  auto dispatch = std::make_shared<DispatchObject>(nullptr);
  Variant asUnknown = Variant::FromUnknown(dispatch);
  ASSERT_EQ(VariantChangeType(&out, &asUnknown, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(out.Type(), VT_DISPATCH);
  EXPECT_EQ(out.AsObject(), dispatch);
  EXPECT_EQ(dispatch.use_count(), 3);
}

// ----- Binding and dispatch ------------------------------------------------------------------

class Sample : public DispatchObject {
 public:
  Sample() : DispatchObject(Type()) {}

  static std::shared_ptr<const TypeInfo> Type() {
    static const auto type =
        TypeInfoBuilder<Sample>("ISample")
            .Method("Join", {VT_BSTR, VT_I4}, VT_BSTR, &Sample::Join)
            .Optional(1)
            .Get("Value", {}, VT_I4,
                 [](Sample& self, CallArgs&, Variant& result) {
                   result = Variant::FromInt32(self.value_);
                   return S_OK;
                 })
            .Put("Value", {VT_I4},
                 [](Sample& self, CallArgs& args, Variant&) {
                   self.value_ = args[0].AsInt32();
                   return S_OK;
                 })
            .Method("Double", {VT_BYREF | VT_I4}, VT_EMPTY,
                    [](Sample&, CallArgs& args, Variant&) {
                      *args.Out(0) = Variant::FromInt32(args[0].AsInt32() * 2);
                      return S_OK;
                    })
            .Method("Count", {}, VT_I4,
                    [](Sample&, CallArgs& args, Variant& result) {
                      result = Variant::FromInt32(static_cast<std::int32_t>(args.size()));
                      return S_OK;
                    })
            .VarArgs()
            .Method(
                "Throw", {}, VT_EMPTY,
                [](Sample&, CallArgs&, Variant&) -> HRESULT { throw std::runtime_error("broken"); })
            .Field("Label", VT_BSTR, [](Sample& self) -> Variant& { return self.label_; })
            .Field("Child", VT_DISPATCH, [](Sample& self) -> Variant& { return self.child_; })
            .TypeName("Kind")
            .Build();
    return type;
  }

 private:
  HRESULT Join(CallArgs& args, Variant& result) {
    int times = args.IsMissing(1) ? 1 : args[1].AsInt32();
    std::u16string joined;
    for (int i = 0; i < times; ++i) {
      joined += args[0].AsString();
    }
    result = Variant::FromString(joined);
    return S_OK;
  }

  int value_ = 0;
  Variant label_;
  Variant child_;
};

TEST(TypeInfoTest, BindsByNameIgnoringCaseAndByKind) {
  auto type = Sample::Type();
  BindResult get = type->Bind(u"vALUE", DISPATCH_PROPERTYGET);
  BindResult put = type->Bind(u"value", DISPATCH_PROPERTYPUT);
  ASSERT_NE(get.member, nullptr);
  ASSERT_NE(put.member, nullptr);
  EXPECT_EQ(get.member->kind, MemberKind::PropertyGet);
  EXPECT_EQ(put.member->kind, MemberKind::PropertyPut);
  EXPECT_EQ(get.member->id, put.member->id);
  EXPECT_EQ(type->Bind(u"Value", DISPATCH_METHOD).kind, DescKind::None);
  EXPECT_EQ(type->Bind(u"Join", DISPATCH_PROPERTYGET).kind, DescKind::None);
  EXPECT_EQ(type->Bind(u"Joi", DISPATCH_METHOD).kind, DescKind::None);
  EXPECT_EQ(type->Bind(u"kind", DISPATCH_METHOD).kind, DescKind::TypeComp);
}

TEST(TypeInfoTest, DataFieldsBindAsGetAndAsPutByValueOrByReference) {
  auto type = Sample::Type();
  EXPECT_EQ(type->Bind(u"Label", DISPATCH_PROPERTYGET).kind, DescKind::Variable);
  EXPECT_EQ(type->Bind(u"Label", DISPATCH_PROPERTYPUT).kind, DescKind::Variable);
  EXPECT_EQ(type->Bind(u"Label", DISPATCH_PROPERTYPUTREF).kind, DescKind::None);
  EXPECT_EQ(type->Bind(u"Child", DISPATCH_PROPERTYPUT).kind, DescKind::None);
  EXPECT_EQ(type->Bind(u"Child", DISPATCH_PROPERTYPUTREF).kind, DescKind::Variable);
  EXPECT_EQ(type->Bind(u"Label", DISPATCH_METHOD).kind, DescKind::None);
}

TEST(TypeInfoTest, ObjectsMayLackDispatchTypeInformationOrBinding) {
  Object plain;
  EXPECT_EQ(plain.QueryDispatch(), nullptr);
  DispatchObject bare(nullptr);
  std::shared_ptr<const TypeInfo> info;
  EXPECT_EQ(bare.GetTypeInfo(LOCALE_USER_DEFAULT, &info), E_NOTIMPL);
  auto unbound = TypeInfoBuilder<DispatchObject>("INone").WithoutTypeComp().Build();
  const TypeInfo* comp = nullptr;
  EXPECT_EQ(unbound->GetTypeComp(&comp), E_NOTIMPL);
  EXPECT_EQ(Sample::Type()->GetTypeComp(&comp), S_OK);
  EXPECT_EQ(comp, Sample::Type().get());
}

class InvokeTest : public ApartmentTest {
 protected:
  // Invokes `name` with `flags`; `args` in natural order.
  HRESULT Call(std::u16string_view name, InvokeFlags flags, std::vector<Variant> args,
               Variant* result = nullptr, std::vector<DispId> named = {}) {
    const MemberDesc* member = Sample::Type()->Bind(name, flags).member;
    if (member == nullptr) {
      return DISP_E_UNKNOWNNAME;
    }
    DispParams params{{args.rbegin(), args.rend()}, std::move(named)};
    return sample_.Invoke(member->id, LOCALE_USER_DEFAULT, flags, params, result, &excep_);
  }

  Sample sample_;
  ExcepInfo excep_;
};

TEST_F(InvokeTest, ConvertsArgumentsToTheDeclaredTypesAndFillsOptionalOnes) {
  Variant result;
  ASSERT_EQ(
      Call(u"join", DISPATCH_METHOD, {Variant::FromInt32(7), Variant::FromString(u"3")}, &result),
      S_OK);
  EXPECT_EQ(result.AsString(), u"777");
  ASSERT_EQ(Call(u"Join", DISPATCH_METHOD, {Variant::FromString(u"ab")}, &result), S_OK);
  EXPECT_EQ(result.AsString(), u"ab");
  ASSERT_EQ(
      Call(u"Join", DISPATCH_METHOD, {Variant::FromString(u"ab"), Variant::Missing()}, &result),
      S_OK);
  EXPECT_EQ(result.AsString(), u"ab");
}

TEST_F(InvokeTest, RefusesWrongArgumentsWithTheStandardCodes) {
  auto s = [](const char16_t* text) { return Variant::FromString(text); };
  EXPECT_EQ(Call(u"Join", DISPATCH_METHOD, {}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(u"Join", DISPATCH_METHOD, {s(u"a"), s(u"1"), s(u"2")}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(u"Join", DISPATCH_METHOD, {Variant::Missing(), s(u"1")}), DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(Call(u"Join", DISPATCH_METHOD, {s(u"a"), s(u"x")}), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Call(u"Join", DISPATCH_METHOD, {s(u"a"), s(u"9e99")}), DISP_E_OVERFLOW);
  EXPECT_EQ(Call(u"Join", DISPATCH_METHOD, {s(u"a")}, nullptr, {DISPID_PROPERTYPUT}),
            DISP_E_NONAMEDARGS);
  EXPECT_EQ(Call(u"Value", DISPATCH_PROPERTYPUT, {Variant::FromInt32(1)}), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(Call(u"Double", DISPATCH_METHOD, {Variant::FromInt32(1)}), DISP_E_TYPEMISMATCH);
  DispParams none;
  EXPECT_EQ(sample_.Invoke(999, LOCALE_USER_DEFAULT, DISPATCH_METHOD, none, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(InvokeTest, PropertiesFieldsReferencesAndVariableArguments) {
  ASSERT_EQ(Call(u"Value", DISPATCH_PROPERTYPUT, {Variant::FromString(u"41")}, nullptr,
                 {DISPID_PROPERTYPUT}),
            S_OK);
  Variant result;
  ASSERT_EQ(Call(u"Value", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result, Variant::FromInt32(41));

  ASSERT_EQ(Call(u"Label", DISPATCH_PROPERTYPUT, {Variant::FromDouble(1.5)}, nullptr,
                 {DISPID_PROPERTYPUT}),
            S_OK);
  ASSERT_EQ(Call(u"label", DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result, Variant::FromString(u"1.5"));

  Variant number = Variant::FromInt32(21);
  ASSERT_EQ(Call(u"Double", DISPATCH_METHOD, {Variant::TypedRef(&number)}), S_OK);
  EXPECT_EQ(number, Variant::FromInt32(42));
  ASSERT_EQ(Call(u"Double", DISPATCH_METHOD, {Variant::Ref(&number)}), S_OK);
  EXPECT_EQ(number, Variant::FromInt32(84));

  ASSERT_EQ(Call(u"Count", DISPATCH_METHOD,
                 {Variant::FromBool(true), Variant(), Variant::FromDouble(2)}, &result),
            S_OK);
  EXPECT_EQ(result, Variant::FromInt32(3));
}

TEST_F(InvokeTest, MemberExceptionsBecomeDispatchExceptions) {
  EXPECT_EQ(Call(u"Throw", DISPATCH_METHOD, {}), DISP_E_EXCEPTION);
  EXPECT_EQ(excep_.description, u"broken");
  EXPECT_EQ(excep_.source, u"ISample");
}

TEST(InvokeOutsideApartmentTest, FailsAndDoesNothing) {
  ASSERT_EQ(ComApartmentDepth(), 0);
  Sample sample;
  const MemberDesc* put = Sample::Type()->Bind(u"Value", DISPATCH_PROPERTYPUT).member;
  DispParams params{{Variant::FromInt32(5)}, {DISPID_PROPERTYPUT}};
  EXPECT_EQ(
      sample.Invoke(put->id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, params, nullptr, nullptr),
      CO_E_NOTINITIALIZED);
  CoInitialize(nullptr);
  const MemberDesc* get = Sample::Type()->Bind(u"Value", DISPATCH_PROPERTYGET).member;
  DispParams none;
  Variant result;
  EXPECT_EQ(
      sample.Invoke(get->id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, none, &result, nullptr),
      S_OK);
  CoUninitialize();
  EXPECT_EQ(result, Variant::FromInt32(0));
}

// ----- Class registry ------------------------------------------------------------------------

TEST(ClassIdTest, ParsesAndPrintsBracedClassIds) {
  Clsid clsid;
  ASSERT_EQ(CLSIDFromString(u"{3f4daca4-160d-11d2-a8e9-00104b365c9f}", &clsid), S_OK);
  EXPECT_EQ(clsid.bytes[0], 0x3F);
  EXPECT_EQ(clsid.bytes[15], 0x9F);
  EXPECT_EQ(StringFromClsid(clsid), u"{3F4DACA4-160D-11D2-A8E9-00104B365C9F}");
  for (const char16_t* bad : {u"3F4DACA4-160D-11D2-A8E9-00104B365C9F", u"{3F4DACA4}",
                              u"{3F4DACA4-160D-11D2-A8E9-00104B365C9G}",
                              u"{3F4DACA4+160D-11D2-A8E9-00104B365C9F}", u""}) {
    EXPECT_EQ(CLSIDFromString(bad, &clsid), CO_E_CLASSSTRING);
  }
}

TEST_F(ApartmentTest, ScopedRegistrationCreatesItsObjectsAndRestoresTheEarlierClass) {
  Clsid original{{1, 2, 3}};
  ScopedClassRegistration outer(
      ClassEntry{u"Test.Scoped", original, [] { return std::make_shared<Sample>(); }});
  Clsid found;
  {
    auto plain = std::make_shared<Object>();
    ScopedClassRegistration inner(u"TEST.SCOPED", [plain] { return plain; });
    ASSERT_EQ(CLSIDFromProgID(u"test.scoped", &found), S_OK);
    EXPECT_EQ(found, original);
    ObjectRef made;
    ASSERT_EQ(CoCreateInstance(found, CLSCTX_INPROC_SERVER, &made), S_OK);
    EXPECT_EQ(made, plain);
  }
  ObjectRef made;
  ASSERT_EQ(CoCreateInstance(original, CLSCTX_INPROC_SERVER, &made), S_OK);
  EXPECT_NE(made->QueryDispatch(), nullptr);
  {
    ScopedClassRegistration hidden(u"Test.Scoped", nullptr);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Scoped", &found), CO_E_CLASSSTRING);
    EXPECT_EQ(CoCreateInstance(original, CLSCTX_INPROC_SERVER, &made), REGDB_E_CLASSNOTREG);
  }
  EXPECT_EQ(CLSIDFromProgID(u"Test.Scoped", &found), S_OK);
}

TEST_F(ApartmentTest, CreationChecksContextsFactoriesAndRunning) {
  struct Sleepy : Object {
    HRESULT Run() override { return E_FAIL; }
  };
  ClassEntry entry{u"Test.Contexts", Clsid{{9}}, [] { return std::make_shared<Sleepy>(); }};
  entry.contexts = CLSCTX_LOCAL_SERVER;
  entry.refusesRemoteContext = true;
  ScopedClassRegistration registration(entry);
  ObjectRef made;
  EXPECT_EQ(CoCreateInstance(entry.clsid, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, &made),
            E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(entry.clsid, CLSCTX_INPROC_SERVER, &made), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoCreateInstance(entry.clsid, CLSCTX_LOCAL_SERVER, &made), S_OK);
  EXPECT_EQ(OleRun(made), E_FAIL);
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);

  ScopedClassRegistration empty(ClassEntry{u"Test.Nothing", Clsid{{10}}, [] { return nullptr; }});
  EXPECT_EQ(CoCreateInstance(Clsid{{10}}, CLSCTX_INPROC_SERVER, &made), E_OUTOFMEMORY);
}

TEST(ClassRegistryTest, CreationOutsideAnApartmentFails) {
  ScopedClassRegistration registration(u"Test.Outside", [] { return std::make_shared<Object>(); });
  ObjectRef made;
  EXPECT_EQ(CoCreateInstance(registration.clsid(), CLSCTX_INPROC_SERVER, &made),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(made, nullptr);
}

}  // namespace
}  // namespace mf::platform
