#include "support/threads.h"

#include "platform/com_apartment.h"

namespace mf {

ThreadHandle StartThread(ThreadRoutine routine, void* parameter, std::int32_t* identifier) {
  std::uint32_t id = 0;
  const ThreadHandle handle = platform::CreateThread(routine, parameter, &id);
  if (identifier != nullptr && handle != 0) {
    *identifier = static_cast<std::int32_t>(id);
  }
  return handle;
}

void KillThread(ThreadHandle handle) {
  std::uint32_t code = 0;
  platform::GetExitCodeThread(handle, &code);
  platform::TerminateThread(handle, code);
}

bool RunOnNewThread(ThreadRoutine routine, void* parameter, ThreadHandle* handle) {
  std::uint32_t id = 0;
  const ThreadHandle created = platform::CreateThread(routine, parameter, &id);
  const bool started = created != 0;
  if (handle != nullptr) {
    *handle = created;
    return started;
  }
  platform::CloseHandle(created);
  return started;
}

void EnterComApartment() {
  platform::CoInitialize(nullptr);
}

void LeaveComApartment() {
  platform::CoUninitialize();
}

}  // namespace mf
