// Access to automation objects by member name: create an object from its ProgID, call its
// methods, read and write its properties, and move values in and out through `Variant`s.
//
// Nothing here throws or reports. A failed member operation returns the empty value of its kind
// (empty text, 0.0, an empty object, an empty variant; false for ComSetProperty) and leaves a
// negative code in the calling thread's error code (ComErrorCode); a successful one leaves 0:
//   -1 the object is empty          -2 it offers no dispatch interface
//   -3 no member of that name binds (or the name is a type)
//   -4 it offers no type information or no binding through it
//   -5 more arguments than the member declares    -7 an argument does not convert
//   -8 the result does not convert to the kind asked for
//   errors the member reports: -9 bad parameter count, -10 bad variant type, -11 exception,
//   -12 member not found, -13 named arguments not supported, -14 overflow, -15 parameter not
//   found, -16 type mismatch, -17 parameter not optional, -18 anything else (among them a call
//   made on a thread that is in no apartment, see support/threads.h: CO_E_NOTINITIALIZED).
//
// Member names are matched without regard to case. The member kinds are tried in this order:
//   calls (ComCall, ComCallText, ComCallObject): method, property get, property put, put by ref;
//   reads (ComGet...Property): property get, then method;
//   writes (ComSetProperty): property put, put by reference, then method.
//
// Arguments are given after the name, in order, each one of: Text, bool, std::int32_t, double,
// std::uint8_t, ComObject, Variant, Variant* (a variable passed by reference: when the member's
// parameter is by reference, the variable receives the member's new value after a successful
// call) or kOmitted (the member uses its own default). Trailing kOmitted arguments are dropped.
// Other C++ types do not compile, so that a literal such as "abc" or 5u cannot slip in as a bool
// or be narrowed silently. Each argument is converted to the type the member declares.
//
// Text travels to and from the objects as UTF-16 through the system code page (936).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <variant>

#include "platform/automation.h"
#include "support/text_types.h"

namespace mf {

// A reference to an automation object, or nothing. Copies share the object (one more
// reference each); the reference is released when the value is given another object or goes.
class ComObject {
 public:
  ComObject() = default;
  explicit ComObject(platform::ObjectRef object) : object_(std::move(object)) {}

  const platform::ObjectRef& object() const { return object_; }
  bool empty() const { return object_ == nullptr; }

 private:
  platform::ObjectRef object_;
};

// An automation value (a tagged variant; see platform/automation_variant.h for its kinds).
class Variant {
 public:
  Variant() = default;
  explicit Variant(platform::Variant value) : value_(std::move(value)) {}

  const platform::Variant& value() const { return value_; }
  platform::Variant& value() { return value_; }

 private:
  platform::Variant value_;
};

// The marker for an argument left out.
struct ComOmitted {};
inline constexpr ComOmitted kOmitted{};

// One argument of a member operation. It refers to the caller's value instead of copying it, so
// it is meant to live only within the call it is written in.
class ComArg {
 public:
  ComArg(const Text& value) : value_(&value) {}
  ComArg(bool value) : value_(value) {}
  ComArg(std::int32_t value) : value_(value) {}
  ComArg(double value) : value_(value) {}
  ComArg(std::uint8_t value) : value_(value) {}
  ComArg(const ComObject& value) : value_(&value) {}
  ComArg(const Variant& value) : value_(&value) {}
  ComArg(Variant* variable) : value_(variable) {}
  ComArg(ComOmitted) : value_(ComOmitted{}) {}
  // Any other type is refused at compile time.
  template <class T>
  ComArg(const T&) = delete;

  using Value = std::variant<const Text*, bool, std::int32_t, double, std::uint8_t,
                             const ComObject*, const Variant*, Variant*, ComOmitted>;
  const Value& value() const { return value_; }

