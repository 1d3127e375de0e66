#include "support/com_access.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/encoding.h"
#include "support/threads.h"

namespace mf {
namespace {

namespace p = platform;
using p::CallArgs;
using p::HRESULT;
using p::S_OK;

// A member that answers with a fixed text.
auto Answer(std::u16string text) {
  return [text](auto&, CallArgs&, p::Variant& result) {
    result = p::Variant::FromString(text);
    return S_OK;
  };
}

// A property write that keeps its value (the last argument) in `field`.
template <class T>
auto Store(std::u16string T::*field) {
  return [field](T& self, CallArgs& args, p::Variant&) {
    self.*field = args[args.size() - 1].AsString();
    return S_OK;
  };
}

struct DropWatch {
  ComObject* holder = nullptr;
  bool destroyed = false;
  bool aliveAfterDrop = false;
};

// A test object whose members cover every kind of lookup, argument and failure.
class Recorder : public p::DispatchObject {
 public:
  Recorder() : DispatchObject(Type()) {}

  static std::shared_ptr<const p::TypeInfo> Type() {
    using V = p::Variant;
    static const auto type =
        p::TypeInfoBuilder<Recorder>("IRecorder")
            // "Both" is a property and a method: which one runs tells the lookup order.
            .Get("Both", {}, p::VT_BSTR, Answer(u"get"))
            .Method("Both", {}, p::VT_BSTR, Answer(u"method"))
            .Put("Both", {p::VT_BSTR}, Store(&Recorder::log_))
            // "Mixed" can be written and called, not read.
            .Put("Mixed", {p::VT_BSTR}, Store(&Recorder::log_))
            .Method("Mixed", {p::VT_BSTR}, p::VT_EMPTY,
                    [](Recorder& self, CallArgs& args, V&) {
                      self.log_ = u"called " + args[0].AsString();
                      return S_OK;
                    })
            .Get("ReadOnly", {}, p::VT_BSTR, Answer(u"read"))
            .Method("Run", {}, p::VT_BSTR, Answer(u"ran"))
            .Get("Name", {}, p::VT_BSTR,
                 [](Recorder& self, CallArgs&, V& result) {
                   result = V::FromString(self.name_);
                   return S_OK;
                 })
            .Put("Name", {p::VT_BSTR}, Store(&Recorder::name_))
            .Method("Echo", {p::VT_VARIANT}, p::VT_VARIANT,
                    [](Recorder&, CallArgs& args, V& result) {
                      result = args[0];
                      return S_OK;
                    })
            .Method("Add", {p::VT_I4, p::VT_I4}, p::VT_I4,
                    [](Recorder&, CallArgs& args, V& result) {
                      int second = args.IsMissing(1) ? 100 : args[1].AsInt32();
                      result = V::FromInt32(args[0].AsInt32() + second);
                      return S_OK;
                    })
            .Optional(1)
            .Method("Describe", {p::VT_VARIANT, p::VT_VARIANT, p::VT_VARIANT}, p::VT_BSTR,
                    &Recorder::Describe)
            .Optional(3)
            .Method("Triple", {p::VT_BYREF | p::VT_I4}, p::VT_EMPTY,
                    [](Recorder&, CallArgs& args, V&) {
                      *args.Out(0) = V::FromInt32(args[0].AsInt32() * 3);
                      return S_OK;
                    })
            .Method("Spoil", {p::VT_BYREF | p::VT_I4}, p::VT_EMPTY,
                    [](Recorder&, CallArgs& args, V&) {
                      *args.Out(0) = V::FromInt32(-1);
                      return p::E_FAIL;
                    })
            // Drops the caller's last reference to this object and tells whether it lived on.
            .Method("Drop", {}, p::VT_EMPTY,
                    [](Recorder& self, CallArgs&, V&) {
                      DropWatch* watch = self.watch_;
                      *watch->holder = ComObject();
                      watch->aliveAfterDrop = !watch->destroyed;
                      return S_OK;
                    })
            .Method("Count", {}, p::VT_I4,
                    [](Recorder&, CallArgs& args, V& result) {
                      result = V::FromInt32(static_cast<std::int32_t>(args.size()));
                      return S_OK;
                    })
            .VarArgs()
            .Method("Fail", {p::VT_I4}, p::VT_EMPTY,
                    [](Recorder&, CallArgs& args, V&) {
                      return p::MakeHresult(static_cast<std::uint32_t>(args[0].AsInt32()));
                    })
            .Get("Item", {p::VT_I4}, p::VT_BSTR,
                 [](Recorder& self, CallArgs& args, V& result) {
                   result = V::FromString(self.items_[args[0].AsInt32() % 4]);
                   return S_OK;
                 })
            .Put("Item", {p::VT_I4, p::VT_BSTR},
                 [](Recorder& self, CallArgs& args, V&) {
                   self.items_[args[0].AsInt32() % 4] = args[1].AsString();
                   return S_OK;
                 })
            .Method("Self", {}, p::VT_DISPATCH,
                    [](Recorder& self, CallArgs&, V& result) {
                      result = V::FromObject(self.shared_from_this());
                      return S_OK;
                    })
            .Method("Identity", {p::VT_DISPATCH}, p::VT_BOOL,
                    [](Recorder& self, CallArgs& args, V& result) {
                      result = V::FromBool(args[0].Type() == p::VT_DISPATCH &&
                                           args[0].AsObject().get() == &self);
                      return S_OK;
                    })
            .Field("Label", p::VT_BSTR, [](Recorder& self) -> V& { return self.label_; })
            .Field("Child", p::VT_DISPATCH, [](Recorder& self) -> V& { return self.child_; })
            .TypeName("Nested")
            .Build();
    return type;
  }

