#include "support/com_access.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/encoding.h"

namespace mf {
namespace {

namespace p = platform;

thread_local int lastErrorCode = 0;

// The kinds of member a lookup tries, in order.
constexpr p::InvokeFlags kCallOrder[] = {p::DISPATCH_METHOD, p::DISPATCH_PROPERTYGET,
                                         p::DISPATCH_PROPERTYPUT, p::DISPATCH_PROPERTYPUTREF};
constexpr p::InvokeFlags kReadOrder[] = {p::DISPATCH_PROPERTYGET, p::DISPATCH_METHOD};
constexpr p::InvokeFlags kWriteOrder[] = {p::DISPATCH_PROPERTYPUT, p::DISPATCH_PROPERTYPUTREF,
                                          p::DISPATCH_METHOD};

enum class Operation { Call, Read, Write };

std::span<const p::InvokeFlags> LookupOrder(Operation operation) {
  switch (operation) {
    case Operation::Call:
      return kCallOrder;
    case Operation::Read:
      return kReadOrder;
    case Operation::Write:
      return kWriteOrder;
  }
  return kCallOrder;
}

int CodeOfMemberError(p::HRESULT hr) {
  switch (hr) {
    case p::DISP_E_BADPARAMCOUNT:
      return -9;
    case p::DISP_E_BADVARTYPE:
      return -10;
    case p::DISP_E_EXCEPTION:
      return -11;
    case p::DISP_E_MEMBERNOTFOUND:
      return -12;
    case p::DISP_E_NONAMEDARGS:
      return -13;
    case p::DISP_E_OVERFLOW:
      return -14;
    case p::DISP_E_PARAMNOTFOUND:
      return -15;
    case p::DISP_E_TYPEMISMATCH:
      return -16;
    case p::DISP_E_PARAMNOTOPTIONAL:
      return -17;
    default:
      return -18;
  }
}

struct Binding {
  const p::MemberDesc* member = nullptr;
  p::InvokeFlags flag = 0;
};

// A name bound in one kind of operation on one type. Types never change once built, so the
// outcome of a binding (a member and its kind, or -3) holds for good.
struct CachedBinding {
  std::shared_ptr<const p::TypeInfo> typeInfo;  // keeps the type, and so `binding`, alive
  Operation operation = Operation::Call;
  std::string name;  // as the caller spelt it, byte for byte
  int code = 0;
  Binding binding;
};

// Each thread remembers its recent bindings, so that a member called by name in a loop is looked
// up once instead of converting and comparing names on every call. Direct-mapped: a collision
// only costs a fresh lookup.
class BindingCache {
 public:
  CachedBinding* Find(const p::TypeInfo* type, Operation operation, std::string_view name) {
    CachedBinding& entry = entries_[SlotOf(type, operation, name)];
    const bool hit =
        entry.typeInfo.get() == type && entry.operation == operation && entry.name == name;
    return hit ? &entry : nullptr;
  }

  void Store(const std::shared_ptr<const p::TypeInfo>& type, Operation operation,
             std::string_view name, int code, Binding binding) {
    CachedBinding& entry = entries_[SlotOf(type.get(), operation, name)];
    entry.typeInfo = type;
    entry.operation = operation;
    entry.name.assign(name);
    entry.code = code;
    entry.binding = binding;
  }

 private:
  static constexpr std::size_t kSlots = 64;

  static std::size_t SlotOf(const p::TypeInfo* type, Operation operation, std::string_view name) {
    std::size_t hash = reinterpret_cast<std::uintptr_t>(type) >> 4;
    hash = hash * 31 + static_cast<std::size_t>(operation);
    for (const char c : name) {
      hash = hash * 31 + static_cast<unsigned char>(c);
    }
    return (hash ^ (hash >> 7)) % kSlots;
  }

