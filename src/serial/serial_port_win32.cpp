// Windows serial ports through the communications functions. COM1 to COM9
// open by their plain names; COM10 and above need the device namespace.

// windows.h comes first: the other Windows headers depend on it.
#include <windows.h>

#include <oleauto.h>
#include <timeapi.h>

#include <algorithm>
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

void SerialPort::drain() {
  FlushFileBuffers(handle_);
}

void SerialPort::close() {
  if (handle_ != nullptr) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  if (claim_ != nullptr) {
    ReleaseMutex(claim_);
    CloseHandle(claim_);
    claim_ = nullptr;
  }
}

void sleepMilliseconds(std::uint64_t milliseconds) {
  if (milliseconds == 0) {
    return;
  }
  const FineTimer fineTimer;
  // Sleep takes 32 bits and reads 0xFFFFFFFF as INFINITE: wait in steps.
  constexpr std::uint64_t kStep = 0x7FFFFFFF;
  while (milliseconds > 0) {
    const std::uint64_t step = std::min(milliseconds, kStep);
    Sleep(static_cast<DWORD>(step));
    milliseconds -= step;
  }
}

}  // namespace ptmove