  std::u16string log_;
  std::u16string name_;
  DropWatch* watch_ = nullptr;
  ~Recorder() override {
    if (watch_ != nullptr) {
      watch_->destroyed = true;
    }
  }

 private:
  HRESULT Describe(CallArgs& args, p::Variant& result) {
    std::u16string text;
    for (std::size_t i = 0; i < 3; ++i) {
      text += args.IsMissing(i) ? u"-" : u"+";
    }
    result = p::Variant::FromString(text + static_cast<char16_t>(u'0' + args.size()));
    return S_OK;
  }

  std::u16string items_[4];
  p::Variant label_;
  p::Variant child_;
};

class ComAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ComCreate(object_, Text("Test.Recorder")));
    recorder_ = static_cast<Recorder*>(object_.object().get());
  }

  ComApartmentScope apartment_;
  p::ScopedClassRegistration registration_{u"Test.Recorder",
                                           [] { return std::make_shared<Recorder>(); }};
  ComObject object_;
  Recorder* recorder_ = nullptr;
};

TEST_F(ComAccessTest, EachOperationTriesTheMemberKindsInItsOwnOrder) {
  EXPECT_EQ(ComCallText(object_, Text("Both")), Text("method"));
  EXPECT_EQ(ComGetTextProperty(object_, Text("Both")), Text("get"));
  EXPECT_TRUE(ComSetProperty(object_, Text("Both"), Text("put")));
  EXPECT_EQ(recorder_->log_, u"put");

  EXPECT_TRUE(ComSetProperty(object_, Text("Mixed"), Text("x")));
  EXPECT_EQ(recorder_->log_, u"x");
  ComCall(object_, Text("Mixed"), Text("y"));
  EXPECT_EQ(recorder_->log_, u"called y");
  // A read falls back to the method, which wants its argument.
  EXPECT_EQ(ComGetTextProperty(object_, Text("Mixed")), Text());
  EXPECT_EQ(ComErrorCode(), -9);

  // A call falls back to a property read, a read to a method, a write to a method.
  EXPECT_EQ(ComCallText(object_, Text("ReadOnly")), Text("read"));
  EXPECT_EQ(ComGetTextProperty(object_, Text("Run")), Text("ran"));
  EXPECT_TRUE(ComSetProperty(object_, Text("Echo"), Text("as a method")));
  EXPECT_FALSE(ComSetProperty(object_, Text("ReadOnly"), Text("z")));
  EXPECT_EQ(ComErrorCode(), -3);
}

