// Windows serial ports through the communications functions. COM1 to COM9
// open by their plain names; COM10 and above need the device namespace.

// windows.h comes first: the other Windows headers depend on it.
#include <windows.h>

#include <oleauto.h>
#include <timeapi.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "serial/serial_port.h"

namespace ptmove {

namespace {

struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using WideName = std::unique_ptr<OLECHAR, BstrFree>;

// The port name as a wide string in the system's ANSI code page.
WideName widen(const std::string& name) {
  const int length = lstrlenA(name.c_str());
  WideName wide(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
  if (wide) {
    MultiByteToWideChar(CP_ACP, 0, name.c_str(), length, wide.get(), length);
  }
  return wide;
}

DCB lineSettings(DWORD baudRate) {
  DCB dcb;
  ZeroMemory(&dcb, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baudRate;
  dcb.fBinary = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return dcb;
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

// Claims COM<portNumber> for this process through a named mutex. Windows'
// own serial driver refuses a second open, but other drivers and emulators
// may not; the claim keeps two runs off one port wherever they run.
HANDLE claimPort(std::int32_t portNumber) {
  const std::wstring name = L"Global\\ptmove.COM" + std::to_wstring(portNumber);
  HANDLE claim = CreateMutexW(nullptr, FALSE, name.c_str());
  if (claim == nullptr) {
    return nullptr;
  }
  const DWORD result = WaitForSingleObject(claim, 0);
  if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
    CloseHandle(claim);
    return nullptr;
  }
  return claim;
}

// What the console control handler saw: the one state it shares with the
// waiting thread.
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
      InterlockedExchange(&interrupt.controlType, static_cast<LONG>(type) + 1);
      if (interrupt.wake != nullptr) {
        SetEvent(interrupt.wake);
      }
      if (type >= CTRL_CLOSE_EVENT) {
        // Windows ends the process once this returns: leave the main thread
        // time to send the stop frame and exit by itself.
        Sleep(5000);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::string portDeviceName(std::int32_t portNumber) {
  const std::string name = "COM" + std::to_string(portNumber);
  return portNumber >= 10 ? "\\\\.\\" + name : name;
}

SerialPort::~SerialPort() {
  close();
}

bool SerialPort::open(std::int32_t portNumber) {
  close();
  claim_ = claimPort(portNumber);
  if (claim_ == nullptr) {
    return false;
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  {
    const WideName name = widen(portDeviceName(portNumber));
    if (!name) {
      close();
      return false;
    }
    // Share mode 0: nobody else may have the port while we do.
    handle = CreateFileW(name.get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    close();
    return false;
  }
  handle_ = handle;
  return true;
}

bool SerialPort::applyTimeouts() {
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = 1;
  timeouts.ReadTotalTimeoutMultiplier = 100;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  return SetCommTimeouts(handle_, &timeouts) != FALSE;
}

bool SerialPort::applyLineSettings(std::int32_t baudRate) {
  if (baudRate > 0) {
    DCB dcb = lineSettings(static_cast<DWORD>(baudRate));
    return SetCommState(handle_, &dcb) != FALSE;
  }
  // No such speed. Set up the rest of the line at the speed it has, so the
  // frames still leave as binary 8N1, and report the failure.
  DCB current;
  ZeroMemory(&current, sizeof current);
  current.DCBlength = sizeof current;
  if (GetCommState(handle_, &current)) {
    DCB dcb = lineSettings(current.BaudRate);
    SetCommState(handle_, &dcb);
  }
  return false;
}

std::size_t SerialPort::write(const std::uint8_t* data, std::size_t size) {
  std::size_t written = 0;
  while (written < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - written, 0x7FFFFFFF));
    DWORD count = 0;
    if (!WriteFile(handle_, data + written, chunk, &count, nullptr) || count == 0) {
      break;
    }
    written += count;
  }
  return written;
}

void SerialPort::close() {
  if (handle_ != nullptr) {
    FlushFileBuffers(handle_);  // until the bytes have left the port
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  if (claim_ != nullptr) {
    ReleaseMutex(claim_);
    CloseHandle(claim_);
    claim_ = nullptr;
  }
}

struct InterruptibleWait::Saved {
  bool handlerInstalled = false;
};

InterruptibleWait::InterruptibleWait() : saved_(std::make_unique<Saved>()) {
  InterlockedExchange(&interrupt.controlType, 0);
  interrupt.wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  saved_->handlerInstalled = SetConsoleCtrlHandler(onConsoleControl, TRUE) != FALSE;
}

InterruptibleWait::~InterruptibleWait() {
  if (saved_->handlerInstalled) {
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
  }
  if (interrupt.wake != nullptr) {
    CloseHandle(interrupt.wake);
    interrupt.wake = nullptr;
  }
}

bool InterruptibleWait::wait(std::uint64_t milliseconds) {
  if (milliseconds == 0) {
    return !interrupted();
  }
  const FineTimer fineTimer;
  // Waits take 32 bits and read 0xFFFFFFFF as INFINITE: wait in steps.
  constexpr std::uint64_t kStep = 0x7FFFFFFF;
  while (milliseconds > 0 && !interrupted()) {
    const std::uint64_t step = std::min(milliseconds, kStep);
    if (interrupt.wake != nullptr) {
      WaitForSingleObject(interrupt.wake, static_cast<DWORD>(step));
    } else {
      Sleep(static_cast<DWORD>(step));
    }
    milliseconds -= step;
  }
  return !interrupted();
}

bool InterruptibleWait::interrupted() const {
  return interrupt.controlType != 0;
}

void InterruptibleWait::endProcessIfInterrupted() {
  if (!interrupted()) {
    return;
  }
  std::fflush(nullptr);
  ExitProcess(STATUS_CONTROL_C_EXIT);  // what a console shows for Ctrl+C
}

}  // namespace ptmove
