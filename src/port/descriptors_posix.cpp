#include "descriptors_posix.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

namespace ptmove {

namespace {

// Closes descriptors first to last, those that are open.
void closeRange(int first, int last) {
  if (first > last) {
    return;
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0) {
    return;
  }
#endif
  rlimit limit{};
  const int open = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                       ? static_cast<int>(limit.rlim_cur)
                       : 65536;
  for (int fd = first; fd <= std::min(last, open - 1); ++fd) {
    ::close(fd);
  }
}

}  // namespace

WatchEnd watchDescriptor(int fd, short events, Deadline until, Cancellation cancellation,
                         int other) {
  // A deadline that has passed asks once, without waiting.
  for (;;) {
    if (cancellation.requested()) {
      return WatchEnd::kInterrupted;
    }
    // ppoll may wake up 0.1 % late (100 ms at most): each turn waits all
    // but 0.2 % of what is left, and the last turns, short, keep to the
    // timer's usual slack. A day at most, which any time_t holds.
    const Clock::duration left = std::min<Clock::duration>(until.left(), std::chrono::hours(24));
    const timespec timeout =
        toTimespec(left - std::min<Clock::duration>(left / 500, std::chrono::milliseconds(100)));
    pollfd fds[2] = {{fd, events, 0}, {other, POLLIN, 0}};
    if (ppoll(fds, 2, &timeout, cancellation.letIn) > 0) {
      return fds[1].revents != 0 ? WatchEnd::kOther : WatchEnd::kHungUp;
    }
    if (until.passed()) {
      return cancellation.requested() ? WatchEnd::kInterrupted : WatchEnd::kElapsed;
    }
  }
}

void closeAllBut(int a, int b, int c) {
  int keep[] = {a, b, c};
  std::sort(std::begin(keep), std::end(keep));
  int next = 0;
  for (int fd : keep) {
    if (fd >= next) {
      closeRange(next, fd - 1);
      next = fd + 1;
    }
  }
  closeRange(next, 0x7FFFFFFF);
}

}  // namespace ptmove