TEST_F(ComAccessTest, NamesAreMatchedWithoutRegardToCase) {
  EXPECT_TRUE(ComSetProperty(object_, Text("nAME"), Text("abc")));
  EXPECT_EQ(ComGetTextProperty(object_, Text("NAME")), Text("abc"));
  EXPECT_EQ(ComCallText(object_, Text("eChO"), Text("hi")), Text("hi"));
}

// Bindings are remembered between calls: each must stay with its own type and kind of
// operation, also when types come and go and a new one may take the place of an old one.
TEST_F(ComAccessTest, RepeatedCallsBindPerTypeAndPerOperation) {
  for (int round = 0; round < 3; ++round) {
    const std::u16string tag(1, static_cast<char16_t>(u'0' + round));
    auto getter = p::TypeInfoBuilder<p::DispatchObject>("IGetter")
                      .Get("Value", {}, p::VT_BSTR, Answer(u"get" + tag))
                      .Build();
    auto caller = p::TypeInfoBuilder<p::DispatchObject>("ICaller")
                      .Method("Value", {}, p::VT_BSTR, Answer(u"call" + tag))
                      .TypeName("Kind")
                      .Build();
    const ComObject withGetter(std::make_shared<p::DispatchObject>(getter));
    const ComObject withMethod(std::make_shared<p::DispatchObject>(caller));
    const Text expectGet = Utf16ToAnsi(u"get" + tag);
    const Text expectCall = Utf16ToAnsi(u"call" + tag);
    for (int repeat = 0; repeat < 2; ++repeat) {
      EXPECT_EQ(ComGetTextProperty(withGetter, Text("value")), expectGet);
      EXPECT_EQ(ComGetTextProperty(withMethod, Text("value")), expectCall);
      EXPECT_EQ(ComCallText(withGetter, Text("VALUE")), expectGet);
      EXPECT_FALSE(ComSetProperty(withGetter, Text("value"), Text("x")));
      EXPECT_EQ(ComErrorCode(), -3);
      EXPECT_EQ(ComCallText(withMethod, Text("Kind")), Text());
      EXPECT_EQ(ComErrorCode(), -3);
      // The same spelling on the recorder binds the recorder's own members.
      EXPECT_EQ(ComGetTextProperty(object_, Text("value")), Text());
      EXPECT_EQ(ComErrorCode(), -3);
      EXPECT_EQ(ComGetTextProperty(object_, Text("Both")), Text("get"));
      EXPECT_EQ(ComCallText(object_, Text("Both")), Text("method"));
    }
  }
}

TEST_F(ComAccessTest, UnknownNamesFailWithMinusThreeAndSuccessResetsTheCode) {
  EXPECT_EQ(ComGetTextProperty(object_, Text("NoSuchThing")), Text());
  EXPECT_EQ(ComErrorCode(), -3);
  EXPECT_EQ(ComGetTextProperty(object_, Text("Both")), Text("get"));
  EXPECT_EQ(ComErrorCode(), 0);
  EXPECT_EQ(ComCallText(object_, Text("Nested")), Text());
  EXPECT_EQ(ComErrorCode(), -3);
}

TEST_F(ComAccessTest, WritingAPropertyTheObjectLacksChangesNothing) {
  ASSERT_TRUE(ComSetProperty(object_, Text("Name"), Text("kept")));
  EXPECT_FALSE(ComSetProperty(object_, Text("Nmae"), Text("lost")));
  EXPECT_EQ(ComErrorCode(), -3);
  EXPECT_EQ(recorder_->name_, u"kept");
  EXPECT_EQ(recorder_->log_, u"");
}

TEST_F(ComAccessTest, OmittedArgumentsUseTheMembersDefaults) {
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), 5), 105);
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), 5, kOmitted, kOmitted), 105);
  EXPECT_EQ(ComErrorCode(), 0);
  // Only trailing ones are dropped; an inner one reaches the member as "missing".
  EXPECT_EQ(ComCallText(object_, Text("Describe"), kOmitted, 1, kOmitted), Text("-+-2"));
  EXPECT_EQ(ComCallText(object_, Text("Describe"), kOmitted, kOmitted), Text("---0"));
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), kOmitted, 1), 0);
  EXPECT_EQ(ComErrorCode(), -17);
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), kOmitted), 0);
  EXPECT_EQ(ComErrorCode(), -9);
}

