#include "platform/regexp_object.h"

#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/regexp_engine.h"

namespace mf::platform {
namespace {

using SharedMatches = std::shared_ptr<const RegExpMatches>;

std::int32_t ToInt32(std::size_t value) {
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(value < kMax ? value : kMax);
}

// Whether `index` (as the caller gave it) names one of `count` items.
bool InRange(std::int32_t index, std::size_t count) {
  return index >= 0 && static_cast<std::size_t>(index) < count;
}

// Subjects are declared as "any variant" so that they come by reference and a long page is not
// copied on its way in. A string is read as it is; any other value is converted (into
// `converted`).
HRESULT TextArgument(const Variant& argument, Variant& converted, std::u16string_view* text) {
  if (argument.Type() != VT_BSTR) {
    if (const HRESULT hr = VariantChangeType(&converted, &argument, 0, VT_BSTR); Failed(hr)) {
      return hr;
    }
    *text = converted.AsString();
    return S_OK;
  }
  *text = argument.AsString();
  return S_OK;
}

HRESULT FailureOf(const RegExpEngine& engine) {
  return engine.LastStatus() == RegExpStatus::kBadPattern ? kRegExpSyntaxError : kRegExpOutOfStack;
}

class SubMatchesObject final : public DispatchObject {
 public:
  SubMatchesObject(SharedMatches matches, std::size_t match)
      : DispatchObject(Type()), matches_(std::move(matches)), match_(match) {}

 private:
  static std::shared_ptr<const TypeInfo> Type() {
    static const auto type =
        TypeInfoBuilder<SubMatchesObject>("ISubMatches")
            .Get("Count", {}, VT_I4,
                 [](SubMatchesObject& self, CallArgs&, Variant& result) {
                   result = Variant::FromInt32(ToInt32(self.matches_->GroupCount()));
                   return S_OK;
                 })
            .Get("Item", {VT_I4}, VT_VARIANT, &SubMatchesObject::Item)
            .Build();
    return type;
  }

  HRESULT Item(CallArgs& args, Variant& result) {
    const std::int32_t index = args[0].AsInt32();
    if (!InRange(index, matches_->GroupCount())) {
      return kRegExpInvalidCall;
    }
    const auto group = matches_->Group(match_, static_cast<std::size_t>(index) + 1);
    if (group) {
      result = Variant::FromString(std::u16string(*group));
    }
    return S_OK;
  }

  SharedMatches matches_;
  std::size_t match_;
};

class MatchObject final : public DispatchObject {
 public:
  MatchObject(SharedMatches matches, std::size_t match)
      : DispatchObject(Type()), matches_(std::move(matches)), match_(match) {}

 private:
  static std::shared_ptr<const TypeInfo> Type() {
    static const auto type =
        TypeInfoBuilder<MatchObject>("IMatch2")
            .Get("Value", {}, VT_BSTR,
                 [](MatchObject& self, CallArgs&, Variant& result) {
                   result = Variant::FromString(std::u16string(self.matches_->Value(self.match_)));
                   return S_OK;
                 })
            .Get("FirstIndex", {}, VT_I4,
                 [](MatchObject& self, CallArgs&, Variant& result) {
                   result = Variant::FromInt32(ToInt32(self.matches_->FirstIndex(self.match_)));
                   return S_OK;
                 })
            .Get("Length", {}, VT_I4,
                 [](MatchObject& self, CallArgs&, Variant& result) {
                   result = Variant::FromInt32(ToInt32(self.matches_->Length(self.match_)));
                   return S_OK;
                 })
            .Get("SubMatches", {}, VT_DISPATCH,
                 [](MatchObject& self, CallArgs&, Variant& result) {
                   result = Variant::FromObject(self.SubMatches());
                   return S_OK;
                 })
            .Build();
    return type;
  }

  // Made on first use and kept: callers read the groups of a match one at a time.
  ObjectRef SubMatches() {
    const std::lock_guard lock(mutex_);
    if (subMatches_ == nullptr) {
      subMatches_ = std::make_shared<SubMatchesObject>(matches_, match_);
    }
    return subMatches_;
  }

  SharedMatches matches_;
  std::size_t match_;
  std::mutex mutex_;
  ObjectRef subMatches_;
};

class MatchCollectionObject final : public DispatchObject {
 public:
  explicit MatchCollectionObject(SharedMatches matches)
      : DispatchObject(Type()), matches_(std::move(matches)) {}

 private:
  static std::shared_ptr<const TypeInfo> Type() {
    static const auto type = TypeInfoBuilder<MatchCollectionObject>("IMatchCollection2")
                                 .Get("Count", {}, VT_I4,
                                      [](MatchCollectionObject& self, CallArgs&, Variant& result) {
                                        result =
                                            Variant::FromInt32(ToInt32(self.matches_->Count()));
                                        return S_OK;
                                      })
                                 .Get("Item", {VT_I4}, VT_DISPATCH, &MatchCollectionObject::Item)
                                 .Build();
    return type;
  }

