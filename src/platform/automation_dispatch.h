// Platform layer, included through platform/automation.h, or alone where only this part is needed.
//
// Objects driven by member name (IDispatch, ITypeInfo, ITypeComp). An automation object is a
// `DispatchObject` that publishes a `TypeInfo`: a table of members, each with a name, a kind
// (method, property get, property put, property put by reference, plain data field), declared
// parameter types, an optional-parameter count, a variable-argument switch, a result type and the
// callable that implements it. Callers find a member with `TypeInfo::Bind` (names compared without
// regard to ASCII case) and call it with `DispatchObject::Invoke`, which checks and converts the
// arguments the way the system's standard dispatch does. Implemented in automation_dispatch.cpp.
//
// Writing an object:
//
//   class Counter : public platform::DispatchObject {
//    public:
//     Counter() : DispatchObject(Type()) {}
//     static std::shared_ptr<const platform::TypeInfo> Type() {
//       static const auto type = platform::TypeInfoBuilder<Counter>("ICounter")
//           .Get("Count", {}, VT_I4, [](Counter& self, CallArgs&, Variant& result) {
//             result = Variant::FromInt32(self.count_);
//             return S_OK;
//           })
//           .Method("Add", {VT_I4}, VT_EMPTY, &Counter::Add).Optional(1)
//           .Build();
//       return type;
//     }
//    private:
//     HRESULT Add(CallArgs& args, Variant&) {
//       count_ += args.IsMissing(0) ? 1 : args[0].AsInt32();
//       return S_OK;
//     }
//     int count_ = 0;
//   };
//
// and made creatable by ProgID in the class registry (platform/automation_registry.h).
//
// Threads: `DispatchObject::Invoke` on a thread that is in no apartment (ComApartmentDepth() == 0,
// platform/com_apartment.h) fails with CO_E_NOTINITIALIZED and does nothing else. An object is
// meant to be used on the thread that made it; type information is immutable and safe to use from
// any thread.
//
// A member implementation may block (an HTTP transfer) and may be unwound by a kill of its thread
// (platform::ThreadKilled, platform/threads.h): `Invoke` lets that through untouched. Any
// std::exception that a member throws becomes DISP_E_EXCEPTION (E_OUTOFMEMORY for bad_alloc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/automation_result.h"
#include "platform/automation_variant.h"

namespace mf::platform {

using DispId = std::int32_t;
inline constexpr DispId DISPID_UNKNOWN = -1;
inline constexpr DispId DISPID_PROPERTYPUT = -3;

using Lcid = std::uint32_t;
inline constexpr Lcid LOCALE_USER_DEFAULT = 0x0400;

// Invoke flags, with the system's values.
using InvokeFlags = std::uint16_t;
inline constexpr InvokeFlags DISPATCH_METHOD = 1;
inline constexpr InvokeFlags DISPATCH_PROPERTYGET = 2;
inline constexpr InvokeFlags DISPATCH_PROPERTYPUT = 4;
inline constexpr InvokeFlags DISPATCH_PROPERTYPUTREF = 8;

enum class MemberKind { Method, PropertyGet, PropertyPut, PropertyPutRef, DataField, TypeName };

// DISPPARAMS: the arguments of one Invoke, last argument first (args[0] is the last one). A
// property write names its value (args[0]) with DISPID_PROPERTYPUT in namedArgs.
struct DispParams {
  std::vector<Variant> args;
  std::vector<DispId> namedArgs;
};

// EXCEPINFO: filled when a member fails with DISP_E_EXCEPTION.
struct ExcepInfo {
  HRESULT scode = S_OK;
  std::u16string source;
  std::u16string description;
};

// The arguments as a member implementation sees them: in declared order (0 = first), each
// already converted to its declared type (a VT_VARIANT parameter comes as passed). For a property
// write the new value is the last one.
class CallArgs {
 public:
  explicit CallArgs(DispParams& params) : params_(params) {}
  std::size_t size() const { return params_.args.size(); }
  // Argument i looked through a reference; the missing-parameter marker when i is past the end.
  const Variant& operator[](std::size_t i) const;
  // True for an omitted argument (the marker) and for i past the end.
  bool IsMissing(std::size_t i) const;
  // The caller's variable behind by-reference argument i, for the member to write its new value;
  // null when argument i was passed by value or is past the end.
  Variant* Out(std::size_t i) const;