TEST_F(ComAccessTest, TooManyArgumentsFailWithMinusFiveUnlessTheMemberTakesAnyNumber) {
  EXPECT_EQ(ComCallText(object_, Text("Echo"), 1, 2), Text());
  EXPECT_EQ(ComErrorCode(), -5);
  EXPECT_EQ(ComGetTextProperty(object_, Text("Label"), 1), Text());
  EXPECT_EQ(ComErrorCode(), -5);
  EXPECT_EQ(ComCallText(object_, Text("Count"), 1, Text("a"), true, 2.5, kOmitted), Text("4"));
  EXPECT_EQ(ComErrorCode(), 0);
}

TEST_F(ComAccessTest, ArgumentsAreConvertedToTheDeclaredTypes) {
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), Text(" 12 "), 2.5), 14);
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), true, std::uint8_t{200}), 199);
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), Text("twelve")), 0);
  EXPECT_EQ(ComErrorCode(), -7);
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Add"), 3e10), 0);
  EXPECT_EQ(ComErrorCode(), -7);
  // An object reaches a dispatch parameter as that object.
  EXPECT_EQ(ComCallText(object_, Text("Identity"), object_), Text("-1"));
  EXPECT_EQ(ComCallText(object_, Text("Identity"), Text("x")), Text());
  EXPECT_EQ(ComErrorCode(), -7);
}

TEST_F(ComAccessTest, ResultsAreConvertedToTheRequestedKind) {
  EXPECT_EQ(ComCallText(object_, Text("Echo"), 2.5), Text("2.5"));
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Echo"), Text("7.25")), 7.25);
  EXPECT_EQ(ComGetNumberProperty(object_, Text("Echo"), Text("seven")), 0.0);
  EXPECT_EQ(ComErrorCode(), -8);
  EXPECT_TRUE(ComCallObject(object_, Text("Echo"), 1).empty());
  EXPECT_EQ(ComErrorCode(), -8);
  EXPECT_EQ(ComCallObject(object_, Text("Self")).object(), object_.object());
  Variant echoed = ComGetVariantProperty(object_, Text("Echo"), std::uint8_t{9});
  EXPECT_EQ(echoed.value(), p::Variant::FromUInt8(9));
  Variant none = ComGetVariantProperty(object_, Text("Nothing"));
  EXPECT_TRUE(none.value().IsEmpty());
}

TEST_F(ComAccessTest, ChineseTextTravelsThroughUtf16AndBack) {
  ASSERT_TRUE(ComSetProperty(object_, Text("Name"), "磁力链接"_gbk));
  EXPECT_EQ(recorder_->name_, u"磁力链接");
  EXPECT_EQ(ComGetTextProperty(object_, Text("Name")), "磁力链接"_gbk);
}

TEST_F(ComAccessTest, AVariablePassedByReferenceReceivesTheNewValue) {
  Variant variable;
  VariantSet(variable, Text("7"));
  ComCall(object_, Text("Triple"), &variable);
  EXPECT_EQ(ComErrorCode(), 0);
  EXPECT_EQ(variable.value(), p::Variant::FromInt32(21));

  Variant byValue;
  VariantSet(byValue, 4);
  ComCall(object_, Text("Triple"), byValue);
  EXPECT_EQ(ComErrorCode(), 0);
  EXPECT_EQ(byValue.value(), p::Variant::FromInt32(4));

  Variant refused;
  VariantSet(refused, Text("abc"));
  ComCall(object_, Text("Triple"), &refused);
  EXPECT_EQ(ComErrorCode(), -7);
  EXPECT_EQ(VariantToText(refused), Text("abc"));

  // A failed call leaves the variable as it was, whatever the member wrote.
  Variant kept;
  VariantSet(kept, 5);
  ComCall(object_, Text("Spoil"), &kept);
  EXPECT_EQ(ComErrorCode(), -18);
  EXPECT_EQ(kept.value(), p::Variant::FromInt32(5));
}

