// Makes sure a movement ends with its stop frames even when the program does
// not live to send them. A fault inside the program (SEGV, BUS, ILL, FPE,
// ABRT) sends them from a signal handler before the program dies. A guard
// process that shares the open port outlives the program only if it dies
// before saying it is done (SIGKILL, an OOM kill, Task Manager's "End
// task"), and then sends them itself. While it watches, it lets go of a
// port whose device vanishes, as the program does, and opens it again to
// send them. Implemented once per platform
// (stop_guard_posix.cpp: a forked child; stop_guard_win32.cpp: a second
// run of ptmove.exe marked through the environment).
#ifndef PTMOVE_MOVEMENT_STOP_GUARD_H_
#define PTMOVE_MOVEMENT_STOP_GUARD_H_

#include <string>

#include "command_frame.h"
#include "serial_port.h"

namespace ptmove {

class StopGuard {
 public:
  /// Starts guarding `port`, which must stay open until dismiss().
  StopGuard(SerialPort& port, const StopFrames& stops);

  /// Dismisses the guard.
  ~StopGuard();

  StopGuard(const StopGuard&) = delete;
  StopGuard& operator=(const StopGuard&) = delete;

  /// Whether the guard process is watching; when not, error() says why.
  bool watching() const { return watching_; }
  const std::string& error() const { return error_; }

  /// The port was let go or opened again: a fault now sends the stop
  /// frames to the device as it is (or nowhere, while there is none).
  void followPort();

  /// The movement is over and its stop frames were written: the guard ends
  /// without touching the port, and is gone when this returns.
  void dismiss();

  /// This process cannot go on (out of memory): the guard sends the stop
  /// frames as if it had died. On POSIX it is gone when this returns; on
  /// Windows it sends them once this process has ended.
  void abandon();

  /// What ends when the guard dies, for a wait to watch: the read end of
  /// a pipe only the guard writes to (POSIX), the guard's process (Windows).
  NativePortHandle lifeline() const;

  /// The guard in messages: "the stop guard (process 1234)".
  std::string describe() const;

 private:
  SerialPort& port_;
  bool watching_ = false;
  std::string error_;
#ifdef _WIN32
  void* guard_ = nullptr;  // the guard's process
  void* done_ = nullptr;   // event that tells the guard the movement is over
#else
  void release(bool done);

  int guard_ = -1;  // the guard's process
  int done_ = -1;   // pipe to the guard: "done", or its end when we die
  int life_ = -1;   // pipe from the guard, which ends when the guard dies
  bool catchingFaults_ = false;
#endif
};

/// Where the guard is a second run of the program (Windows): when the
/// environment marks this process as a guard, keeps the watch and returns
/// true, and the program then ends at once. False otherwise, and always on
/// POSIX, where the guard is a forked child.
bool runAsStopGuard();

/// The stop guard's own work once the program it watched has died: writes
/// `stops` to `port` (opened again if it had vanished), waits for them to
/// leave, and closes the port, within the usual bounds.
void sendStopFrames(SerialPort& port, const StopFrames& stops);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_STOP_GUARD_H_
