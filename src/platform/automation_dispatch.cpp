// Type information, binding by name and the standard dispatch of a call.
#include "platform/automation_dispatch.h"

#include <new>

#include "platform/com_apartment.h"

namespace mf::platform {
namespace {

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

bool SameName(std::u16string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (AsciiLower(left[i]) != AsciiLower(static_cast<unsigned char>(right[i]))) {
      return false;
    }
  }
  return true;
}

bool SameName(std::string_view left, std::string_view right) {
  return SameName(std::u16string(left.begin(), left.end()), right);
}

// Objects and arrays are written by reference, everything else by value.
bool HoldsReference(VarType type) {
  VarType base = type & VT_TYPEMASK;
  return (type & VT_ARRAY) != 0 || base == VT_DISPATCH || base == VT_UNKNOWN;
}

// Whether `member` is invoked by the single invoke flag `flag`.
bool InvokedBy(const MemberDesc& member, InvokeFlags flag) {
  switch (member.kind) {
    case MemberKind::Method:
      return flag == DISPATCH_METHOD;
    case MemberKind::PropertyGet:
      return flag == DISPATCH_PROPERTYGET;
    case MemberKind::PropertyPut:
      return flag == DISPATCH_PROPERTYPUT;
    case MemberKind::PropertyPutRef:
      return flag == DISPATCH_PROPERTYPUTREF;
    case MemberKind::DataField:
      return flag == DISPATCH_PROPERTYGET ||
             (flag == DISPATCH_PROPERTYPUT && !HoldsReference(member.result)) ||
             (flag == DISPATCH_PROPERTYPUTREF && HoldsReference(member.result));
    case MemberKind::TypeName:
      return false;
  }
  return false;
}

constexpr InvokeFlags kFlagOrder[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT,
                                      DISPATCH_PROPERTYPUTREF};

struct Target {
  const MemberDesc* member = nullptr;
  InvokeFlags flag = 0;
};

Target FindTarget(const TypeInfo& type, DispId id, InvokeFlags flags) {
  for (InvokeFlags flag : kFlagOrder) {
    if ((flags & flag) == 0) {
      continue;
    }
    for (const MemberDesc& member : type.Members()) {
      if (member.id == id && InvokedBy(member, flag)) {
        return {&member, flag};
      }
    }
  }
  return {};
}

bool IsWrite(InvokeFlags flag) {
  return flag == DISPATCH_PROPERTYPUT || flag == DISPATCH_PROPERTYPUTREF;
}

HRESULT CheckNamedArgs(const DispParams& params, InvokeFlags flag) {
  if (!IsWrite(flag)) {
    return params.namedArgs.empty() ? S_OK : DISP_E_NONAMEDARGS;
  }
  if (params.namedArgs.empty()) {
    return DISP_E_PARAMNOTFOUND;
  }
  if (params.namedArgs.size() > 1 || params.namedArgs[0] != DISPID_PROPERTYPUT) {
    return DISP_E_NONAMEDARGS;
  }
  return S_OK;
}

// A by-reference parameter of type VT_BYREF | base takes a reference typed so, or a variant
// reference to a value of that type (a VT_BYREF | VT_VARIANT parameter takes any reference).
bool FitsByRef(const Variant& argument, VarType declared) {
  if (!argument.IsByRef()) {
    return false;
  }
  VarType base = declared & ~VT_BYREF;
  return base == VT_VARIANT || argument.Type() == declared || argument.Deref().Type() == base;
}

HRESULT PrepareArgument(Variant& argument, VarType declared, bool optional) {
  if (argument.IsMissing()) {
    return optional ? S_OK : DISP_E_PARAMNOTOPTIONAL;
  }
  if (declared == VT_VARIANT) {
    return S_OK;
  }
  if ((declared & VT_BYREF) != 0) {
    return FitsByRef(argument, declared) ? S_OK : DISP_E_TYPEMISMATCH;
  }
  return VariantChangeType(&argument, &argument, 0, declared);
}

HRESULT PrepareArguments(const MemberDesc& member, DispParams& params) {
  std::size_t count = params.args.size();
  std::size_t declared = member.params.size();
  std::size_t optional = std::min<std::size_t>(declared, std::max(member.optionalCount, 0));
  std::size_t required = declared - optional;
  if ((count > declared && !member.varArgs) || count < required) {
    return DISP_E_BADPARAMCOUNT;
  }
  for (std::size_t i = 0; i < count; ++i) {
    VarType type = i < declared ? member.params[i] : VT_VARIANT;
    Variant& argument = params.args[count - 1 - i];
    if (HRESULT hr = PrepareArgument(argument, type, i >= required); Failed(hr)) {
      return hr;
    }
  }
  return S_OK;
}

HRESULT AccessField(const MemberDesc& member, Object& self, InvokeFlags flag, DispParams& params,
                    Variant& result) {
  Variant& field = member.field(self);
  if (!IsWrite(flag)) {
    if (!params.args.empty()) {
      return DISP_E_BADPARAMCOUNT;
    }
    result = field;
    return S_OK;
  }
  if (params.args.size() != 1) {
    return DISP_E_BADPARAMCOUNT;
  }
  Variant value = params.args[0].Deref();
  if (member.result != VT_VARIANT) {
    if (HRESULT hr = VariantChangeType(&value, &value, 0, member.result); Failed(hr)) {
      return hr;
    }
  }
  field = std::move(value);
  return S_OK;
}

void Describe(ExcepInfo* excepInfo, std::string_view what, const std::string& source) {
  if (excepInfo == nullptr) {
    return;
  }
  excepInfo->scode = DISP_E_EXCEPTION;
  excepInfo->source.assign(source.begin(), source.end());
  excepInfo->description.assign(what.begin(), what.end());
}

}  // namespace

