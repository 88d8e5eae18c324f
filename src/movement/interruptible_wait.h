// The movement's wait, and the interrupts that may cut it short. While an
// InterruptibleWait exists, an interrupt no longer ends the program: it is
// caught, ends the wait (or a port write blocked on a stuck line), and the
// program sends the stop frames before it ends as that interrupt would
// have. Implemented once per platform (interruptible_wait_posix.cpp,
// interruptible_wait_win32.cpp).
#ifndef PTMOVE_MOVEMENT_INTERRUPTIBLE_WAIT_H_
#define PTMOVE_MOVEMENT_INTERRUPTIBLE_WAIT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "interrupts.h"
#include "serial_port.h"
#include "stop_guard.h"

namespace ptmove {

/// How a wait ended.
enum class WaitEnd { kElapsed, kInterrupted, kPortVanished, kGuardDied };

class InterruptibleWait : public Interrupts {
 public:
  /// Starts catching interrupts: on POSIX every catchable signal whose
  /// default action ends the process (INT, TERM, HUP, QUIT, USR1, ALRM, the
  /// real-time signals...); on Windows Ctrl+C, Ctrl+Break and the console's
  /// close, logoff and shutdown events. Signals that were ignored or blocked
  /// when the program started are left as they were (nohup, a background
  /// job). On POSIX they are blocked here and caught from the first time
  /// they matter (the wait, a write held up by the line, the questions
  /// below), so that one call is all that comes before the movement frame.
  InterruptibleWait();

  /// Puts back what was there. A signal that arrived after the run was
  /// over then takes its usual effect.
  ~InterruptibleWait() override;

  InterruptibleWait(const InterruptibleWait&) = delete;
  InterruptibleWait& operator=(const InterruptibleWait&) = delete;

  /// Blocks for `milliseconds`, however long, or until an interrupt, or
  /// until the device of `watched`, when given, vanishes (hangs up, is
  /// unplugged), or until `guard`, when given, dies.
  WaitEnd wait(std::uint64_t milliseconds, const SerialPort* watched = nullptr,
               const StopGuard* guard = nullptr);

  /// Puts back what was there before, as the destructor does, once the
  /// stop frames are out: an interrupt that comes now takes its usual
  /// effect at once, even while console text waits for its reader. One
  /// caught before is still told by interrupted().
  void release();

  bool interrupted() const override;

  /// The interrupt that was caught, as users know it: "SIGTERM", "Ctrl+C".
  std::string interruptName() const override;

  /// After an interrupt, ends the process as that interrupt would have (a
  /// shell sees 130 for SIGINT, 143 for SIGTERM; Windows' exit code for
  /// Ctrl+C). Returns when there was none.
  void endProcessIfInterrupted();

#ifdef _WIN32
  /// An event that is set when an interrupt comes, for code that must stop
  /// waiting on something else.
  void* interruptEvent() const override;
#else
  /// The signal mask under which a blocking call (ppoll) lets the caught
  /// signals in, so that an interrupt ends it. At other times they wait,
  /// blocked, to be taken by wait() or by the next such call.
  const sigset_t* catchMask() const override;
#endif

 private:
#ifndef _WIN32
  void catchBlocked() const;
#endif

  struct Saved;  // what the platform had in place before
  std::unique_ptr<Saved> saved_;
};

#ifndef _WIN32
/// The catchable signals whose default action ends the process.
const std::vector<int>& terminatingSignals();
#endif

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_INTERRUPTIBLE_WAIT_H_