 private:
  Value value_;
};

using ComArgs = std::initializer_list<ComArg>;

namespace com_detail {
void Call(const ComObject& object, const Text& name, ComArgs args);
Text CallText(const ComObject& object, const Text& name, ComArgs args);
ComObject CallObject(const ComObject& object, const Text& name, ComArgs args);
bool SetProperty(const ComObject& object, const Text& name, ComArgs args);
Text GetTextProperty(const ComObject& object, const Text& name, ComArgs args);
double GetNumberProperty(const ComObject& object, const Text& name, ComArgs args);
ComObject GetObjectProperty(const ComObject& object, const Text& name, ComArgs args);
Variant GetVariantProperty(const ComObject& object, const Text& name, ComArgs args);
}  // namespace com_detail

// ----- Objects -------------------------------------------------------------------------------

// Creates an object from a ProgID ("VBScript.RegExp") or a class id in braces
// ("{3F4DACA4-160D-11D2-A8E9-00104B365C9F}"). On success `object` holds the new object (what it
// held before is released) and the result is true; on failure it is left unchanged.
bool ComCreate(ComObject& object, const Text& progIdOrClassId);
// Releases the held object; `object` is empty afterwards.
void ComRelease(ComObject& object);
bool ComIsEmpty(const ComObject& object);
// `target` refers to the object of `source` (one more reference), or becomes empty when
// `source` is. What `target` held before is released.
void ComAssign(ComObject& target, const ComObject& source);

// Calls a member for no result.
template <class... Args>
void ComCall(const ComObject& object, const Text& name, const Args&... args) {
  com_detail::Call(object, name, {ComArg(args)...});
}
// Calls a member; its result as Text.
template <class... Args>
Text ComCallText(const ComObject& object, const Text& name, const Args&... args) {
  return com_detail::CallText(object, name, {ComArg(args)...});
}
// Calls a member; its result as a new reference to an object (empty when the result is no
// object: code -8).
template <class... Args>
ComObject ComCallObject(const ComObject& object, const Text& name, const Args&... args) {
  return com_detail::CallObject(object, name, {ComArg(args)...});
}
// Writes a property: any index arguments, then the value. True exactly when the write succeeded.
template <class... Args>
bool ComSetProperty(const ComObject& object, const Text& name, const Args&... args) {
  return com_detail::SetProperty(object, name, {ComArg(args)...});
}
// Reads a property (with any index arguments) as Text.
template <class... Args>
Text ComGetTextProperty(const ComObject& object, const Text& name, const Args&... args) {
  return com_detail::GetTextProperty(object, name, {ComArg(args)...});
}
// Reads a property as a real.
template <class... Args>
double ComGetNumberProperty(const ComObject& object, const Text& name, const Args&... args) {
  return com_detail::GetNumberProperty(object, name, {ComArg(args)...});
}
// Reads a property as a new reference to an object.
template <class... Args>
ComObject ComGetObjectProperty(const ComObject& object, const Text& name, const Args&... args) {
  return com_detail::GetObjectProperty(object, name, {ComArg(args)...});
}
// Reads a property as a new Variant.
template <class... Args>
Variant ComGetVariantProperty(const ComObject& object, const Text& name, const Args&... args) {
  return com_detail::GetVariantProperty(object, name, {ComArg(args)...});
}

// The calling thread's code of its last member operation: 0 after success, -1 to -18 after a
// failure (see the top of this file).
int ComErrorCode();

// ----- Variants ------------------------------------------------------------------------------

// Stores a value after clearing the old one: Text as a UTF-16 string, bool as a boolean,
// std::int32_t as a 32-bit integer, double as a double, std::uint8_t as an unsigned byte, Bytes
// as an array of bytes, ComObject as an object reference, Variant as a copy. Returns true.
bool VariantSet(Variant& variant, const Text& value);
bool VariantSet(Variant& variant, bool value);
bool VariantSet(Variant& variant, std::int32_t value);
bool VariantSet(Variant& variant, double value);
bool VariantSet(Variant& variant, std::uint8_t value);
bool VariantSet(Variant& variant, const Bytes& value);
bool VariantSet(Variant& variant, const ComObject& value);
bool VariantSet(Variant& variant, const Variant& value);
template <class T>
bool VariantSet(Variant& variant, const T& value) = delete;

// A string as Text; any other kind converted to a string first (true gives "-1", false "0",
// numbers their decimal form). Empty, or not convertible: the empty text.
Text VariantToText(const Variant& variant);
// A byte array (unsigned or signed, also held by reference) as Bytes; other kinds converted to
// a byte array first (a string gives its UTF-16LE bytes). Not convertible: empty Bytes.
Bytes VariantToBytes(const Variant& variant);
// Releases what the variant holds; it is empty afterwards.
void VariantClear(Variant& variant);

}  // namespace mf
