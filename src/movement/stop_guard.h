// Makes sure a movement ends with its stop frame even when the program does
// not live to send it. A fault inside the program (SEGV, BUS, ILL, FPE,
// ABRT) sends it from a signal handler before the program dies. A guard
// process that shares the open port outlives the program only if it dies
// before saying it is done (SIGKILL, an OOM kill, Task Manager's "End
// task"), and then sends it itself. The guard follows the port: when the
// program lets go of the device, the guard lets go of it too, so that the
// program can open it again; and it lets go by itself of a device that
// hangs up. Implemented once per platform (stop_guard_posix.cpp: a forked
// child; stop_guard_win32.cpp: a second run of ptmove.exe marked through
// the environment).
#ifndef PTMOVE_MOVEMENT_STOP_GUARD_H_
#define PTMOVE_MOVEMENT_STOP_GUARD_H_

#include <string>

#include "line_events.h"
#include "port.h"

namespace ptmove {

class StopGuard {
 public:
  /// Starts guarding `port`, which must outlive the guard, and follows it.
  StopGuard(Port& port, const Bytes& stop);

  /// Dismisses the guard.
  ~StopGuard();

  StopGuard(const StopGuard&) = delete;
  StopGuard& operator=(const StopGuard&) = delete;

  /// Whether the guard process is watching; when not, error() says why.
  bool watching() const { return watching_; }
  const std::string& error() const { return error_; }

  /// The movement is over and its stop frame was written: the guard ends
  /// without touching the port, and is gone when this returns.
  void dismiss();

  /// This process cannot go on (out of memory): the guard sends the stop
  /// frame as if it had died. On POSIX it is gone when this returns; on
  /// Windows it sends them once this process has ended.
  void abandon();

  /// A handle that a wait sees ready once the guard has ended: the read end
  /// of a pipe only the guard writes to (POSIX; also ready for a late
  /// answer), the guard's process (Windows); kNoHandle when it is not
  /// watching.
  NativeHandle endHandle() const;

  /// Whether the guard has ended; a late answer it left on its pipe is
  /// taken off, so that a wait on endHandle() does not wake for it again.
  bool ended();

  /// The guard's process, for messages.
  unsigned long processId() const;

 private:
  void letGoToo();  // the port let go of its device: so does the guard

  Port& port_;
  bool watching_ = false;
  std::string error_;
#ifdef _WIN32
  void* guard_ = nullptr;    // the guard's process
  void* done_ = nullptr;     // event: the movement is over
  void* letGo_ = nullptr;    // event: let go of the port
  void* letGone_ = nullptr;  // event, set by the guard: it has let go
#else
  void release(bool done);

  int guard_ = -1;  // the guard's process
  int tell_ = -1;   // pipe to the guard: "done", "lose", or its end when we die
  int hear_ = -1;   // pipe from the guard: "lost", and its end when the guard dies
  bool catchingFaults_ = false;
#endif
};

/// Where the guard is a second run of the program (Windows): when the
/// environment marks this process as a guard, keeps the watch and returns
/// true, and the program then ends at once. False otherwise, and always on
/// POSIX, where the guard is a forked child.
bool runAsStopGuard();

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_STOP_GUARD_H_
