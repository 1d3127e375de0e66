// The automation classes the platform provides. Each object module offers a function that returns
// its ClassEntry; list it here so that creation by ProgID finds it.
#include "platform/automation_registry.h"

#include "platform/regexp_object.h"
#include "platform/winhttp_request_object.h"

namespace mf::platform {

std::vector<ClassEntry> BuiltinClasses() {
  return {RegExpClass(), WinHttpRequestClass()};
}

}  // namespace mf::platform
