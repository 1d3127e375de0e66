// The automation classes the platform provides. Each object module offers a function that returns
// its ClassEntry; list it here so that creation by ProgID finds it.
#include "platform/automation.h"

namespace mf::platform {

std::vector<ClassEntry> BuiltinClasses() {
  return {};
}

}  // namespace mf::platform
