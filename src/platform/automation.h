// The automation runtime: objects driven by member name, in the shape of the system's automation
// services that the tool was first written against (IUnknown, IDispatch, ITypeInfo, ITypeComp,
// VARIANT, VariantChangeType, the class registry, CoCreateInstance, OleRun).
//
// An automation object is a `DispatchObject` that publishes a `TypeInfo`: a table of members, each
// with a name, a kind (method, property get, property put, property put by reference, plain data
// field), declared parameter types, an optional-parameter count, a variable-argument switch, a
// result type and the callable that implements it. Callers find a member with `TypeInfo::Bind`
// (names compared without regard to ASCII case) and call it with `DispatchObject::Invoke`, which
// checks and converts the arguments the way the system's standard dispatch does.
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
//   Registered for creation by ProgID:
//     ClassEntry{u"Demo.Counter", clsid, [] { return std::make_shared<Counter>(); }}
//   either in BuiltinClasses() (builtin_classes.cpp) or, in tests, with ScopedClassRegistration.
//
// Threads and apartments: every thread has its own apartment count (platform/com_apartment.h).
// `CoCreateInstance` and `DispatchObject::Invoke` on a thread that is in no apartment
// (ComApartmentDepth() == 0) fail with CO_E_NOTINITIALIZED and do nothing else. An object is
// meant to be used on the thread that made it; the runtime itself (registry, type information)
// is safe to use from any thread.
//
// A member implementation may block (an HTTP transfer) and may be unwound by a kill of its thread
// (platform::ThreadKilled, platform/threads.h): `Invoke` lets that through untouched. Any
// std::exception that a member throws becomes DISP_E_EXCEPTION (E_OUTOFMEMORY for bad_alloc).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/com_apartment.h"

