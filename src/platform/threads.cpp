#include "platform/threads.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

namespace mf::platform {
namespace {

// What the handle table and the thread itself share about one thread.
struct ThreadRecord {
  std::mutex mutex;  // guards the fields below, and is held while wake-ups run
  bool ended = false;
  bool killed = false;
  std::uint32_t exitCode = STILL_ACTIVE;
  std::uint32_t killCode = 0;
  std::map<std::uint64_t, std::function<void()>> wakeups;
  std::atomic<bool> killedFlag{false};  // read without the lock at cancellation points
};

struct Registry {
  std::mutex mutex;
  std::condition_variable threadEnded;
  std::map<ThreadHandle, std::shared_ptr<ThreadRecord>> handles;
  std::set<std::shared_ptr<ThreadRecord>> running;
  ThreadHandle nextHandle = 4;
  std::uint32_t nextId = 1000;
  std::uint64_t nextWakeupId = 1;
};

Registry& TheRegistry() {
  // Never destroyed: threads that outlive main may still end and report here.
  static Registry* registry = new Registry;
  return *registry;
}

thread_local std::shared_ptr<ThreadRecord> currentThread;

std::shared_ptr<ThreadRecord> Find(ThreadHandle handle) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.handles.find(handle);
  return it == registry.handles.end() ? nullptr : it->second;
}

// Returns false when the thread had ended or was killed already.
bool Kill(ThreadRecord& record, std::uint32_t exitCode) {
  std::lock_guard lock(record.mutex);
  if (record.ended || record.killed) {
    return false;
  }
  record.killed = true;
  record.killCode = exitCode;
  record.killedFlag.store(true, std::memory_order_release);
  for (auto& [id, wake] : record.wakeups) {
    wake();
  }
  record.wakeups.clear();
  return true;
}

void Finish(const std::shared_ptr<ThreadRecord>& record, std::uint32_t result) {
  {
    std::lock_guard lock(record->mutex);
    record->ended = true;
    record->exitCode = record->killed ? record->killCode : result;
  }
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.running.erase(record);
  registry.threadEnded.notify_all();
}

void RunThread(std::shared_ptr<ThreadRecord> record, ThreadProc proc, void* parameter) {
  currentThread = record;
  std::uint32_t result = 0;
  try {
    result = proc(parameter);
  } catch (const ThreadKilled&) {
    // The routine unwound after a kill; its exit code is the one the kill gave.
  }
  Finish(record, result);
  currentThread.reset();
}

// Enters a new thread's record in the table; its handle and identifier.
std::pair<ThreadHandle, std::uint32_t> Register(const std::shared_ptr<ThreadRecord>& record) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const ThreadHandle handle = registry.nextHandle;
  registry.nextHandle += 4;
  registry.handles.emplace(handle, record);
  registry.running.insert(record);
  return {handle, registry.nextId++};
}

}  // namespace

ThreadHandle CreateThread(ThreadProc proc, void* parameter, std::uint32_t* threadId) {
  if (proc == nullptr) {
    return 0;
  }
  auto record = std::make_shared<ThreadRecord>();
  Registry& registry = TheRegistry();
  const auto [handle, id] = Register(record);
  try {
    std::thread(RunThread, record, proc, parameter).detach();
  } catch (const std::system_error&) {
    std::lock_guard lock(registry.mutex);
    registry.handles.erase(handle);
    registry.running.erase(record);
    return 0;
  }
  if (threadId != nullptr) {
    *threadId = id;
  }
  return handle;
}

bool GetExitCodeThread(ThreadHandle handle, std::uint32_t* exitCode) {
  auto record = Find(handle);
  if (record == nullptr || exitCode == nullptr) {
    return false;
  }
  std::lock_guard lock(record->mutex);
  *exitCode = record->exitCode;
  return true;
}

bool TerminateThread(ThreadHandle handle, std::uint32_t exitCode) {
  auto record = Find(handle);
  return record != nullptr && Kill(*record, exitCode);
}

bool CloseHandle(ThreadHandle handle) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return registry.handles.erase(handle) > 0;
}

bool IsThisThreadKilled() {
  return currentThread != nullptr && currentThread->killedFlag.load(std::memory_order_acquire);
}

void UnwindIfKilled() {
  if (IsThisThreadKilled()) {
    throw ThreadKilled{};
  }
}

KillWakeup::KillWakeup(std::function<void()> wake) {
  if (currentThread == nullptr) {
    return;
  }
  std::lock_guard lock(currentThread->mutex);
  if (currentThread->killed) {
    wake();
    return;
  }
  {
    Registry& registry = TheRegistry();
    std::lock_guard registryLock(registry.mutex);
    id_ = registry.nextWakeupId++;
  }
  currentThread->wakeups.emplace(id_, std::move(wake));
}

KillWakeup::~KillWakeup() {
  if (currentThread == nullptr || id_ == 0) {
    return;
  }
  // Taking the lock also waits for a wake-up that a kill is running right now.
  std::lock_guard lock(currentThread->mutex);
  currentThread->wakeups.erase(id_);
}

KillableThisThread::KillableThisThread() {
  auto record = std::make_shared<ThreadRecord>();
  handle_ = Register(record).first;
  currentThread = std::move(record);
}

KillableThisThread::~KillableThisThread() {
  Finish(currentThread, 0);
  currentThread.reset();
  CloseHandle(handle_);
}

bool KillAllThreadsAndWait(std::chrono::milliseconds timeout) {
  Registry& registry = TheRegistry();
  std::set<std::shared_ptr<ThreadRecord>> running;
  {
    std::lock_guard lock(registry.mutex);
    running = registry.running;
  }
  for (const auto& record : running) {
    Kill(*record, STILL_ACTIVE);
  }
  std::unique_lock lock(registry.mutex);
  return registry.threadEnded.wait_for(lock, timeout, [&] { return registry.running.empty(); });
}

int RunningThreadCount() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return static_cast<int>(registry.running.size());
}

}  // namespace mf::platform