  CachedBinding entries_[kSlots];
};

// The arguments of one invocation. `values` holds the converted values in order; the call sees
// references to those of by-reference and "any variant" parameters. `values` never grows after
// it is filled, so the references stay valid.
struct Arguments {
  std::vector<p::Variant> values;
  std::vector<Variant*> writeBack;  // per value: the caller's variable, or null
  p::DispParams params;

  void Clear() {
    values.clear();
    writeBack.clear();
    params.args.clear();
    params.namedArgs.clear();
  }
};

// Member calls made while a thread's own objects are being destroyed at its exit (by a
// destructor of another such object) must not use what is already gone: the per-thread caches
// below record their end in flags that are never destroyed, and calls then go without them.
thread_local bool cachesGone = false;

struct ThreadCaches {
  BindingCache bindings;
  std::vector<std::unique_ptr<Arguments>> spareArguments;
  ~ThreadCaches() { cachesGone = true; }
};

thread_local ThreadCaches threadCaches;

// Binds `name` through the type's binding interface in `operation`'s order; 0 or -3.
int BindByName(const p::TypeInfo& typeComp, const Text& name, Operation operation,
               Binding* binding) {
  const std::u16string wideName = AnsiToUtf16(name);
  for (p::InvokeFlags flag : LookupOrder(operation)) {
    p::BindResult bound = typeComp.Bind(wideName, flag);
    if (bound.kind == p::DescKind::TypeComp) {
      return -3;
    }
    if (bound.member != nullptr) {
      *binding = {bound.member, flag};
      return 0;
    }
  }
  return -3;
}

// Finds the dispatch interface and binds `name` in `operation`'s order; 0 or a failure code.
int Bind(const ComObject& object, const Text& name, Operation operation,
         p::DispatchObject** dispatch, std::shared_ptr<const p::TypeInfo>* typeInfo,
         Binding* binding) {
  if (object.empty()) {
    return -1;
  }
  *dispatch = object.object()->QueryDispatch();
  if (*dispatch == nullptr) {
    return -2;
  }
  if (p::Failed((*dispatch)->GetTypeInfo(p::LOCALE_USER_DEFAULT, typeInfo)) ||
      *typeInfo == nullptr) {
    return -4;
  }
  BindingCache* cache = cachesGone ? nullptr : &threadCaches.bindings;
  if (const CachedBinding* cached =
          cache != nullptr ? cache->Find(typeInfo->get(), operation, name.view()) : nullptr) {
    *binding = cached->binding;
    return cached->code;
  }
  const p::TypeInfo* typeComp = nullptr;
  if (p::Failed((*typeInfo)->GetTypeComp(&typeComp))) {
    return -4;
  }
  const int code = BindByName(*typeComp, name, operation, binding);
  if (cache != nullptr) {
    cache->Store(*typeInfo, operation, name.view(), code, *binding);
  }
  return code;
}

std::size_t DeclaredCount(const Binding& binding) {
  if (binding.member->kind != p::MemberKind::DataField) {
    return binding.member->params.size();
  }
  return binding.flag == p::DISPATCH_PROPERTYGET ? 0 : 1;
}

p::VarType DeclaredType(const Binding& binding, std::size_t index) {
  if (binding.member->kind == p::MemberKind::DataField) {
    return binding.member->result;
  }
  const std::vector<p::VarType>& params = binding.member->params;
  return index < params.size() ? params[index] : p::VT_VARIANT;
}

// The value of one argument, before conversion to its declared type.
p::Variant PlainValue(const ComArg& arg) {
  struct Visitor {
    p::Variant operator()(const Text* text) { return p::Variant::FromString(AnsiToUtf16(*text)); }
    p::Variant operator()(bool value) { return p::Variant::FromBool(value); }
    p::Variant operator()(std::int32_t value) { return p::Variant::FromInt32(value); }
    p::Variant operator()(double value) { return p::Variant::FromDouble(value); }
    p::Variant operator()(std::uint8_t value) { return p::Variant::FromUInt8(value); }
    p::Variant operator()(const ComObject* object) {
      return p::Variant::FromObject(object->object());
    }
    p::Variant operator()(const Variant* variant) { return variant->value().Deref(); }
    p::Variant operator()(Variant* variable) { return variable->value().Deref(); }
    p::Variant operator()(ComOmitted) { return p::Variant::Missing(); }
  };
  return std::visit(Visitor{}, arg.value());
}

// Every member operation needs an `Arguments`; each thread keeps those it has used, emptied but
// with their storage, so that a call allocates nothing for its argument lists. A member may call
// members itself, so each call in progress takes its own from the spares.
class ArgumentsLease {
 public:
  ArgumentsLease() : spares_(cachesGone ? nullptr : &threadCaches.spareArguments) {
    if (spares_ == nullptr || spares_->empty()) {
      arguments_ = std::make_unique<Arguments>();
    } else {
      arguments_ = std::move(spares_->back());
      spares_->pop_back();
    }
  }
  ~ArgumentsLease() {
    if (spares_ != nullptr && !cachesGone) {
      arguments_->Clear();
      spares_->push_back(std::move(arguments_));
    }
  }
  ArgumentsLease(const ArgumentsLease&) = delete;
  ArgumentsLease& operator=(const ArgumentsLease&) = delete;

