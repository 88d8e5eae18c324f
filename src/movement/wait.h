// The movement's wait: for its time, or less when something makes going on
// pointless. Implemented once per platform (wait_posix.cpp,
// wait_win32.cpp).
#ifndef PTMOVE_MOVEMENT_WAIT_H_
#define PTMOVE_MOVEMENT_WAIT_H_

#include "port.h"

namespace ptmove {

/// How a wait ended.
enum class WaitEnd { kElapsed, kInterrupted, kPortHungUp, kGuardEnded };

/// What a wait watches besides its deadline.
struct WaitWatch {
  Cancellation interrupts;            // an interrupt ends it
  const Port* port = nullptr;         // when given, its device hanging up ends it
  NativeHandle guardEnd = kNoHandle;  // when given, its hang-up (POSIX) or signal ends it
};

/// Blocks until `deadline`, however far, or until one of `watch` ends the
/// wait, whichever comes first.
WaitEnd waitUntil(Deadline deadline, const WaitWatch& watch);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_WAIT_H_
