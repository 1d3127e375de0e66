// Running a command so that Ctrl-C (SIGINT) and SIGTERM stop it at once, through the same
// cooperative kill that the window's Stop uses (platform/threads.h): the command's thread is
// killed, its transfer abandoned, and it unwinds at its next cancellation point.
//
// A write to a full pipe or a stuck terminal is no cancellation point, so a command that is
// writing when the signal comes, or still writing shortly after, is not waited for: the process
// ends at once with the same status. So does a second signal.
#pragma once

#include <functional>

namespace mf::cli {

// Runs `command` on the calling thread, killable by the two signals. Returns its result, or 128
// plus the number of the signal that stopped it (130 for SIGINT, 143 for SIGTERM). Call it from
// the main thread before any other thread exists: it blocks the signals for the whole process.
int RunStoppable(const std::function<int()>& command);

// A cancellation point for the command that also counts a stop signal the watcher has not acted
// on yet: for a check right after a program that the user may have stopped with Ctrl-C.
void UnwindIfStopping();

// Marks the command as writing its output (to stdout or stderr) while it lives.
class OutputWriteScope {
 public:
  OutputWriteScope();
  ~OutputWriteScope();
  OutputWriteScope(const OutputWriteScope&) = delete;
  OutputWriteScope& operator=(const OutputWriteScope&) = delete;
};

}  // namespace mf::cli