  Arguments* operator->() { return arguments_.get(); }
  Arguments& operator*() { return *arguments_; }

 private:
  std::vector<std::unique_ptr<Arguments>>* spares_;
  std::unique_ptr<Arguments> arguments_;
};

// A real that is a whole 32-bit number, such as an index: converting it needs no rounding.
bool IsWholeInt32(const p::Variant& value) {
  if (value.Type() != p::VT_R8) {
    return false;
  }
  const double real = value.AsDouble();
  return real >= -2147483648.0 && real <= 2147483647.0 && real == std::trunc(real);
}

// Converts one argument into `slot`; what the call is handed for it goes to `passed`.
bool ConvertArgument(const ComArg& arg, p::VarType declared, p::Variant& slot, p::Variant& passed,
                     Variant** writeBack) {
  Variant* const* variable = std::get_if<Variant*>(&arg.value());
  if (variable != nullptr && *variable == nullptr) {
    return false;
  }
  const bool byRef = (declared & p::VT_BYREF) != 0;
  const p::VarType base = declared & ~p::VT_BYREF;
  // A value handed over as it is converted needs no slot of its own: convert it where it goes.
  p::Variant& value = !byRef && base != p::VT_VARIANT ? passed : slot;
  value = PlainValue(arg);
  if (value.IsMissing()) {
    passed = value;
    return true;
  }
  if (base == p::VT_I4 && IsWholeInt32(value)) {
    value = p::Variant::FromInt32(static_cast<std::int32_t>(value.AsDouble()));
  } else if (base != p::VT_VARIANT && p::Failed(p::VariantChangeType(&value, &value, 0, base))) {
    return false;
  }
  if (byRef) {
    passed = base == p::VT_VARIANT ? p::Variant::Ref(&slot) : p::Variant::TypedRef(&slot);
    *writeBack = variable != nullptr ? *variable : nullptr;
  } else if (base == p::VT_VARIANT) {
    passed = p::Variant::Ref(&slot);
  }
  return true;
}

int PrepareArguments(const Binding& binding, ComArgs args, Arguments* out) {
  std::size_t count = args.size();
  while (count > 0 && std::holds_alternative<ComOmitted>(args.begin()[count - 1].value())) {
    --count;
  }
  if (count > DeclaredCount(binding) && !binding.member->varArgs) {
    return -5;
  }
  out->values.resize(count);
  out->writeBack.assign(count, nullptr);
  out->params.args.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    // The call convention wants the last argument first.
    p::Variant& passed = out->params.args[count - 1 - i];
    if (!ConvertArgument(args.begin()[i], DeclaredType(binding, i), out->values[i], passed,
                         &out->writeBack[i])) {
      return -7;
    }
  }
  if (binding.flag == p::DISPATCH_PROPERTYPUT || binding.flag == p::DISPATCH_PROPERTYPUTREF) {
    out->params.namedArgs.push_back(p::DISPID_PROPERTYPUT);
  }
  return 0;
}

// Binds, converts the arguments and invokes; 0 or a failure code. `result` gets the member's
// result on success.
int Invoke(const ComObject& object, const Text& name, Operation operation, ComArgs args,
           p::Variant* result) {
  // Our own reference keeps the object alive for the call, whatever happens to `object`.
  const ComObject held = object;
  p::DispatchObject* dispatch = nullptr;
  std::shared_ptr<const p::TypeInfo> typeInfo;
  Binding binding;
  if (int code = Bind(held, name, operation, &dispatch, &typeInfo, &binding); code != 0) {
    return code;
  }
  ArgumentsLease lease;
  Arguments& arguments = *lease;
  if (int code = PrepareArguments(binding, args, &arguments); code != 0) {
    return code;
  }
  p::HRESULT hr = dispatch->Invoke(binding.member->id, p::LOCALE_USER_DEFAULT, binding.flag,
                                   arguments.params, result, nullptr);
  if (p::Failed(hr)) {
    return CodeOfMemberError(hr);
  }
  for (std::size_t i = 0; i < arguments.values.size(); ++i) {
    if (arguments.writeBack[i] != nullptr) {
      arguments.writeBack[i]->value() = std::move(arguments.values[i]);
    }
  }
  return 0;
}

// Runs one member operation and converts its result with `convert` (which returns false when
// it cannot); records the code and gives `empty` on failure.
template <class Result, class Convert>
Result Run(const ComObject& object, const Text& name, Operation operation, ComArgs args,
           Result empty, Convert convert) {
  p::Variant raw;
  int code = Invoke(object, name, operation, args, &raw);
  if (code == 0 && raw.IsByRef()) {
    // A result that refers to a variable: take the value, so that converting may consume it.
    p::Variant value = raw.Deref();
    raw = std::move(value);
  }
  Result converted = empty;
  if (code == 0 && !convert(raw, converted)) {
    code = -8;
  }
  lastErrorCode = code;
  if (code != 0) {
    return empty;
  }
  return converted;
}

bool ToText(const p::Variant& raw, Text& out) {
  if (raw.Type() == p::VT_BSTR) {
    out = Utf16ToAnsi(raw.AsString());  // already a string: no copy to convert it
    return true;
  }
  p::Variant text;
  if (p::Failed(p::VariantChangeType(&text, &raw, 0, p::VT_BSTR))) {
    return false;
  }
  out = Utf16ToAnsi(text.AsString());
  return true;
}

bool ToNumber(const p::Variant& raw, double& out) {
  p::Variant number;
  if (p::Failed(p::VariantChangeType(&number, &raw, 0, p::VT_R8))) {
    return false;
  }
  out = number.AsDouble();
  return true;
}

bool ToObject(const p::Variant& raw, ComObject& out) {
  if (raw.Type() != p::VT_DISPATCH && raw.Type() != p::VT_UNKNOWN) {
    return false;
  }
  out = ComObject(raw.AsObject());
  return true;
}

bool ToVariant(p::Variant& raw, Variant& out) {
  out = Variant(std::move(raw));
  return true;
}

bool Ignore(const p::Variant&, bool&) {
  return true;
}

}  // namespace

