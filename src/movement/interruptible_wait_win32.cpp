// Windows interrupts: a console control handler records the event and sets
// an event object that the wait, and any port write cut short by an
// interrupt, wait on.

#include <windows.h>

#include <timeapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "interruptible_wait.h"

namespace ptmove {

namespace {

// What the console control handler saw: the one state it shares with the
// main thread.
struct InterruptState {
  volatile LONG controlType = 0;  // the control event + 1, or 0
  HANDLE wake = nullptr;          // set by the handler to end the wait
};
InterruptState interrupt;

BOOL WINAPI onConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      InterlockedCompareExchange(&interrupt.controlType, static_cast<LONG>(type) + 1, 0);
      if (interrupt.wake != nullptr) {
        SetEvent(interrupt.wake);
      }
      if (type >= CTRL_CLOSE_EVENT) {
        // Windows ends the process once this returns: leave the main thread
        // time to send the stop frames and exit by itself.
        Sleep(5000);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

// Raises the system timer to 1 ms while a wait is in progress, so that a
// wait ends on time rather than on the next 15.6 ms tick.
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

struct InterruptibleWait::Saved {
  bool handlerInstalled = false;
};

InterruptibleWait::InterruptibleWait() : saved_(std::make_unique<Saved>()) {
  InterlockedExchange(&interrupt.controlType, 0);
  interrupt.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  saved_->handlerInstalled = SetConsoleCtrlHandler(onConsoleControl, TRUE) != FALSE;
}

InterruptibleWait::~InterruptibleWait() {
  release();
}

void InterruptibleWait::release() {
  if (saved_->handlerInstalled) {
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    saved_->handlerInstalled = false;
  }
  if (interrupt.wake != nullptr) {
    CloseHandle(interrupt.wake);
    interrupt.wake = nullptr;
  }
}

WaitEnd InterruptibleWait::wait(std::uint64_t milliseconds, const SerialPort* watched,
                                const StopGuard* guard) {
  const auto end = [this] { return interrupted() ? WaitEnd::kInterrupted : WaitEnd::kElapsed; };
  if (milliseconds == 0) {
    return end();
  }
  const FineTimer fineTimer;
  // The port tells that it has vanished only when asked: ask every 100 ms.
  // Waits take 32 bits and read 0xFFFFFFFF as INFINITE: wait in steps,
  // counted against the clock so that they add up to the time asked.
  const std::uint64_t kStep = watched != nullptr ? 100 : 0x7FFFFFFF;
  const HANDLE lifeline = guard != nullptr ? guard->lifeline() : nullptr;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  while (!interrupted()) {
    const std::uint64_t elapsed = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    if (elapsed >= milliseconds) {
      break;
    }
    const std::uint64_t step = std::min(milliseconds - elapsed, kStep);
    HANDLE events[2];
    DWORD count = 0;
    for (HANDLE event : {interrupt.wake, lifeline}) {
      if (event != nullptr) {
        events[count++] = event;
      }
    }
    if (count > 0) {
      WaitForMultipleObjects(count, events, FALSE, static_cast<DWORD>(step));
    } else {
      Sleep(static_cast<DWORD>(step));
    }
    if (lifeline != nullptr && WaitForSingleObject(lifeline, 0) == WAIT_OBJECT_0) {
      return WaitEnd::kGuardDied;
    }
    if (watched != nullptr && watched->hasVanished()) {
      return WaitEnd::kPortVanished;
    }
  }
  return end();
}

bool InterruptibleWait::interrupted() const {
  return interrupt.controlType != 0;
}

std::string InterruptibleWait::interruptName() const {
  switch (interrupt.controlType - 1) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    case CTRL_CLOSE_EVENT:
      return "the console's closing";
    case CTRL_LOGOFF_EVENT:
      return "the user's logoff";
    case CTRL_SHUTDOWN_EVENT:
      return "the system's shutdown";
    default:
      return "";
  }
}

void* InterruptibleWait::interruptEvent() const {
  return interrupt.wake;
}

void InterruptibleWait::endProcessIfInterrupted() {
  if (!interrupted()) {
    return;
  }
  std::fflush(nullptr);
  ExitProcess(STATUS_CONTROL_C_EXIT);  // what a console shows for Ctrl+C
}

}  // namespace ptmove
