// The class registry: ProgIDs and class ids to factories, and creation of objects.
#include "platform/automation_registry.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <optional>

#include "platform/com_apartment.h"

namespace mf::platform {
namespace {

char16_t AsciiLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

bool SameProgId(std::u16string_view left, std::u16string_view right) {
  return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                    [](char16_t a, char16_t b) { return AsciiLower(a) == AsciiLower(b); });
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  c = AsciiLower(c);
  return (c >= u'a' && c <= u'f') ? c - u'a' + 10 : -1;
}

// Positions of the dashes in "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
constexpr std::size_t kClsidLength = 38;
bool IsDashPosition(std::size_t i) {
  return i == 9 || i == 14 || i == 19 || i == 24;
}

class Registry {
 public:
  Registry() : entries_(BuiltinClasses()) {}

  std::optional<ClassEntry> ByProgId(std::u16string_view progId) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const ClassEntry& e) { return SameProgId(e.progId, progId); });
    return found != entries_.end() ? std::optional(*found) : std::nullopt;
  }

  std::optional<ClassEntry> ByClsid(const Clsid& clsid) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const ClassEntry& e) { return e.clsid == clsid; });
    return found != entries_.end() ? std::optional(*found) : std::nullopt;
  }

  // Takes out the entries that share the ProgID or the class id of `entry`, then adds `entry`
  // when it has a factory or `always` is set. Returns what was taken out.
  std::vector<ClassEntry> Replace(const ClassEntry& entry, bool always) {
    std::lock_guard lock(mutex_);
    std::vector<ClassEntry> displaced = RemoveLocked(entry.progId, &entry.clsid);
    if (always || entry.factory) {
      entries_.push_back(entry);
    }
    return displaced;
  }

  std::vector<ClassEntry> Remove(std::u16string_view progId, const Clsid* clsid) {
    std::lock_guard lock(mutex_);
    return RemoveLocked(progId, clsid);
  }

  void Restore(std::u16string_view progId, const Clsid& clsid, std::vector<ClassEntry> entries) {
    std::lock_guard lock(mutex_);
    RemoveLocked(progId, &clsid);
    for (ClassEntry& entry : entries) {
      RemoveLocked(entry.progId, &entry.clsid);
      entries_.push_back(std::move(entry));
    }
  }

 private:
  std::vector<ClassEntry> RemoveLocked(std::u16string_view progId, const Clsid* clsid) {
    std::vector<ClassEntry> removed;
    auto matches = [&](const ClassEntry& e) {
      return SameProgId(e.progId, progId) || (clsid != nullptr && e.clsid == *clsid);
    };
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (matches(*it)) {
        removed.push_back(std::move(*it));
        it = entries_.erase(it);
      } else {
        ++it;
      }
    }
    return removed;
  }

  std::mutex mutex_;
  std::vector<ClassEntry> entries_;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// Class ids for stand-ins that come without one: {5F3C0000-0000-4000-8000-00000000nnnn}.
Clsid FreshClsid() {
  static std::atomic<std::uint32_t> counter{0};
  std::uint32_t n = ++counter;
  Clsid clsid{{0x5F, 0x3C, 0, 0, 0, 0, 0x40, 0, 0x80, 0, 0, 0}};
  for (int i = 0; i < 4; ++i) {
    clsid.bytes[15 - i] = static_cast<std::uint8_t>(n >> (8 * i));
  }
  return clsid;
}

}  // namespace

std::u16string StringFromClsid(const Clsid& clsid) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text = u"{";
  for (std::size_t i = 0; i < clsid.bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      text += u'-';
    }
    text += kDigits[clsid.bytes[i] >> 4];
    text += kDigits[clsid.bytes[i] & 0xF];
  }
  return text + u"}";
}

HRESULT CLSIDFromString(std::u16string_view text, Clsid* clsid) {
  if (clsid == nullptr) {
    return E_INVALIDARG;
  }
  if (text.size() != kClsidLength || text.front() != u'{' || text.back() != u'}') {
    return CO_E_CLASSSTRING;
  }
  Clsid parsed;
  std::size_t nibble = 0;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (IsDashPosition(i)) {
      if (text[i] != u'-') {
        return CO_E_CLASSSTRING;
      }
      continue;
    }
    int value = HexValue(text[i]);
    if (value < 0) {
      return CO_E_CLASSSTRING;
    }
    parsed.bytes[nibble / 2] |= static_cast<std::uint8_t>(value << (nibble % 2 == 0 ? 4 : 0));
    ++nibble;
  }
  *clsid = parsed;
  return S_OK;
}

HRESULT CLSIDFromProgID(std::u16string_view progId, Clsid* clsid) {
  if (clsid == nullptr) {
    return E_INVALIDARG;
  }
  std::optional<ClassEntry> entry = TheRegistry().ByProgId(progId);
  if (!entry) {
    return CO_E_CLASSSTRING;
  }
  *clsid = entry->clsid;
  return S_OK;
}

HRESULT CoCreateInstance(const Clsid& clsid, std::uint32_t context, ObjectRef* object) {
  if (object == nullptr) {
    return E_POINTER;
  }
  if (ComApartmentDepth() == 0) {
    return CO_E_NOTINITIALIZED;
  }
  std::optional<ClassEntry> entry = TheRegistry().ByClsid(clsid);
  if (!entry) {
    return REGDB_E_CLASSNOTREG;
  }
  if ((context & CLSCTX_REMOTE_SERVER) != 0 && entry->refusesRemoteContext) {
    return E_INVALIDARG;
  }
  if ((context & entry->contexts) == 0) {
    return REGDB_E_CLASSNOTREG;
  }
  ObjectRef made;
  try {
    made = entry->factory ? entry->factory() : nullptr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception&) {
    return E_FAIL;
  }
  if (made == nullptr) {
    return E_OUTOFMEMORY;
  }
  *object = std::move(made);
  return S_OK;
}

HRESULT OleRun(const ObjectRef& object) {
  return object != nullptr ? object->Run() : E_INVALIDARG;
}

void RegisterClass(ClassEntry entry) {
  TheRegistry().Replace(entry, true);
}

void UnregisterClass(std::u16string_view progId) {
  TheRegistry().Remove(progId, nullptr);
}

ScopedClassRegistration::ScopedClassRegistration(std::u16string progId, ClassFactory factory)
    : progId_(std::move(progId)) {
  std::optional<ClassEntry> present = TheRegistry().ByProgId(progId_);
  clsid_ = present ? present->clsid : FreshClsid();
  ClassEntry entry{progId_, clsid_, std::move(factory)};
  if (present) {
    entry.contexts = present->contexts;
  }
  displaced_ = TheRegistry().Replace(entry, false);
}

ScopedClassRegistration::ScopedClassRegistration(ClassEntry entry)
    : progId_(entry.progId), clsid_(entry.clsid) {
  displaced_ = TheRegistry().Replace(entry, true);
}

ScopedClassRegistration::~ScopedClassRegistration() {
  TheRegistry().Restore(progId_, clsid_, std::move(displaced_));
}

}  // namespace mf::platform