namespace com_detail {

void Call(const ComObject& object, const Text& name, ComArgs args) {
  Run(object, name, Operation::Call, args, false, Ignore);
}
Text CallText(const ComObject& object, const Text& name, ComArgs args) {
  return Run(object, name, Operation::Call, args, Text(), ToText);
}
ComObject CallObject(const ComObject& object, const Text& name, ComArgs args) {
  return Run(object, name, Operation::Call, args, ComObject(), ToObject);
}
bool SetProperty(const ComObject& object, const Text& name, ComArgs args) {
  return Run(object, name, Operation::Write, args, false,
             [](const p::Variant&, bool& out) { return out = true; });
}
Text GetTextProperty(const ComObject& object, const Text& name, ComArgs args) {
  return Run(object, name, Operation::Read, args, Text(), ToText);
}
double GetNumberProperty(const ComObject& object, const Text& name, ComArgs args) {
  return Run(object, name, Operation::Read, args, 0.0, ToNumber);
}
ComObject GetObjectProperty(const ComObject& object, const Text& name, ComArgs args) {
  return Run(object, name, Operation::Read, args, ComObject(), ToObject);
}
Variant GetVariantProperty(const ComObject& object, const Text& name, ComArgs args) {
  return Run(object, name, Operation::Read, args, Variant(), ToVariant);
}

}  // namespace com_detail