  HRESULT Item(CallArgs& args, Variant& result) {
    const std::int32_t index = args[0].AsInt32();
    if (!InRange(index, matches_->Count())) {
      return kRegExpInvalidCall;
    }
    result = Variant::FromObject(MatchAt(static_cast<std::size_t>(index)));
    return S_OK;
  }

  // Callers read the groups of one match after another, asking for the match each time: the
  // match asked for last is kept and handed out again while the same one is asked for.
  ObjectRef MatchAt(std::size_t index) {
    const std::lock_guard lock(mutex_);
    if (last_ == nullptr || lastIndex_ != index) {
      last_ = std::make_shared<MatchObject>(matches_, index);
      lastIndex_ = index;
    }
    return last_;
  }

  SharedMatches matches_;
  std::mutex mutex_;
  ObjectRef last_;
  std::size_t lastIndex_ = 0;
};

class RegExpObject final : public DispatchObject {
 public:
  RegExpObject() : DispatchObject(Type()) {}

 private:
  using Setter = void (RegExpEngine::*)(bool);
  using Getter = bool (RegExpEngine::*)() const;

  static std::shared_ptr<const TypeInfo> Type() {
    static const auto type =
        Flags(TypeInfoBuilder<RegExpObject>("IRegExp2"))
            .Get("Pattern", {}, VT_BSTR, &RegExpObject::GetPattern)
            .Put("Pattern", {VT_BSTR}, &RegExpObject::PutPattern)
            .Method("Execute", {VT_VARIANT}, VT_DISPATCH, &RegExpObject::Execute)
            .Method("Replace", {VT_VARIANT, VT_VARIANT}, VT_BSTR, &RegExpObject::Replace)
            .Method("Test", {VT_VARIANT}, VT_BOOL, &RegExpObject::Test)
            .Build();
    return type;
  }

  static TypeInfoBuilder<RegExpObject>& Flags(TypeInfoBuilder<RegExpObject>&& builder) {
    Flag(builder, "IgnoreCase", &RegExpEngine::IgnoreCase, &RegExpEngine::SetIgnoreCase);
    Flag(builder, "Global", &RegExpEngine::Global, &RegExpEngine::SetGlobal);
    Flag(builder, "Multiline", &RegExpEngine::Multiline, &RegExpEngine::SetMultiline);
    return builder;
  }

  static void Flag(TypeInfoBuilder<RegExpObject>& builder, std::string name, Getter get,
                   Setter set) {
    builder
        .Get(name, {}, VT_BOOL,
             [get](RegExpObject& self, CallArgs&, Variant& result) {
               result = Variant::FromBool((self.engine_.*get)());
               return S_OK;
             })
        .Put(name, {VT_BOOL}, [set](RegExpObject& self, CallArgs& args, Variant&) {
          (self.engine_.*set)(args[0].AsBool());
          return S_OK;
        });
  }

  HRESULT GetPattern(CallArgs&, Variant& result) {
    result = Variant::FromString(engine_.Pattern());
    return S_OK;
  }

  HRESULT PutPattern(CallArgs& args, Variant&) {
    engine_.SetPattern(args[0].AsString());
    return S_OK;
  }

  HRESULT Execute(CallArgs& args, Variant& result) {
    Variant converted;
    std::u16string_view subject;
    if (const HRESULT hr = TextArgument(args[0], converted, &subject); Failed(hr)) {
      return hr;
    }
    auto matches = engine_.Execute(std::u16string(subject));
    if (!matches) {
      return FailureOf(engine_);
    }
    result = Variant::FromObject(std::make_shared<MatchCollectionObject>(
        std::make_shared<const RegExpMatches>(std::move(*matches))));
    return S_OK;
  }

  HRESULT Replace(CallArgs& args, Variant& result) {
    Variant convertedSubject;
    Variant convertedReplacement;
    std::u16string_view subject;
    std::u16string_view replacement;
    if (const HRESULT hr = TextArgument(args[0], convertedSubject, &subject); Failed(hr)) {
      return hr;
    }
    if (const HRESULT hr = TextArgument(args[1], convertedReplacement, &replacement); Failed(hr)) {
      return hr;
    }
    auto replaced = engine_.Replace(subject, replacement);
    if (!replaced) {
      return FailureOf(engine_);
    }
    result = Variant::FromString(std::move(*replaced));
    return S_OK;
  }

  HRESULT Test(CallArgs& args, Variant& result) {
    Variant converted;
    std::u16string_view subject;
    if (const HRESULT hr = TextArgument(args[0], converted, &subject); Failed(hr)) {
      return hr;
    }
    const auto found = engine_.Test(subject);
    if (!found) {
      return FailureOf(engine_);
    }
    result = Variant::FromBool(*found);
    return S_OK;
  }

  RegExpEngine engine_;
};

}  // namespace

ClassEntry RegExpClass() {
  Clsid clsid;
  CLSIDFromString(u"{3F4DACA4-160D-11D2-A8E9-00104B365C9F}", &clsid);
  return ClassEntry{kRegExpProgId, clsid, [] { return std::make_shared<RegExpObject>(); }};
}

}  // namespace mf::platform
