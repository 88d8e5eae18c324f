// The POSIX wait: one ppoll watches the port for a hang-up and the guard's
// pipe, and lets the interrupts in while it blocks; the port knows what of
// itself to watch.

#include "descriptors_posix.h"
#include "wait.h"

namespace ptmove {

WaitEnd waitUntil(Deadline deadline, const WaitWatch& watch) {
  const WatchEnd end =
      watch.port != nullptr
          ? watch.port->watch(deadline, watch.interrupts, watch.guardEnd)
          : watchDescriptor(kNoHandle, 0, deadline, watch.interrupts, watch.guardEnd);
  switch (end) {
    case WatchEnd::kInterrupted:
      return WaitEnd::kInterrupted;
    case WatchEnd::kHungUp:
      return WaitEnd::kPortHungUp;
    case WatchEnd::kOther:
      return WaitEnd::kGuardEnded;
    case WatchEnd::kElapsed:
      break;
  }
  return WaitEnd::kElapsed;
}

}  // namespace ptmove