TEST_F(ComAccessTest, IndexedPropertiesAndDataFields) {
  EXPECT_TRUE(ComSetProperty(object_, Text("Item"), 2, Text("two")));
  EXPECT_TRUE(ComSetProperty(object_, Text("Item"), 3, Text("three")));
  EXPECT_EQ(ComGetTextProperty(object_, Text("Item"), 2), Text("two"));
  EXPECT_EQ(ComGetTextProperty(object_, Text("item"), 3.0), Text("three"));

  EXPECT_TRUE(ComSetProperty(object_, Text("Label"), 42));
  EXPECT_EQ(ComGetTextProperty(object_, Text("label")), Text("42"));
  EXPECT_TRUE(ComSetProperty(object_, Text("Child"), object_));
  EXPECT_EQ(ComGetObjectProperty(object_, Text("Child")).object(), object_.object());
  EXPECT_FALSE(ComSetProperty(object_, Text("Child"), Text("not an object")));
  EXPECT_EQ(ComErrorCode(), -7);
  ComSetProperty(object_, Text("Child"), ComObject());  // no cycle left behind
}

TEST_F(ComAccessTest, ErrorsTheMemberReportsMapToTheirCodes) {
  const std::pair<std::uint32_t, int> cases[] = {
      {0x8002000E, -9},  {0x80020008, -10}, {0x80020009, -11}, {0x80020003, -12},
      {0x80020007, -13}, {0x8002000A, -14}, {0x80020004, -15}, {0x80020005, -16},
      {0x8002000F, -17}, {0x80004005, -18}, {0x8002000B, -18},
  };
  for (auto [hr, code] : cases) {
    ComCall(object_, Text("Fail"), static_cast<std::int32_t>(hr));
    EXPECT_EQ(ComErrorCode(), code) << std::hex << hr;
  }
}

TEST_F(ComAccessTest, ObjectsWithoutDispatchOrTypeInformationFail) {
  ComObject empty;
  EXPECT_EQ(ComGetTextProperty(empty, Text("Name")), Text());
  EXPECT_EQ(ComErrorCode(), -1);
  ComObject plain(std::make_shared<p::Object>());
  EXPECT_FALSE(ComSetProperty(plain, Text("Name"), 1));
  EXPECT_EQ(ComErrorCode(), -2);
  ComObject untyped(std::make_shared<p::DispatchObject>(nullptr));
  EXPECT_EQ(ComGetNumberProperty(untyped, Text("Name")), 0.0);
  EXPECT_EQ(ComErrorCode(), -4);
  auto unbound = p::TypeInfoBuilder<p::DispatchObject>("IUnbound").WithoutTypeComp().Build();
  ComObject unbindable(std::make_shared<p::DispatchObject>(unbound));
  EXPECT_TRUE(ComCallObject(unbindable, Text("Name")).empty());
  EXPECT_EQ(ComErrorCode(), -4);
}

TEST_F(ComAccessTest, ErrorCodesBelongToTheirThread) {
  ComGetTextProperty(object_, Text("Missing"));
  ASSERT_EQ(ComErrorCode(), -3);
  int otherBefore = 1;
  int otherAfter = 1;
  std::thread other([&] {
    otherBefore = ComErrorCode();
    ComObject empty;
    ComCall(empty, Text("Run"));
    otherAfter = ComErrorCode();
  });
  other.join();
  EXPECT_EQ(otherBefore, 0);
  EXPECT_EQ(otherAfter, -1);
  EXPECT_EQ(ComErrorCode(), -3);
}

// An object of a thread that makes member calls while the thread's own objects are destroyed at
// its exit, after those kept for the thread's earlier calls are gone.
struct CallsAtThreadExit {
  ComObject object;
  Text* answer = nullptr;
  ~CallsAtThreadExit() {
    if (answer != nullptr) {
      const ComApartmentScope apartment;
      *answer = ComGetTextProperty(object, Text("ReadOnlyPropertyWithALongName")) +
                ComCallText(object, Text("Both"));
    }
  }
};

