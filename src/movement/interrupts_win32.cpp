// Windows interrupts: a console control handler records the event and sets
// an event object that the wait, and any port call cut short by an
// interrupt, wait on.

#include <windows.h>

#include <cstdio>

#include "interrupts.h"
#include "system_message.h"

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

}  // namespace

struct Interrupts::Saved {
  bool handlerInstalled = false;
};

Interrupts::Interrupts() : saved_(std::make_unique<Saved>()) {
  InterlockedExchange(&interrupt.controlType, 0);
  interrupt.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  saved_->handlerInstalled = SetConsoleCtrlHandler(onConsoleControl, TRUE) != FALSE;
}

Interrupts::~Interrupts() {
  release();
}

void Interrupts::release() {
  if (saved_->handlerInstalled) {
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    saved_->handlerInstalled = false;
  }
  if (interrupt.wake != nullptr) {
    CloseHandle(interrupt.wake);
    interrupt.wake = nullptr;
  }
}

Cancellation Interrupts::cancellation() const {
  Cancellation cancellation;
  cancellation.interrupt = &interrupt.controlType;
  cancellation.event = interrupt.wake;
  return cancellation;
}

bool Interrupts::interrupted() const {
  return interrupt.controlType != 0;
}

std::string Interrupts::name() const {
  return interruptName(interrupt.controlType);
}

void Interrupts::endProcessIfInterrupted() {
  if (!interrupted()) {
    return;
  }
  std::fflush(nullptr);
  ExitProcess(STATUS_CONTROL_C_EXIT);  // what a console shows for Ctrl+C
}

}  // namespace ptmove
