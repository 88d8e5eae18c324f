// Windows serial ports through the communications functions. COM1 to COM9
// open by their plain names; COM10 and above need the device namespace.
// The port is synchronous and has no write timeout of its own, so a helper
// thread bounds every write, read and drain by cancelling it.

// windows.h comes first: the other Windows headers depend on it.
#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "serial_port.h"
#include "system_message.h"

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

// The port's speed now, or 0 when it cannot be told.
std::int32_t currentSpeed(HANDLE port) {
  DCB current;
  ZeroMemory(&current, sizeof current);
  current.DCBlength = sizeof current;
  return GetCommState(port, &current) ? static_cast<std::int32_t>(current.BaudRate) : 0;
}

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

// How often a port is asked whether its device is still there, while a
// read waits.
constexpr std::chrono::milliseconds kAskEvery{100};

// Errors of a port whose device is no longer there: Windows' own serial
// drivers and the USB adapters' report removal in these ways.
bool isVanishedError(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

// Whether the device behind `port` answers the question that tells a
// vanished one.
bool answersStatus(HANDLE port) {
  DWORD errors = 0;
  COMSTAT status;
  return ClearCommError(port, &errors, &status) != FALSE;
}

std::string openHint(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "; Device Manager lists the ports there are, under Ports (COM & LPT)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "; the port is in use by another program";
    default:
      return "";
  }
}

// Cuts a synchronous call of the calling thread short at a deadline, or
// when `interruptEvent` is set, by cancelling its I/O from a thread-pool
// callback; the pool's threads start once, not once per call.
// CancelSynchronousIo needs the call to have started, so the callback keeps
// cancelling until the call has returned. A driver that ignores cancelling
// cannot hold the program either: after two more seconds the process ends,
// and its stop guard takes over.
class IoDeadline {
 public:
  enum class Call { kWrite, kRead };

  IoDeadline(Deadline deadline, HANDLE interruptEvent, const std::function<void(bool)>& lastWords,
             Call call = Call::kWrite)
      : interrupt_(interruptEvent), lastWords_(lastWords), call_(call) {
    const auto limit = std::chrono::duration_cast<std::chrono::microseconds>(deadline.left());
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &caller_,
                    THREAD_TERMINATE, FALSE, 0);
    timer_ = CreateThreadpoolTimer(onTimer, this, nullptr);
    if (timer_ != nullptr) {
      // Relative due times are negative, in units of 100 ns.
      const LONGLONG due = -static_cast<LONGLONG>(limit.count()) * 10;
      FILETIME when;
      when.dwLowDateTime = static_cast<DWORD>(due & 0xFFFFFFFF);
      when.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(due) >> 32);
      SetThreadpoolTimer(timer_, &when, 0, 0);
    }
    if (interrupt_ != nullptr) {
      wait_ = CreateThreadpoolWait(onInterrupt, this, nullptr);
      if (wait_ != nullptr) {
        SetThreadpoolWait(wait_, interrupt_, nullptr);
      }
    }
  }

  ~IoDeadline() {
    InterlockedExchange(&returned_, 1);
    if (timer_ != nullptr) {
      SetThreadpoolTimer(timer_, nullptr, 0, 0);
      WaitForThreadpoolTimerCallbacks(timer_, TRUE);
      CloseThreadpoolTimer(timer_);
    }
    if (wait_ != nullptr) {
      SetThreadpoolWait(wait_, nullptr, nullptr);
      WaitForThreadpoolWaitCallbacks(wait_, TRUE);
      CloseThreadpoolWait(wait_);
    }
    if (caller_ != nullptr) {
      CloseHandle(caller_);
    }
  }

  IoDeadline(const IoDeadline&) = delete;
  IoDeadline& operator=(const IoDeadline&) = delete;

  /// The call was cut short: by the interrupt, or else by the deadline.
  bool cut() const { return cut_ != 0; }
  bool byInterrupt() const {
    return interrupt_ != nullptr && WaitForSingleObject(interrupt_, 0) == WAIT_OBJECT_0;
  }

 private:
  static void CALLBACK onTimer(PTP_CALLBACK_INSTANCE, void* self, PTP_TIMER) {
    static_cast<IoDeadline*>(self)->cancel();
  }
  static void CALLBACK onInterrupt(PTP_CALLBACK_INSTANCE, void* self, PTP_WAIT, TP_WAIT_RESULT) {
    static_cast<IoDeadline*>(self)->cancel();
  }

  void cancel() {
    if (InterlockedExchange(&cut_, 1) != 0 || caller_ == nullptr) {
      return;  // the other callback is at it
    }
    for (int tries = 0; tries < 200 && returned_ == 0; ++tries) {
      CancelSynchronousIo(caller_);
      Sleep(10);
    }
    if (returned_ != 0) {
      return;
    }
    if (lastWords_) {
      lastWords_(call_ == Call::kWrite);
    }
    TerminateProcess(GetCurrentProcess(), byInterrupt() ? STATUS_CONTROL_C_EXIT : 0);
  }

  HANDLE interrupt_;
  const std::function<void(bool)>& lastWords_;
  Call call_;
  HANDLE caller_ = nullptr;
  PTP_TIMER timer_ = nullptr;
  PTP_WAIT wait_ = nullptr;
  volatile LONG returned_ = 0;
  volatile LONG cut_ = 0;
};

}  // namespace