 private:
  DispParams& params_;
};

// A member implementation: `self` is the object invoked, `result` starts empty.
using MemberFn = std::function<HRESULT(Object& self, CallArgs& args, Variant& result)>;
// A plain data field: the variable that holds it.
using FieldFn = std::function<Variant&(Object& self)>;

struct MemberDesc {
  std::string name;  // ASCII
  MemberKind kind = MemberKind::Method;
  DispId id = DISPID_UNKNOWN;  // shared by all members of the same name
  // Declared parameter types in order: VT_VARIANT = any variant, VT_BYREF | t = by reference.
  // A property write lists its index parameters, then the value.
  std::vector<VarType> params;
  int optionalCount = 0;      // the last `optionalCount` parameters may be omitted
  bool varArgs = false;       // arguments beyond `params` are accepted, passed as they come
  VarType result = VT_EMPTY;  // VT_EMPTY: none; for a data field, the field's type
  MemberFn invoke;            // methods and properties
  FieldFn field;              // data fields
};

// What ITypeComp::Bind found.
enum class DescKind { None, Function, Variable, TypeComp };
struct BindResult {
  DescKind kind = DescKind::None;
  const MemberDesc* member = nullptr;  // for Function and Variable
};

// ITypeInfo of a dispatch interface, which is also its own ITypeComp. Immutable once built;
// build it with TypeInfoBuilder.
class TypeInfo {
 public:
  TypeInfo(std::string name, std::vector<MemberDesc> members, bool offersTypeComp);

  const std::string& Name() const { return name_; }
  const std::vector<MemberDesc>& Members() const { return members_; }

  // ITypeInfo::GetTypeComp: this information as the binding interface, or E_NOTIMPL when it
  // offers none.
  HRESULT GetTypeComp(const TypeInfo** typeComp) const;

  // ITypeComp::Bind. Looks for `name` (ASCII case ignored) among the members of one kind:
  // DISPATCH_METHOD binds a method, DISPATCH_PROPERTYGET a property get or any data field,
  // DISPATCH_PROPERTYPUT a property put or a data field whose type is neither an object nor an
  // array, DISPATCH_PROPERTYPUTREF a put by reference or a data field of object or array type.
  // A type name binds whatever the flags, as DescKind::TypeComp. Nothing: DescKind::None.
  BindResult Bind(std::u16string_view name, InvokeFlags flags) const;

  // The member with this id that can be invoked with `flags` (for several flags, the first
  // in the order method, get, put, put by reference); null when there is none.
  const MemberDesc* Find(DispId id, InvokeFlags flags) const;

 private:
  std::string name_;
  std::vector<MemberDesc> members_;
  bool offersTypeComp_;
};

// IDispatch over a TypeInfo.
class DispatchObject : public Object {
 public:
  // A null `typeInfo` makes an object that offers no type information.
  explicit DispatchObject(std::shared_ptr<const TypeInfo> typeInfo)
      : typeInfo_(std::move(typeInfo)) {}

  DispatchObject* QueryDispatch() override { return this; }

  // IDispatch::GetTypeInfo: E_NOTIMPL when the object has none. The locale is not used.
  HRESULT GetTypeInfo(Lcid lcid, std::shared_ptr<const TypeInfo>* typeInfo) const;

  // IDispatch::Invoke, with the system's standard checks, in this order:
  //   - CO_E_NOTINITIALIZED on a thread outside an apartment;
  //   - DISP_E_MEMBERNOTFOUND when no member has this id and a kind that `flags` allows;
  //   - DISP_E_NONAMEDARGS for named arguments other than DISPID_PROPERTYPUT (which a property
  //     write must have: DISP_E_PARAMNOTFOUND without it);
  //   - DISP_E_BADPARAMCOUNT for more arguments than declared (unless varArgs) or fewer than the
  //     required ones;
  //   - DISP_E_PARAMNOTOPTIONAL for the missing marker in a required position;
  //   - each argument converted in place to its declared type (VariantChangeType; its failure
  //     code is returned: DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, ...); a by-reference parameter
  //     needs VT_BYREF | its type or VT_BYREF | VT_VARIANT to a value of its type, else
  //     DISP_E_TYPEMISMATCH;
  //   then the member runs and its result code is returned. `result` and `excepInfo` may be null.
  HRESULT Invoke(DispId id, Lcid lcid, InvokeFlags flags, DispParams& params, Variant* result,
                 ExcepInfo* excepInfo);