TEST_F(ComAccessTest, CallsStillWorkWhileAThreadEnds) {
  const auto type = p::TypeInfoBuilder<p::DispatchObject>("ILongNames")
                        .Get("ReadOnlyPropertyWithALongName", {}, p::VT_BSTR, Answer(u"long"))
                        .Method("Both", {}, p::VT_BSTR, Answer(u"+call"))
                        .Build();
  Text answer;
  std::thread other([&] {
    // Made before the thread's first member call, so destroyed after what that call keeps.
    thread_local CallsAtThreadExit atExit;
    atExit.object = ComObject(std::make_shared<p::DispatchObject>(type));
    atExit.answer = &answer;
    const ComApartmentScope apartment;
    EXPECT_EQ(ComGetTextProperty(atExit.object, Text("ReadOnlyPropertyWithALongName")),
              Text("long"));
  });
  other.join();
  EXPECT_EQ(answer, Text("long+call"));
}

TEST_F(ComAccessTest, CallsOutsideAnApartmentFailAndChangeNothing) {
  ComObject shared = object_;
  int code = 0;
  bool written = true;
  std::thread outside([&] {
    written = ComSetProperty(shared, Text("Name"), Text("outside"));
    code = ComErrorCode();
  });
  outside.join();
  EXPECT_FALSE(written);
  EXPECT_EQ(code, -18);
  EXPECT_EQ(recorder_->name_, u"");
}

TEST_F(ComAccessTest, CreationByProgIdOrClassIdLeavesTheObjectAloneOnFailure) {
  ComObject created;
  std::u16string braces = p::StringFromClsid(registration_.clsid());
  ASSERT_TRUE(ComCreate(created, Utf16ToAnsi(braces)));
  EXPECT_NE(created.object(), object_.object());
  ComObject before = created;
  EXPECT_FALSE(ComCreate(created, Text("No.Such.Class")));
  EXPECT_FALSE(ComCreate(created, Text("{00000000-0000-0000-0000-00000000000}")));
  EXPECT_FALSE(ComCreate(created, Text("{00000000-0000-0000-0000-000000000000}")));
  EXPECT_FALSE(ComCreate(created, Text()));
  EXPECT_EQ(created.object(), before.object());

  struct Sleepy : p::Object {
    HRESULT Run() override { return p::E_FAIL; }
  };
  p::ScopedClassRegistration sleepy(u"Test.Sleepy", [] { return std::make_shared<Sleepy>(); });
  EXPECT_FALSE(ComCreate(created, Text("test.sleepy")));
  EXPECT_EQ(created.object(), before.object());
}

TEST_F(ComAccessTest, CreationRetriesWithoutRemoteServersWhenTheyAreRefused) {
  p::ClassEntry entry{u"Test.Local", p::Clsid{{0x77}}, [] { return std::make_shared<Recorder>(); }};
  entry.refusesRemoteContext = true;
  p::ScopedClassRegistration local(entry);
  ComObject created;
  EXPECT_TRUE(ComCreate(created, Text("Test.Local")));
  EXPECT_FALSE(created.empty());
}

TEST(ComCreateOutsideApartmentTest, Fails) {
  p::ScopedClassRegistration registration(u"Test.Anywhere",
                                          [] { return std::make_shared<Recorder>(); });
  ComObject object;
  EXPECT_FALSE(ComCreate(object, Text("Test.Anywhere")));
  EXPECT_TRUE(ComIsEmpty(object));
}

TEST_F(ComAccessTest, AnObjectKeepsLivingThroughACallThatDropsItsLastReference) {
  DropWatch watch{&object_};
  recorder_->watch_ = &watch;
  ComCall(object_, Text("Drop"));
  EXPECT_EQ(ComErrorCode(), 0);
  EXPECT_TRUE(watch.aliveAfterDrop);
  EXPECT_TRUE(object_.empty());
  EXPECT_TRUE(watch.destroyed);
}

