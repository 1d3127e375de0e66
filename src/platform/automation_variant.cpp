// Variants and their conversions.
#include "platform/automation_variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

namespace mf::platform {
namespace {

// A chain of references longer than this is taken for a cycle and ends there.
constexpr int kMaxRefDepth = 16;

std::u16string Widen(std::string_view ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

bool EqualsIgnoringCase(std::u16string_view text, std::u16string_view word) {
  if (text.size() != word.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(word[i])) {
      return false;
    }
  }
  return true;
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// Decimal text: [+-] digits [. digits] [e [+-] digits], at least one mantissa digit.
HRESULT ParseDecimal(std::u16string_view text, double* value) {
  text = TrimBlanks(text);
  std::string ascii;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i++] == u'-';
  }
  auto digits = [&] {
    std::size_t count = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
      ascii += static_cast<char>(text[i++]);
      ++count;
    }
    return count;
  };
  std::size_t mantissaDigits = digits();
  if (i < text.size() && text[i] == u'.') {
    ascii += '.';
    ++i;
    mantissaDigits += digits();
  }
  if (mantissaDigits == 0) {
    return DISP_E_TYPEMISMATCH;
  }
  bool negativeExponent = false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ascii += 'e';
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
      negativeExponent = text[i] == u'-';
      ascii += static_cast<char>(text[i++]);
    }
    if (digits() == 0) {
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (i != text.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  double parsed = 0;
  auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), parsed);
  if (error == std::errc::result_out_of_range) {
    if (!negativeExponent) {
      return DISP_E_OVERFLOW;
    }
    parsed = 0;
  } else if (error != std::errc() || end != ascii.data() + ascii.size()) {
    return DISP_E_TYPEMISMATCH;
  }
  *value = negative ? -parsed : parsed;
  return S_OK;
}

// The system prints a double with 15 significant digits, without trailing zeros, switching to
// the exponent form ("1E+20", "1.5E-07") as printf's %G does.
std::u16string FormatDouble(double value) {
  if (value == 0) {
    return u"0";  // also for -0
  }
  char buffer[40];
  int length = std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return Widen(std::string_view(buffer, static_cast<std::size_t>(length)));
}

bool IsObjectType(VarType type) {
  return type == VT_DISPATCH || type == VT_UNKNOWN;
}
bool IsByteArrayType(VarType type) {
  return type == (VT_ARRAY | VT_UI1) || type == (VT_ARRAY | VT_I1);
}

bool IsKnownType(VarType type) {
  switch (type) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I4:
    case VT_R8:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_I1:
    case VT_UI1:
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_I1:
      return true;
    default:
      return false;
  }
}