int ComErrorCode() {
  return lastErrorCode;
}

// ----- Objects -------------------------------------------------------------------------------

bool ComCreate(ComObject& object, const Text& progIdOrClassId) {
  std::u16string text = AnsiToUtf16(progIdOrClassId);
  p::Clsid clsid;
  p::HRESULT hr = !text.empty() && text[0] == u'{' ? p::CLSIDFromString(text, &clsid)
                                                   : p::CLSIDFromProgID(text, &clsid);
  if (p::Failed(hr)) {
    return false;
  }
  constexpr std::uint32_t kLocal =
      p::CLSCTX_INPROC_SERVER | p::CLSCTX_INPROC_HANDLER | p::CLSCTX_LOCAL_SERVER;
  p::ObjectRef made;
  hr = p::CoCreateInstance(clsid, kLocal | p::CLSCTX_REMOTE_SERVER, &made);
  if (hr == p::E_INVALIDARG) {
    hr = p::CoCreateInstance(clsid, kLocal, &made);
  }
  if (p::Failed(hr) || p::Failed(p::OleRun(made))) {
    return false;
  }
  object = ComObject(std::move(made));
  return true;
}

void ComRelease(ComObject& object) {
  object = ComObject();
}

bool ComIsEmpty(const ComObject& object) {
  return object.empty();
}

void ComAssign(ComObject& target, const ComObject& source) {
  target = source;
}

// ----- Variants ------------------------------------------------------------------------------

bool VariantSet(Variant& variant, const Text& value) {
  variant = Variant(p::Variant::FromString(AnsiToUtf16(value)));
  return true;
}
bool VariantSet(Variant& variant, bool value) {
  variant = Variant(p::Variant::FromBool(value));
  return true;
}
bool VariantSet(Variant& variant, std::int32_t value) {
  variant = Variant(p::Variant::FromInt32(value));
  return true;
}
bool VariantSet(Variant& variant, double value) {
  variant = Variant(p::Variant::FromDouble(value));
  return true;
}
bool VariantSet(Variant& variant, std::uint8_t value) {
  variant = Variant(p::Variant::FromUInt8(value));
  return true;
}
bool VariantSet(Variant& variant, const Bytes& value) {
  variant = Variant(p::Variant::FromBytes({value.data(), value.data() + value.size()}));
  return true;
}
bool VariantSet(Variant& variant, const ComObject& value) {
  variant = Variant(p::Variant::FromObject(value.object()));
  return true;
}
bool VariantSet(Variant& variant, const Variant& value) {
  variant = Variant(value.value());
  return true;
}

Text VariantToText(const Variant& variant) {
  Text text;
  if (!ToText(variant.value().Deref(), text)) {
    return Text();
  }
  return text;
}

Bytes VariantToBytes(const Variant& variant) {
  const p::Variant& value = variant.value().Deref();
  p::Variant bytes;
  if (p::Failed(p::VariantChangeType(&bytes, &value, 0, p::VT_ARRAY | p::VT_UI1))) {
    return Bytes();
  }
  const std::vector<std::uint8_t>& held = bytes.AsBytes();
  return Bytes(held.data(), held.size());
}

void VariantClear(Variant& variant) {
  variant.value().Clear();
}

}  // namespace mf
