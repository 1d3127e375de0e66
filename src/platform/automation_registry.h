// Platform layer, included through platform/automation.h, or alone where only this part is needed.
//
// The class registry and creation of objects (CLSIDFromProgID, CoCreateInstance, OleRun): ProgIDs
// and class ids map to factories. The platform's own classes come from BuiltinClasses()
// (builtin_classes.cpp); an object module is registered for creation by ProgID with
//     ClassEntry{u"Demo.Counter", clsid, [] { return std::make_shared<Counter>(); }}
// either there or, in tests, with ScopedClassRegistration. Implemented in
// automation_registry.cpp.
//
// Threads: the registry is safe to use from any thread. `CoCreateInstance` on a thread that is in
// no apartment (ComApartmentDepth() == 0, platform/com_apartment.h) fails with
// CO_E_NOTINITIALIZED and does nothing else; an object it makes is meant to be used on the thread
// that made it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/automation_result.h"
#include "platform/automation_variant.h"

namespace mf::platform {

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