// ----- CallArgs ------------------------------------------------------------------------------

const Variant& CallArgs::operator[](std::size_t i) const {
  static const Variant missing = Variant::Missing();
  return i < size() ? params_.args[size() - 1 - i].Deref() : missing;
}

bool CallArgs::IsMissing(std::size_t i) const {
  return (*this)[i].IsMissing();
}

Variant* CallArgs::Out(std::size_t i) const {
  if (i >= size()) {
    return nullptr;
  }
  Variant& argument = params_.args[size() - 1 - i];
  return argument.IsByRef() ? &argument.Deref() : nullptr;
}

// ----- TypeInfo ------------------------------------------------------------------------------

TypeInfo::TypeInfo(std::string name, std::vector<MemberDesc> members, bool offersTypeComp)
    : name_(std::move(name)), members_(std::move(members)), offersTypeComp_(offersTypeComp) {
  DispId next = 1;
  for (std::size_t i = 0; i < members_.size(); ++i) {
    members_[i].id = DISPID_UNKNOWN;
    for (std::size_t j = 0; j < i; ++j) {
      if (SameName(members_[j].name, members_[i].name)) {
        members_[i].id = members_[j].id;
        break;
      }
    }
    if (members_[i].id == DISPID_UNKNOWN) {
      members_[i].id = next++;
    }
  }
}

HRESULT TypeInfo::GetTypeComp(const TypeInfo** typeComp) const {
  if (typeComp == nullptr) {
    return E_POINTER;
  }
  *typeComp = offersTypeComp_ ? this : nullptr;
  return offersTypeComp_ ? S_OK : E_NOTIMPL;
}

BindResult TypeInfo::Bind(std::u16string_view name, InvokeFlags flags) const {
  for (const MemberDesc& member : members_) {
    if (!SameName(name, member.name)) {
      continue;
    }
    if (member.kind == MemberKind::TypeName) {
      return {DescKind::TypeComp, nullptr};
    }
    for (InvokeFlags flag : kFlagOrder) {
      if ((flags & flag) != 0 && InvokedBy(member, flag)) {
        DescKind kind =
            member.kind == MemberKind::DataField ? DescKind::Variable : DescKind::Function;
        return {kind, &member};
      }
    }
  }
  return {};
}

const MemberDesc* TypeInfo::Find(DispId id, InvokeFlags flags) const {
  return FindTarget(*this, id, flags).member;
}

// ----- DispatchObject ------------------------------------------------------------------------

HRESULT DispatchObject::GetTypeInfo(Lcid, std::shared_ptr<const TypeInfo>* typeInfo) const {
  if (typeInfo == nullptr) {
    return E_POINTER;
  }
  *typeInfo = typeInfo_;
  return typeInfo_ != nullptr ? S_OK : E_NOTIMPL;
}

HRESULT DispatchObject::Invoke(DispId id, Lcid, InvokeFlags flags, DispParams& params,
                               Variant* result, ExcepInfo* excepInfo) {
  if (ComApartmentDepth() == 0) {
    return CO_E_NOTINITIALIZED;
  }
  Target target = typeInfo_ != nullptr ? FindTarget(*typeInfo_, id, flags) : Target{};
  if (target.member == nullptr) {
    return DISP_E_MEMBERNOTFOUND;
  }
  if (HRESULT hr = CheckNamedArgs(params, target.flag); Failed(hr)) {
    return hr;
  }
  Variant value;
  HRESULT hr = S_OK;
  try {
    if (target.member->kind == MemberKind::DataField) {
      hr = AccessField(*target.member, *this, target.flag, params, value);
    } else {
      hr = PrepareArguments(*target.member, params);
      if (Succeeded(hr)) {
        CallArgs args(params);
        hr = target.member->invoke(*this, args, value);
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& error) {
    Describe(excepInfo, error.what(), typeInfo_->Name());
    return DISP_E_EXCEPTION;
  }
  if (Succeeded(hr) && result != nullptr) {
    *result = std::move(value);
  }
  return hr;
}

}  // namespace mf::platform
