// The POSIX wait: one ppoll watches the port for a hang-up and the guard's
// pipe for its end, and lets the interrupts in while it blocks.

#include <poll.h>

#include <algorithm>

#include "wait.h"

namespace ptmove {

WaitEnd waitUntil(Deadline deadline, const WaitWatch& watch) {
  const NativeHandle port = watch.port != nullptr ? watch.port->handle() : kNoHandle;
  while (!watch.interrupts.requested()) {
    const Clock::duration left = deadline.left();
    if (left == Clock::duration::zero()) {
      return WaitEnd::kElapsed;
    }
    // ppoll may wake up 0.1 % late (100 ms at most): each turn waits all
    // but 0.2 % of what is left, and the last turns, short, keep to the
    // timer's usual slack.
    const Clock::duration step =
        left - std::min<Clock::duration>(left / 500, std::chrono::milliseconds(100));
    const timespec timeout = toTimespec(step);
    // Events 0: only a hang-up or an error wakes it, for the port and for
    // the guard's pipe, whose last writer is the guard. A negative
    // descriptor is not watched.
    pollfd fds[2] = {{port, 0, 0}, {watch.guardEnd, 0, 0}};
    if (ppoll(fds, 2, &timeout, watch.interrupts.letIn) > 0) {
      if (fds[1].revents != 0) {
        return WaitEnd::kGuardEnded;
      }
      if (fds[0].revents != 0) {
        return WaitEnd::kPortHungUp;
      }
    }
  }
  return WaitEnd::kInterrupted;
}

}  // namespace ptmove