PortDevice portDevice(std::int32_t portNumber) {
  const std::string name = "COM" + std::to_string(portNumber);
  return {portNumber >= 10 ? "\\\\.\\" + name : name, ""};
}

bool SerialPort::open(std::int32_t portNumber) {
  forget(portNumber);
  name_ = "COM" + std::to_string(portNumber);
  if (!openDevice()) {
    close();
    return false;
  }
  return true;
}

bool SerialPort::openDevice() {
  // A guard takes the claim over once the program that held it has died.
  if (claim_ == nullptr) {
    claim_ = claimPort(portNumber_);
    if (claim_ == nullptr) {
      error_ = "cannot open " + name_ + ": in use by another run of ptmove";
      return false;
    }
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  {
    const WideName name = widen(portDevice(portNumber_).path);
    if (!name) {
      error_ = "cannot open " + name_ + ": " + systemMessage(ERROR_OUTOFMEMORY);
      return false;
    }
    // Share mode 0: nobody else may have the port while we do.
    handle = CreateFileW(name.get(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    error_ = "cannot open " + name_ + ": " + systemMessage(error) + openHint(error);
    return false;
  }
  // A file that the name leads to by mistake would be overwritten.
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    CloseHandle(handle);
    error_ = "cannot open " + name_ + ": it is a file on a disk, not a serial port";
    return false;
  }
  handle_ = handle;
  answersStatus_ = answersStatus(handle_);
  return true;
}

void SerialPort::adopt(NativeHandle handle, std::int32_t portNumber, std::int32_t baudRate) {
  forget(portNumber);
  handle_ = handle;
  answersStatus_ = answersStatus(handle_);
  name_ = "COM" + std::to_string(portNumber);
  baudRate_ = baudRate;
  timeoutsApplied_ = lineSettingsApplied_ = true;
  bitsPerSecond_ = currentSpeed(handle_);
}

bool SerialPort::applyTimeouts() {
  timeoutsApplied_ = true;
  COMMTIMEOUTS timeouts;
  timeouts.ReadIntervalTimeout = 1;
  timeouts.ReadTotalTimeoutMultiplier = 100;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(handle_, &timeouts)) {
    error_ = "cannot set the timeouts of " + name_ + ": " + systemMessage(GetLastError());
    return false;
  }
  return true;
}

bool SerialPort::applyLineSettings(std::int32_t baudRate) {
  lineSettingsApplied_ = true;
  baudRate_ = baudRate;
  if (baudRate > 0) {
    DCB dcb = lineSettings(static_cast<DWORD>(baudRate));
    if (SetCommState(handle_, &dcb)) {
      bitsPerSecond_ = baudRate;
      return true;
    }
    error_ = "the driver of " + name_ + " refused " + std::to_string(baudRate) +
             " bit/s, 8N1: " + systemMessage(GetLastError());
    bitsPerSecond_ = currentSpeed(handle_);
    return false;
  }
  // No such speed. Set up the rest of the line at the speed it has, so the
  // frames still leave as binary 8N1, and report the failure.
  bitsPerSecond_ = currentSpeed(handle_);
  if (bitsPerSecond_ > 0) {
    DCB dcb = lineSettings(static_cast<DWORD>(bitsPerSecond_));
    SetCommState(handle_, &dcb);
  }
  error_ = std::to_string(baudRate) + " bit/s is not a line speed; " + name_ +
           " keeps the speed it has" + speedInParentheses(bitsPerSecond_);
  return false;
}

std::size_t SerialPort::write(const std::uint8_t* data, std::size_t size, Deadline deadline,
                              Cancellation cancellation, OnError onError) {
  const Clock::duration limit = deadline.left();
  const IoDeadline cut(deadline, cancellation.event, lastWords_);
  std::size_t written = 0;
  DWORD error = ERROR_SUCCESS;
  while (written < size && handle_ != nullptr) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - written, 0x7FFFFFFF));
    DWORD count = 0;
    const BOOL ok = WriteFile(handle_, data + written, chunk, &count, nullptr);
    written += count;
    if (ok && count > 0) {
      continue;
    }
    error = ok ? ERROR_WRITE_FAULT : GetLastError();
    if (cut.cut()) {
      break;
    }
    if (isVanishedError(error)) {
      letGo();
      break;
    }
    // A refused write is tried again after a pause, within the bound.
    if (onError == OnError::kGiveUp || deadline.passed()) {
      break;
    }
    Sleep(10);
  }
  if (written < size) {
    std::string failure;
    if (cut.cut()) {
      failure = cut.byInterrupt() ? "cut short by " + interruptName(*cancellation.interrupt)
                                  : "the line took nothing more for " + seconds(limit);
    } else if (letGoAt_) {
      failure =
          (error == ERROR_SUCCESS ? "" : systemMessage(error) + ": ") + "the device has vanished";
    } else {
      failure = systemMessage(error);
    }
    failedWrite(written, size, failure);
  }
  return written;
}