 private:
  std::shared_ptr<const TypeInfo> typeInfo_;
};

// Builds a TypeInfo for objects of class T (derived from DispatchObject). Member functions
// take (T&, CallArgs&, Variant&) and return an HRESULT: a lambda or a pointer to a member
// function HRESULT (T::*)(CallArgs&, Variant&). Optional() and VarArgs() apply to the member
// added last.
template <class T>
class TypeInfoBuilder {
 public:
  using Fn = std::function<HRESULT(T& self, CallArgs& args, Variant& result)>;

  explicit TypeInfoBuilder(std::string typeName) : name_(std::move(typeName)) {}

  TypeInfoBuilder& Method(std::string name, std::vector<VarType> params, VarType result, Fn fn) {
    return Add(std::move(name), MemberKind::Method, std::move(params), result, std::move(fn));
  }
  // A property read; `params` are its index parameters (usually none).
  TypeInfoBuilder& Get(std::string name, std::vector<VarType> params, VarType result, Fn fn) {
    return Add(std::move(name), MemberKind::PropertyGet, std::move(params), result, std::move(fn));
  }
  // A property write; `params` are the index parameters followed by the value.
  TypeInfoBuilder& Put(std::string name, std::vector<VarType> params, Fn fn) {
    return Add(std::move(name), MemberKind::PropertyPut, std::move(params), VT_EMPTY,
               std::move(fn));
  }
  TypeInfoBuilder& PutRef(std::string name, std::vector<VarType> params, Fn fn) {
    return Add(std::move(name), MemberKind::PropertyPutRef, std::move(params), VT_EMPTY,
               std::move(fn));
  }
  // A plain data field of declared `type`, held in the variable `field` returns.
  TypeInfoBuilder& Field(std::string name, VarType type, std::function<Variant&(T&)> field) {
    MemberDesc member = Named(std::move(name), MemberKind::DataField);
    member.result = type;
    member.field = [field = std::move(field)](Object& self) -> Variant& {
      return field(static_cast<T&>(self));
    };
    members_.push_back(std::move(member));
    return *this;
  }
  // A name that stands for a type, not a member.
  TypeInfoBuilder& TypeName(std::string name) {
    members_.push_back(Named(std::move(name), MemberKind::TypeName));
    return *this;
  }
  TypeInfoBuilder& Optional(int count) {
    members_.back().optionalCount = count;
    return *this;
  }
  TypeInfoBuilder& VarArgs() {
    members_.back().varArgs = true;
    return *this;
  }
  // The built information will refuse GetTypeComp.
  TypeInfoBuilder& WithoutTypeComp() {
    offersTypeComp_ = false;
    return *this;
  }
  std::shared_ptr<const TypeInfo> Build() {
    return std::make_shared<const TypeInfo>(name_, members_, offersTypeComp_);
  }

 private:
  static MemberDesc Named(std::string name, MemberKind kind) {
    MemberDesc member;
    member.name = std::move(name);
    member.kind = kind;
    return member;
  }
  TypeInfoBuilder& Add(std::string name, MemberKind kind, std::vector<VarType> params,
                       VarType result, Fn fn) {
    MemberDesc member = Named(std::move(name), kind);
    member.params = std::move(params);
    member.result = result;
    member.invoke = [fn = std::move(fn)](Object& self, CallArgs& args, Variant& out) {
      return fn(static_cast<T&>(self), args, out);
    };
    members_.push_back(std::move(member));
    return *this;
  }

  std::string name_;
  std::vector<MemberDesc> members_;
  bool offersTypeComp_ = true;
};

}  // namespace mf::platform
