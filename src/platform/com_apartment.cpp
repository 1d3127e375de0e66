#include "platform/com_apartment.h"

namespace mf::platform {
namespace {
thread_local int depth = 0;
}  // namespace

long CoInitialize(void* reserved) {
  if (reserved != nullptr) {
    return -1;
  }
  return depth++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (depth > 0) {
    --depth;
  }
}

int ComApartmentDepth() {
  return depth;
}

}  // namespace mf::platform