TEST_F(ComAccessTest, AssignAndReleaseCountReferences) {
  const p::ObjectRef& held = object_.object();
  ASSERT_EQ(held.use_count(), 1);
  ComObject copy;
  ComAssign(copy, object_);
  EXPECT_EQ(held.use_count(), 2);
  EXPECT_EQ(copy.object(), held);

  ComObject other;
  ASSERT_TRUE(ComCreate(other, Text("Test.Recorder")));
  std::weak_ptr<p::Object> otherWeak = other.object();
  ComAssign(other, object_);  // what `other` held is released, not leaked
  EXPECT_TRUE(otherWeak.expired());
  EXPECT_EQ(held.use_count(), 3);

  ComRelease(copy);
  ComRelease(other);
  ComRelease(other);
  EXPECT_TRUE(ComIsEmpty(copy));
  EXPECT_EQ(held.use_count(), 1);
  ComObject empty;
  ComAssign(copy, empty);
  EXPECT_TRUE(ComIsEmpty(copy));
}

// ----- Variants ------------------------------------------------------------------------------

TEST(VariantTest, SetStoresEachKindAndToTextConvertsIt) {
  Variant variant;
  ASSERT_TRUE(VariantSet(variant, true));
  EXPECT_EQ(variant.value(), p::Variant::FromBool(true));
  EXPECT_EQ(VariantToText(variant), Text("-1"));
  VariantSet(variant, false);
  EXPECT_EQ(VariantToText(variant), Text("0"));
  VariantSet(variant, -17);
  EXPECT_EQ(variant.value().Type(), p::VT_I4);
  EXPECT_EQ(VariantToText(variant), Text("-17"));
  VariantSet(variant, 0.5);
  EXPECT_EQ(VariantToText(variant), Text("0.5"));
  VariantSet(variant, std::uint8_t{255});
  EXPECT_EQ(variant.value().Type(), p::VT_UI1);
  VariantSet(variant, "中文"_gbk);
  EXPECT_EQ(variant.value().AsString(), u"中文");
  EXPECT_EQ(VariantToText(variant), "中文"_gbk);
  Variant copy;
  VariantSet(copy, variant);
  EXPECT_EQ(copy.value(), variant.value());
  VariantClear(variant);
  EXPECT_TRUE(variant.value().IsEmpty());
  EXPECT_EQ(VariantToText(variant), Text());
  Variant null(p::Variant::Null());
  EXPECT_EQ(VariantToText(null), Text());
}

TEST(VariantTest, ToBytesCopiesByteArraysOfEitherSignAlsoByReference) {
  const char raw[] = {'a', '\0', '\xFF', 'b'};
  Bytes bytes(raw, sizeof raw);
  Variant variant;
  ASSERT_TRUE(VariantSet(variant, bytes));
  EXPECT_EQ(variant.value().Type(), p::VT_ARRAY | p::VT_UI1);
  EXPECT_EQ(VariantToBytes(variant), bytes);

  Variant signedBytes(p::Variant::FromSignedBytes({0x80, 0x00, 0x7F}));
  EXPECT_EQ(VariantToBytes(signedBytes), Bytes("\x80\0\x7F", 3));
  Variant byRef(p::Variant::TypedRef(&variant.value()));
  EXPECT_EQ(VariantToBytes(byRef), bytes);

  Variant text;
  VariantSet(text, Text("AB"));
  EXPECT_EQ(VariantToBytes(text), Bytes("A\0B\0", 4));
  Variant number;
  VariantSet(number, 5);
  EXPECT_TRUE(VariantToBytes(number).empty());
  EXPECT_TRUE(VariantToBytes(Variant()).empty());
}

TEST(VariantTest, ObjectsKeepTheirReferenceUntilCleared) {
  ComObject object(std::make_shared<Recorder>());
  Variant variant;
  VariantSet(variant, object);
  EXPECT_EQ(object.object().use_count(), 2);
  EXPECT_EQ(VariantToText(variant), Text());
  VariantSet(variant, 1);
  EXPECT_EQ(object.object().use_count(), 1);
}

}  // namespace
}  // namespace mf
