// The Windows wait: on the interrupt's event and the guard's process, and
// on a port that tells that its device has gone only when asked, so asked
// every 100 ms. The system timer is raised to 1 ms meanwhile, so that the
// wait ends on time rather than on the next 15.6 ms tick.

#include <windows.h>

#include <timeapi.h>

#include <algorithm>

#include "wait.h"

namespace ptmove {

namespace {

class FineTimer {
 public:
  FineTimer() : raised_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  ~FineTimer() {
    if (raised_) {
      timeEndPeriod(1);
    }
  }
  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;

 private:
  bool raised_;
};

}  // namespace

WaitEnd waitUntil(Deadline deadline, const WaitWatch& watch) {
  const FineTimer fineTimer;
  HANDLE events[2];
  DWORD count = 0;
  for (HANDLE event : {static_cast<HANDLE>(watch.interrupts.event), watch.guardEnd}) {
    if (event != nullptr) {
      events[count++] = event;
    }
  }
  // Waits take 32 bits and read 0xFFFFFFFF as INFINITE: wait in steps.
  const Clock::duration longest = watch.port != nullptr ? std::chrono::milliseconds(100)
                                                        : std::chrono::milliseconds(0x7FFFFFFF);
  while (!watch.interrupts.requested()) {
    const Clock::duration left = deadline.left();
    if (left == Clock::duration::zero()) {
      return WaitEnd::kElapsed;
    }
    // Whole milliseconds, rounded up: never short of the deadline.
    const auto step = std::chrono::ceil<std::chrono::milliseconds>(std::min(left, longest));
    if (count > 0) {
      WaitForMultipleObjects(count, events, FALSE, static_cast<DWORD>(step.count()));
    } else {
      Sleep(static_cast<DWORD>(step.count()));
    }
    if (watch.guardEnd != nullptr && WaitForSingleObject(watch.guardEnd, 0) == WAIT_OBJECT_0) {
      return WaitEnd::kGuardEnded;
    }
    if (watch.port != nullptr && watch.port->hungUp(Deadline::after({}))) {
      return WaitEnd::kPortHungUp;
    }
  }
  return WaitEnd::kInterrupted;
}

}  // namespace ptmove