std::size_t SerialPort::read(std::uint8_t* buffer, std::size_t capacity, Deadline deadline,
                             Cancellation cancellation) {
  // Each ReadFile returns once the line pauses for a millisecond after what
  // came, or with nothing after 100 ms at most: between them the port is
  // asked whether its device has gone, which it tells only when asked. A
  // driver that ignores the timeouts is cut short at the deadline.
  const IoDeadline cut(deadline, cancellation.event, lastWords_, IoDeadline::Call::kRead);
  while (handle_ != nullptr && capacity > 0 && !cut.cut() && !cancellation.requested()) {
    const Clock::duration left = deadline.left();
    if (left == Clock::duration::zero()) {
      break;
    }
    COMMTIMEOUTS step{};
    step.ReadIntervalTimeout = 1;
    step.ReadTotalTimeoutConstant = static_cast<DWORD>(
        std::chrono::ceil<std::chrono::milliseconds>(std::min<Clock::duration>(left, kAskEvery))
            .count());
    SetCommTimeouts(handle_, &step);
    DWORD count = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(capacity, 0x7FFFFFFF));
    const BOOL ok = ReadFile(handle_, buffer, chunk, &count, nullptr);
    if (count > 0) {
      return count;  // also from a read that was cut short
    }
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (cut.cut()) {
      break;
    }
    if (ok ? hungUp(Deadline::after({})) : isVanishedError(error)) {
      error_ = "reading " + name_ + ": " +
               (error != ERROR_SUCCESS ? systemMessage(error) + ": " : std::string()) +
               "the device has vanished";
      letGo();
      break;
    }
    if (!ok) {
      error_ = "reading " + name_ + ": " + systemMessage(error);
      break;
    }
  }
  return 0;
}

void SerialPort::writeFromSignalHandler(const std::uint8_t* /*data*/,
                                        std::size_t /*size*/) noexcept {
  // Windows has no fault handler of the program's: its guard process
  // covers faults.
}

bool SerialPort::hungUp(Deadline until) const {
  // The port tells that its device has gone only when asked; a device that
  // never answered (not a serial port) cannot tell.
  for (;;) {
    if (handle_ == nullptr) {
      return letGoAt_.has_value();
    }
    if (!answersStatus_) {
      return false;
    }
    if (!answersStatus(handle_) && isVanishedError(GetLastError())) {
      return true;
    }
    if (until.passed()) {
      return false;
    }
    Sleep(static_cast<DWORD>(std::min<Clock::duration>(until.left(), std::chrono::milliseconds(5)) /
                             std::chrono::milliseconds(1)));
  }
}

void SerialPort::closeHandle() {
  if (handle_ != nullptr) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  unsent_ = false;
}

bool SerialPort::drain(Deadline deadline) {
  const Clock::duration limit = deadline.left();
  const IoDeadline cut(deadline, nullptr, lastWords_);
  FlushFileBuffers(handle_);  // until the bytes have left the port
  if (cut.cut()) {
    failedDrain(limit);
    unsent_ = true;
    return false;
  }
  return true;
}

void SerialPort::discardInput() {
  if (handle_ != nullptr) {
    PurgeComm(handle_, PURGE_RXCLEAR);
  }
}

void SerialPort::close() {
  if (handle_ != nullptr && unsent_) {
    PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);  // it would never leave
  }
  closeHandle();
  if (claim_ != nullptr) {
    ReleaseMutex(claim_);
    CloseHandle(claim_);
    claim_ = nullptr;
  }
}

std::string SerialPort::handOver(void* process, unsigned long /*processId*/) {
  HANDLE inGuard = nullptr;
  if (handle_ == nullptr || !DuplicateHandle(GetCurrentProcess(), handle_, process, &inGuard, 0,
                                             FALSE, DUPLICATE_SAME_ACCESS)) {
    error_ = "cannot share " + name_ + ": " + systemMessage(GetLastError());
    return "";
  }
  return "com|" + std::to_string(portNumber_) + "|" + std::to_string(baudRate_) + "|" +
         std::to_string(reinterpret_cast<std::uintptr_t>(inGuard));
}

}  // namespace ptmove
