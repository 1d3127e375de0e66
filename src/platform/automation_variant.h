// Platform layer, included through platform/automation.h, or alone where only this part is needed.
//
// The values of the automation runtime: `Object` (IUnknown), the root of every automation object,
// held by reference-counted `ObjectRef`; `Variant` (VARIANT), the tagged value that carries
// arguments, results and properties; and `VariantChangeType`, which converts between its kinds.
// Implemented in automation_variant.cpp.
//
// Threads: a variant is a plain value without a lock, changed by one thread at a time. The objects
// it refers to are meant to be used on the thread that made them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/automation_result.h"

namespace mf::platform {

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

class DispatchObject;

// IUnknown. An object that is only an `Object` offers no dispatch interface.
class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object() = default;
  // QueryInterface for IDispatch: null when the object has none (E_NOINTERFACE).
  virtual DispatchObject* QueryDispatch() { return nullptr; }
  // What OleRun asks of the object; an object that cannot start fails here.
  virtual HRESULT Run() { return S_OK; }
};

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

}  // namespace mf::platform