HRESULT ToNumber(const Variant& value, double* number) {
  switch (value.Type()) {
    case VT_EMPTY:
      *number = 0;
      return S_OK;
    case VT_BOOL:
      *number = value.AsBool() ? -1 : 0;
      return S_OK;
    case VT_I4:
      *number = value.AsInt32();
      return S_OK;
    case VT_UI1:
      *number = value.AsUInt8();
      return S_OK;
    case VT_I1:
      *number = value.AsInt8();
      return S_OK;
    case VT_R8:
      *number = value.AsDouble();
      return S_OK;
    case VT_BSTR:
      return ParseDecimal(value.AsString(), number);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// A real rounded half to even, as the system rounds, when it fits [low, high].
std::optional<double> RoundInto(double number, double low, double high) {
  double rounded = std::nearbyint(number);
  if (std::isnan(rounded) || rounded < low || rounded > high) {
    return std::nullopt;
  }
  return rounded;
}

HRESULT ToInteger(const Variant& value, VarType type, Variant* out) {
  double number = 0;
  if (HRESULT hr = ToNumber(value, &number); Failed(hr)) {
    return hr;
  }
  std::optional<double> rounded;
  switch (type) {
    case VT_I4:
      rounded = RoundInto(number, std::numeric_limits<std::int32_t>::min(),
                          std::numeric_limits<std::int32_t>::max());
      if (rounded) {
        *out = Variant::FromInt32(static_cast<std::int32_t>(*rounded));
      }
      break;
    case VT_UI1:
      rounded = RoundInto(number, 0, 255);
      if (rounded) {
        *out = Variant::FromUInt8(static_cast<std::uint8_t>(*rounded));
      }
      break;
    default:  // VT_I1
      rounded = RoundInto(number, -128, 127);
      if (rounded) {
        *out = Variant::FromInt8(static_cast<std::int8_t>(*rounded));
      }
      break;
  }
  return rounded ? S_OK : DISP_E_OVERFLOW;
}

HRESULT ToBool(const Variant& value, Variant* out) {
  if (value.Type() == VT_BSTR) {
    std::u16string_view text = TrimBlanks(value.AsString());
    if (EqualsIgnoringCase(text, u"true") || EqualsIgnoringCase(text, u"false")) {
      *out = Variant::FromBool(AsciiLower(text[0]) == u't');
      return S_OK;
    }
  }
  double number = 0;
  if (HRESULT hr = ToNumber(value, &number); Failed(hr)) {
    return hr;
  }
  *out = Variant::FromBool(number != 0);
  return S_OK;
}

HRESULT ToDouble(const Variant& value, Variant* out) {
  double number = 0;
  if (HRESULT hr = ToNumber(value, &number); Failed(hr)) {
    return hr;
  }
  *out = Variant::FromDouble(number);
  return S_OK;
}

std::u16string BytesToUtf16(const std::vector<std::uint8_t>& bytes) {
  std::u16string text((bytes.size() + 1) / 2, u'\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    text[i / 2] |= static_cast<char16_t>(bytes[i] << (i % 2 == 0 ? 0 : 8));
  }
  return text;
}

std::vector<std::uint8_t> Utf16ToBytes(const std::u16string& text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

HRESULT ToString(const Variant& value, std::uint16_t flags, Variant* out) {
  switch (value.Type()) {
    case VT_EMPTY:
      *out = Variant::FromString(u"");
      return S_OK;
    case VT_BOOL:
      if ((flags & VARIANT_ALPHABOOL) != 0) {
        *out = Variant::FromString(value.AsBool() ? u"True" : u"False");
      } else {
        *out = Variant::FromString(value.AsBool() ? u"-1" : u"0");
      }
      return S_OK;
    case VT_I4:
      *out = Variant::FromString(Widen(std::to_string(value.AsInt32())));
      return S_OK;
    case VT_UI1:
      *out = Variant::FromString(Widen(std::to_string(value.AsUInt8())));
      return S_OK;
    case VT_I1:
      *out = Variant::FromString(Widen(std::to_string(value.AsInt8())));
      return S_OK;
    case VT_R8:
      *out = Variant::FromString(FormatDouble(value.AsDouble()));
      return S_OK;
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_I1:
      *out = Variant::FromString(BytesToUtf16(value.AsBytes()));
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToByteArray(const Variant& value, VarType type, Variant* out) {
  std::vector<std::uint8_t> bytes;
  if (IsByteArrayType(value.Type())) {
    bytes = value.AsBytes();
  } else if (value.Type() == VT_BSTR) {
    bytes = Utf16ToBytes(value.AsString());
  } else {
    return DISP_E_TYPEMISMATCH;
  }
  *out = type == (VT_ARRAY | VT_UI1) ? Variant::FromBytes(std::move(bytes))
                                     : Variant::FromSignedBytes(std::move(bytes));
  return S_OK;
}

HRESULT ToObject(const Variant& value, VarType type, Variant* out) {
  if (value.Type() != VT_EMPTY && !IsObjectType(value.Type())) {
    return DISP_E_TYPEMISMATCH;
  }
  ObjectRef object = value.AsObject();
  if (type == VT_UNKNOWN) {
    *out = Variant::FromUnknown(std::move(object));
    return S_OK;
  }
  if (object != nullptr && object->QueryDispatch() == nullptr) {
    return E_NOINTERFACE;
  }
  *out = Variant::FromObject(std::move(object));
  return S_OK;
}

}  // namespace

// ----- Variant -------------------------------------------------------------------------------

Variant Variant::FromString(std::u16string text) {
  Variant variant(VT_BSTR);
  variant.owned_ = std::move(text);
  return variant;
}
Variant Variant::FromBool(bool value) {
  Variant variant(VT_BOOL);
  variant.integer_ = value ? 1 : 0;
  return variant;
}
Variant Variant::FromInt32(std::int32_t value) {
  Variant variant(VT_I4);
  variant.integer_ = value;
  return variant;
}
Variant Variant::FromDouble(double value) {
  Variant variant(VT_R8);
  variant.real_ = value;
  return variant;
}
Variant Variant::FromUInt8(std::uint8_t value) {
  Variant variant(VT_UI1);
  variant.integer_ = value;
  return variant;
}
Variant Variant::FromInt8(std::int8_t value) {
  Variant variant(VT_I1);
  variant.integer_ = value;
  return variant;
}
Variant Variant::FromBytes(std::vector<std::uint8_t> bytes) {
  Variant variant(VT_ARRAY | VT_UI1);
  variant.owned_ = std::move(bytes);
  return variant;
}
Variant Variant::FromSignedBytes(std::vector<std::uint8_t> bytes) {
  Variant variant(VT_ARRAY | VT_I1);
  variant.owned_ = std::move(bytes);
  return variant;
}
Variant Variant::FromObject(ObjectRef object) {
  bool dispatch = object == nullptr || object->QueryDispatch() != nullptr;
  Variant variant(dispatch ? VT_DISPATCH : VT_UNKNOWN);
  variant.owned_ = std::move(object);
  return variant;
}
Variant Variant::FromUnknown(ObjectRef object) {
  Variant variant(VT_UNKNOWN);
  variant.owned_ = std::move(object);
  return variant;
}
Variant Variant::FromError(HRESULT code) {
  Variant variant(VT_ERROR);
  variant.integer_ = code;
  return variant;
}
Variant Variant::Null() {
  return Variant(VT_NULL);
}
Variant Variant::Missing() {
  return FromError(DISP_E_PARAMNOTFOUND);
}
Variant Variant::Ref(Variant* target) {
  Variant variant(VT_BYREF | VT_VARIANT);
  variant.target_ = target;
  return variant;
}
Variant Variant::TypedRef(Variant* target) {
  Variant variant(static_cast<VarType>(VT_BYREF | target->Deref().Type()));
  variant.target_ = target;
  return variant;
}

bool Variant::IsMissing() const {
  const Variant& value = Deref();
  return value.type_ == VT_ERROR && value.AsError() == DISP_E_PARAMNOTFOUND;
}

const Variant& Variant::Deref() const {
  const Variant* value = this;
  for (int depth = 0; depth < kMaxRefDepth && value->IsByRef() && value->target_ != nullptr;
       ++depth) {
    value = value->target_;
  }
  return *value;
}

Variant& Variant::Deref() {
  return const_cast<Variant&>(std::as_const(*this).Deref());
}

const std::u16string& Variant::AsString() const {
  static const std::u16string none;
  const auto* held = std::get_if<std::u16string>(&owned_);
  return held != nullptr ? *held : none;
}
bool Variant::AsBool() const {
  return type_ == VT_BOOL && integer_ != 0;
}
std::int32_t Variant::AsInt32() const {
  return type_ == VT_I4 ? static_cast<std::int32_t>(integer_) : 0;
}
double Variant::AsDouble() const {
  return real_;
}
std::uint8_t Variant::AsUInt8() const {
  return type_ == VT_UI1 ? static_cast<std::uint8_t>(integer_) : 0;
}
std::int8_t Variant::AsInt8() const {
  return type_ == VT_I1 ? static_cast<std::int8_t>(integer_) : 0;
}
const std::vector<std::uint8_t>& Variant::AsBytes() const {
  static const std::vector<std::uint8_t> none;
  const auto* held = std::get_if<std::vector<std::uint8_t>>(&owned_);
  return held != nullptr ? *held : none;
}
ObjectRef Variant::AsObject() const {
  const auto* held = std::get_if<ObjectRef>(&owned_);
  return held != nullptr ? *held : nullptr;
}
HRESULT Variant::AsError() const {
  return type_ == VT_ERROR ? static_cast<HRESULT>(integer_) : 0;
}
Variant* Variant::RefTarget() const {
  return target_;
}

// ----- VariantChangeType ---------------------------------------------------------------------

HRESULT VariantChangeType(Variant* destination, const Variant* source, std::uint16_t flags,
                          VarType type) {
  if (destination == nullptr || source == nullptr) {
    return E_INVALIDARG;
  }
  if (!IsKnownType(type)) {
    return DISP_E_BADVARTYPE;
  }
  const Variant& value = source->Deref();
  if (!IsKnownType(value.Type())) {
    return DISP_E_BADVARTYPE;
  }
  if (&value == destination && value.Type() == type) {
    return S_OK;  // in place and already of that kind: spare copying a long string
  }
  Variant converted;
  HRESULT hr = S_OK;
  if (value.Type() == type) {
    converted = value;
  } else if (type == VT_EMPTY) {
    converted = Variant();
  } else if (type == VT_BSTR) {
    hr = ToString(value, flags, &converted);
  } else if (type == VT_BOOL) {
    hr = ToBool(value, &converted);
  } else if (type == VT_R8) {
    hr = ToDouble(value, &converted);
  } else if (type == VT_I4 || type == VT_UI1 || type == VT_I1) {
    hr = ToInteger(value, type, &converted);
  } else if (IsByteArrayType(type)) {
    hr = ToByteArray(value, type, &converted);
  } else if (IsObjectType(type)) {
    hr = ToObject(value, type, &converted);
  } else {
    hr = DISP_E_TYPEMISMATCH;
  }
  if (Succeeded(hr)) {
    *destination = std::move(converted);
  }
  return hr;
}

}  // namespace mf::platform
