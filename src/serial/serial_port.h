// A serial port opened for one movement: exclusive use, line settings for a
// pan-tilt receiver, writes and a drain that never take longer than the
// line needs, and a device that vanished (a USB adapter unplugged) let go
// and opened again by the same name. Implemented once per platform
// (serial_port_posix.cpp, serial_port_win32.cpp).
#ifndef PTMOVE_SERIAL_SERIAL_PORT_H_
#define PTMOVE_SERIAL_SERIAL_PORT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "interrupts.h"

namespace ptmove {

#ifdef _WIN32
using NativePortHandle = void*;  // a HANDLE
#else
using NativePortHandle = int;  // a file descriptor
#endif

/// Where port COM<portNumber> is on this system, and why there.
struct PortDevice {
  std::string path;    // "" when no such port can exist
  std::string origin;  // POSIX: "PTMOVE_COM3", or "the default for COM3"
};

PortDevice portDevice(std::int32_t portNumber);

/// The longest a write of `bytes` may take at `bitsPerSecond` (0 when
/// unknown: the slowest standard speed is assumed): two seconds for a line
/// that pauses, plus the bytes' time on the wire at 10 bits a byte.
std::chrono::milliseconds writeLimit(std::size_t bytes, std::int32_t bitsPerSecond);

/// For messages: "2.1 s".
std::string seconds(std::chrono::milliseconds duration);

/// For messages: " (9600 bit/s)", or "" when the speed is not known (0).
std::string speedInParentheses(std::int32_t bitsPerSecond);

/// Owns an open port; the destructor closes it.
class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  /// Opens COM<portNumber> for reading and writing, for this process alone.
  /// False when the port does not exist, cannot be accessed or is in use; a
  /// port in use is let go at once, its owner's line untouched.
  bool open(std::int32_t portNumber);

  /// Takes over COM<portNumber>, already open and set to `baudRate` (the
  /// Windows stop guard's inherited handle).
  void adopt(NativePortHandle handle, std::int32_t portNumber, std::int32_t baudRate);

  /// Read timeouts: 1 ms between bytes, 100 ms per byte plus 1000 ms in
  /// all. Writes have no timeout of the device's own. False when they
  /// cannot be applied.
  bool applyTimeouts();

  /// Raw 8 data bits, no parity, one stop bit at `baudRate`, no flow control,
  /// DTR and RTS raised. False when the line cannot be set up as asked.
  bool applyLineSettings(std::int32_t baudRate);

  /// How write() meets a failed write.
  enum class OnError { kGiveUp, kRetry };

  /// For write() and drain(): the bound that writeLimit gives the bytes.
  static constexpr std::chrono::milliseconds kUsualLimit{-1};

  /// Writes all of `data` within `limit`, writeLimit(size) unless given.
  /// When `interrupts` is given, an interrupt also ends a write that is
  /// waiting for the line. With OnError::kRetry a write the system refuses
  /// is tried again until that bound, unless the device has vanished. A
  /// device that has vanished is let go at once (vanished() then tells).
  /// Returns the count of bytes written: less than `size` only on failure.
  std::size_t write(const std::uint8_t* data, std::size_t size,
                    const Interrupts* interrupts = nullptr, OnError onError = OnError::kGiveUp,
                    std::chrono::milliseconds limit = kUsualLimit);

  /// writeLimit for `bytes` at the line's speed as set.
  std::chrono::milliseconds limitFor(std::size_t bytes) const {
    return writeLimit(bytes, bitsPerSecond_);
  }

  /// Whether the device has gone (unplugged, hung up) as far as the system
  /// tells now, without waiting.
  bool hasVanished() const;

  /// Lets go of a device that has vanished, at once and without touching
  /// the line, so that the system can give a returning device its name.
  void letGo();

  /// The device was let go after it vanished, and is not open again.
  bool vanished() const { return vanished_; }

  /// Opens the same device again by its name, with the timeouts and the
  /// line settings asked for before. False while it is not back; error()
  /// then says why.
  bool reopen();

  /// Waits until everything written has left the port, within `limit`,
  /// the write limit of all bytes written unless given. False when output
  /// was still waiting then.
  bool drain(std::chrono::milliseconds limit = kUsualLimit);

  /// Closes the port. Output that has not left by now (a stuck or vanished
  /// line) is discarded, so closing never hangs.
  void close();

  NativePortHandle nativeHandle() const;

  std::int32_t portNumber() const { return portNumber_; }

  /// The speed asked of applyLineSettings, or 0.
  std::int32_t baudRate() const { return baudRate_; }

  /// The port in messages: "COM3 (/dev/ttyUSB0, from PTMOVE_COM3)".
  const std::string& name() const { return name_; }

  /// Why the last call that failed did: a sentence for the user, naming the
  /// port and, where it helps, what to do.
  const std::string& error() const { return error_; }

 private:
  // `limit`, or writeLimit for `bytes` when it is kUsualLimit.
  std::chrono::milliseconds boundOf(std::chrono::milliseconds limit, std::size_t bytes) const {
    return limit < std::chrono::milliseconds::zero() ? limitFor(bytes) : limit;
  }
  bool openDevice();            // the device of portNumber_, for this process alone
  void settleAfterReopening();  // the settings asked before, again

  std::int32_t portNumber_ = 0;
  std::string name_;                // "COM3 (/dev/ttyS2, ...)", for messages
  std::int32_t baudRate_ = 0;       // as asked of applyLineSettings, or 0
  std::int32_t bitsPerSecond_ = 0;  // as set by applyLineSettings, or 0
  std::size_t bytesWritten_ = 0;
  bool timeoutsApplied_ = false;
  bool lineSettingsApplied_ = false;
  bool vanished_ = false;
  std::string error_;
#ifdef _WIN32
  void* handle_ = nullptr;
  void* claim_ = nullptr;  // named mutex that marks the port as taken
  bool unsent_ = false;    // the last drain ran out of time
#else
  int fd_ = -1;
  bool exclusive_ = false;  // this process set the terminal's exclusive mode
#endif
};

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_SERIAL_PORT_H_
