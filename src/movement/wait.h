// The movement's wait: for its time, or less when something makes going on
// pointless. Also the wait between the questions to a head on its way. Implemented once per
// platform (wait_posix.cpp, wait_win32.cpp).
#ifndef PTMOVE_MOVEMENT_WAIT_H_
#define PTMOVE_MOVEMENT_WAIT_H_

#include <cstdint>
#include <limits>

#include "port.h"

namespace ptmove {

/// The wait for a duration: seconds x 1000 in double precision, truncated
/// toward zero. Negative and NaN durations wait 0 ms; counts beyond 64 bits
/// saturate.
inline std::uint64_t waitMilliseconds(float durationSeconds) {
  const double milliseconds = static_cast<double>(durationSeconds) * 1000.0;
  if (!(milliseconds > 0.0)) {
    return 0;  // negative, zero or NaN
  }
  constexpr double kLimit = 18446744073709551616.0;  // 2^64
  if (milliseconds >= kLimit) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(milliseconds);
}

/// How a wait ended.
/// kGuardEnded: the guard's handle became ready; StopGuard::ended() tells
/// whether the guard really ended.
enum class WaitEnd { kElapsed, kInterrupted, kPortHungUp, kGuardEnded };

/// What a wait watches besides its deadline.
struct WaitWatch {
  Cancellation interrupts;            // an interrupt ends it
  const Port* port = nullptr;         // when given, its device hanging up ends it
  NativeHandle guardEnd = kNoHandle;  // when given, the guard spoke or ended (POSIX: readable
                                      // or hung up; Windows: signalled)
};

/// Blocks until `deadline`, however far, or until one of `watch` ends the
/// wait, whichever comes first.
WaitEnd waitUntil(Deadline deadline, const WaitWatch& watch);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_WAIT_H_
