// Platform layer, included through platform/automation.h, or alone where only this part is needed.
//
// The automation runtime's result codes (HRESULT), with the system's values: negative is a
// failure, zero or positive a success. S_OK and S_FALSE are platform/com_apartment.h's, which
// CoInitialize returns.
//
// Constants and constant functions only: usable from any thread.
#pragma once

#include <cstdint>

#include "platform/com_apartment.h"

namespace mf::platform {

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

}  // namespace mf::platform
