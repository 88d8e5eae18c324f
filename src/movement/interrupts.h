// The interrupts of a movement. While an Interrupts exists, an interrupt no
// longer ends the program: it is caught and recorded, cuts short whatever
// waits on the port (its cancellation() goes with each call), and the
// program sends the stop frames before it ends as that interrupt would
// have. Implemented once per platform (interrupts_posix.cpp,
// interrupts_win32.cpp).
#ifndef PTMOVE_MOVEMENT_INTERRUPTS_H_
#define PTMOVE_MOVEMENT_INTERRUPTS_H_

#include <memory>
#include <string>
#include <vector>

#include "port.h"

namespace ptmove {

class Interrupts {
 public:
  /// Catches the interrupts from here on: on POSIX every catchable signal
  /// whose default action ends the process (INT, TERM, HUP, QUIT, USR1,
  /// ALRM, the real-time signals...), kept blocked but inside the calls
  /// that wait, so that none slips between a check and a wait; on Windows
  /// Ctrl+C, Ctrl+Break and the console's close, logoff and shutdown
  /// events. Signals that were ignored or blocked when the program started
  /// are left as they were (nohup, a background job).
  Interrupts();

  /// Puts back what was there (release()).
  ~Interrupts();

  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  /// What a wait or a port call takes to end when an interrupt comes.
  Cancellation cancellation() const;

  /// Whether an interrupt has come, and which: "SIGTERM", "Ctrl+C".
  bool interrupted() const;
  std::string name() const;

  /// Puts back what was there before, once the stop frames are out: an
  /// interrupt that comes now takes its usual effect at once, even while
  /// console text waits for its reader. One that came before, even one
  /// still waiting to be let in, is recorded first.
  void release();

  /// After an interrupt, ends the process as that interrupt would have (a
  /// shell sees 130 for SIGINT, 143 for SIGTERM; Windows' exit code for
  /// Ctrl+C). Returns when there was none.
  void endProcessIfInterrupted();

 private:
  struct Saved;  // what the platform had in place before
  std::unique_ptr<Saved> saved_;
};

#ifndef _WIN32
/// The catchable signals whose default action ends the process.
const std::vector<int>& terminatingSignals();
#endif

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_INTERRUPTS_H_