namespace mf::platform {

// ---------------------------------------------------------------------------------------------
// Result codes

using HRESULT = long;

constexpr HRESULT MakeHresult(std::uint32_t bits) {
  return static_cast<HRESULT>(static_cast<std::int32_t>(bits));
}
constexpr bool Succeeded(HRESULT hr) {
  return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
  return hr < 0;
}

inline constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHresult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHresult(0x80004005);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHresult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHresult(0x80070057);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHresult(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHresult(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MakeHresult(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHresult(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = MakeHresult(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHresult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHresult(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = MakeHresult(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHresult(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = MakeHresult(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHresult(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = MakeHresult(0x8002000B);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = MakeHresult(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = MakeHresult(0x8002000F);

// ---------------------------------------------------------------------------------------------
// Variants

// Type tags, with the system's values. A declared parameter or result type uses VT_VARIANT for
// "any variant" and VT_EMPTY (as a result type) for "no result"; VT_BYREF | t declares a
// parameter passed by reference.
using VarType = std::uint16_t;
inline constexpr VarType VT_EMPTY = 0;
inline constexpr VarType VT_NULL = 1;
inline constexpr VarType VT_I4 = 3;
inline constexpr VarType VT_R8 = 5;
inline constexpr VarType VT_BSTR = 8;
inline constexpr VarType VT_DISPATCH = 9;
inline constexpr VarType VT_ERROR = 10;
inline constexpr VarType VT_BOOL = 11;
inline constexpr VarType VT_VARIANT = 12;
inline constexpr VarType VT_UNKNOWN = 13;
inline constexpr VarType VT_I1 = 16;
inline constexpr VarType VT_UI1 = 17;
inline constexpr VarType VT_ARRAY = 0x2000;
inline constexpr VarType VT_BYREF = 0x4000;
inline constexpr VarType VT_TYPEMASK = 0x0FFF;

class Object;
class DispatchObject;
// Objects are reference-counted; a reference is a shared_ptr.
using ObjectRef = std::shared_ptr<Object>;

// A tagged value. The kinds it can hold, with their tags:
//   VT_EMPTY, VT_NULL, VT_BSTR (UTF-16 string), VT_BOOL, VT_I4, VT_R8, VT_UI1, VT_I1,
//   VT_ARRAY | VT_UI1 and VT_ARRAY | VT_I1 (byte arrays), VT_DISPATCH / VT_UNKNOWN (an object
//   reference, possibly null), VT_ERROR (a result code; DISP_E_PARAMNOTFOUND is the marker for
//   an omitted parameter), and references to another variant:
//   VT_BYREF | VT_VARIANT (the callee may store any kind) or VT_BYREF | t (the callee is expected
//   to store a t). A reference does not own its target; the target must outlive it.
// Copying a variant copies its value (an object reference is shared, one more reference).
class Variant {
 public:
  Variant() = default;

  static Variant FromString(std::u16string text);
  static Variant FromBool(bool value);
  static Variant FromInt32(std::int32_t value);
  static Variant FromDouble(double value);
  static Variant FromUInt8(std::uint8_t value);
  static Variant FromInt8(std::int8_t value);
  static Variant FromBytes(std::vector<std::uint8_t> bytes);        // VT_ARRAY | VT_UI1
  static Variant FromSignedBytes(std::vector<std::uint8_t> bytes);  // VT_ARRAY | VT_I1
  // VT_DISPATCH when the object offers a dispatch interface (or is null), else VT_UNKNOWN.
  static Variant FromObject(ObjectRef object);
  // VT_UNKNOWN, whatever the object offers.
  static Variant FromUnknown(ObjectRef object);
  static Variant FromError(HRESULT code);
  static Variant Null();
  // The marker for an omitted parameter: VT_ERROR holding DISP_E_PARAMNOTFOUND.
  static Variant Missing();
  // VT_BYREF | VT_VARIANT to `target`.
  static Variant Ref(Variant* target);
  // VT_BYREF | (the type `target` holds now) to `target`.
  static Variant TypedRef(Variant* target);

  VarType Type() const { return type_; }
  bool IsEmpty() const { return type_ == VT_EMPTY; }
  bool IsByRef() const { return (type_ & VT_BYREF) != 0; }
  bool IsMissing() const;  // looks through a reference

  // The value itself, looking through a reference (a reference to a reference is followed too).
  const Variant& Deref() const;
  Variant& Deref();

  // The held value; when the variant holds another kind, the empty value of the asked one
  // (no conversion: use VariantChangeType for that). None looks through a reference.
  const std::u16string& AsString() const;
  bool AsBool() const;
  std::int32_t AsInt32() const;
  double AsDouble() const;
  std::uint8_t AsUInt8() const;
  std::int8_t AsInt8() const;
  const std::vector<std::uint8_t>& AsBytes() const;  // either byte-array kind
  ObjectRef AsObject() const;
  HRESULT AsError() const;
  Variant* RefTarget() const;  // null unless IsByRef()

  // VariantClear: releases what it holds and becomes VT_EMPTY.
  void Clear() { *this = Variant(); }

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  explicit Variant(VarType type) : type_(type) {}

  // One member per kind of plain value, and one slot for the kinds that own storage (so that a
  // variant of a plain kind is cheap to make, move and drop); what the tag does not use stays at
  // its default, so that the defaulted comparison compares values.
  using Owned = std::variant<std::monostate, std::u16string, std::vector<std::uint8_t>, ObjectRef>;
  VarType type_ = VT_EMPTY;
  std::int64_t integer_ = 0;  // VT_BOOL, VT_I4, VT_UI1, VT_I1, VT_ERROR
  double real_ = 0;
  Variant* target_ = nullptr;  // references
  Owned owned_;                // VT_BSTR, byte arrays, objects
};

// VariantChangeType flag: a boolean becomes "True"/"False" instead of "-1"/"0".
inline constexpr std::uint16_t VARIANT_ALPHABOOL = 0x02;

// Converts `source` (looked through a reference) to the kind `type` and stores it in
// `destination`, which may be `source` itself. `destination` is left unchanged on failure.
//   to VT_BSTR:  empty -> ""; boolean -> "-1" / "0"; integers -> decimal; double -> as the system
//                prints it (15 significant digits, no trailing zeros, "1E+20", "1E-05");
//                byte array -> its bytes read as UTF-16LE (an odd last byte padded with zero).
//   to VT_I4, VT_UI1, VT_I1, VT_R8, VT_BOOL: from empty (0 / false), boolean (-1 / 0), the other
//                numbers and decimal text ("  -12.5e1 ", surrounding blanks allowed); reals are
//                rounded half to even; out of range DISP_E_OVERFLOW. Text to VT_BOOL also takes
//                "True"/"False" in any case.
//   to VT_ARRAY | VT_UI1 (or VT_I1): from either byte array (copied), from a string (its UTF-16LE
//                bytes, no terminator).
//   to VT_DISPATCH: from an object that offers a dispatch interface (else E_NOINTERFACE), from
//                empty (a null object). To VT_UNKNOWN: from any object reference or empty.
//   to VT_EMPTY: always succeeds. To the kind the value already has: a copy.
//   Anything else: DISP_E_TYPEMISMATCH (objects have no default value here, VT_NULL and
//   VT_ERROR convert to nothing but themselves); a tag this runtime does not know:
//   DISP_E_BADVARTYPE.
HRESULT VariantChangeType(Variant* destination, const Variant* source, std::uint16_t flags,
                          VarType type);

// ---------------------------------------------------------------------------------------------
// Objects, members and type information

// IUnknown. An object that is only an `Object` offers no dispatch interface.
class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  // QueryInterface for IDispatch: null when the object has none (E_NOINTERFACE).
  virtual DispatchObject* QueryDispatch() { return nullptr; }
  // What OleRun asks of the object; an object that cannot start fails here.
  virtual HRESULT Run() { return S_OK; }
};

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

// ---------------------------------------------------------------------------------------------
// Class registry and creation

struct Clsid {
  std::array<std::uint8_t, 16> bytes{};  // the 32 hex digits in written order
  friend bool operator==(const Clsid&, const Clsid&) = default;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
std::u16string StringFromClsid(const Clsid& clsid);
// Parses a class id written in braces (hex digits in either case). CO_E_CLASSSTRING when
// malformed. Whether such a class is registered is not checked.
HRESULT CLSIDFromString(std::u16string_view text, Clsid* clsid);
// The class id registered for the ProgID (ASCII case ignored); CO_E_CLASSSTRING when none is.
HRESULT CLSIDFromProgID(std::u16string_view progId, Clsid* clsid);

// Class contexts, with the system's values.
inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
inline constexpr std::uint32_t CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr std::uint32_t CLSCTX_REMOTE_SERVER = 0x10;

// Makes a new object of the class (its IUnknown). CO_E_NOTINITIALIZED outside an apartment;
// E_INVALIDARG when `context` includes CLSCTX_REMOTE_SERVER and the class refuses remote
// creation; REGDB_E_CLASSNOTREG when the class is not registered or not in any of the contexts
// asked for; E_OUTOFMEMORY when its factory gives no object.
HRESULT CoCreateInstance(const Clsid& clsid, std::uint32_t context, ObjectRef* object);
// Puts the object into its running state (Object::Run). E_INVALIDARG for a null object.
HRESULT OleRun(const ObjectRef& object);

using ClassFactory = std::function<ObjectRef()>;

struct ClassEntry {
  std::u16string progId;
  Clsid clsid;
  ClassFactory factory;
  std::uint32_t contexts = CLSCTX_INPROC_SERVER;
  bool refusesRemoteContext = false;  // CoCreateInstance with CLSCTX_REMOTE_SERVER: E_INVALIDARG
};

// The classes the platform provides ("WinHttp.WinHttpRequest.5.1", "VBScript.RegExp"): each
// object module offers a function that returns its ClassEntry, and builtin_classes.cpp lists
// them here. Read once, on the first use of the registry.
std::vector<ClassEntry> BuiltinClasses();

// Adds a class, replacing any entry with the same ProgID (ASCII case ignored) or class id.
void RegisterClass(ClassEntry entry);
// Removes the entry of this ProgID, if any.
void UnregisterClass(std::u16string_view progId);

// For tests: while it lives, `progId` makes objects from `factory` (keeping the class id of an
// entry already registered under the ProgID, else a fresh one); a null `factory` hides the class
// instead, so that CLSIDFromProgID fails. On destruction the earlier entry, if any, comes back.
class ScopedClassRegistration {
 public:
  ScopedClassRegistration(std::u16string progId, ClassFactory factory);
  // Registers `entry` as it is (a null factory registers a class whose creation fails).
  explicit ScopedClassRegistration(ClassEntry entry);
  ~ScopedClassRegistration();
  ScopedClassRegistration(const ScopedClassRegistration&) = delete;
  ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

  const Clsid& clsid() const { return clsid_; }

 private:
  std::u16string progId_;
  Clsid clsid_;
  std::vector<ClassEntry> displaced_;
};

}  // namespace mf::platform
