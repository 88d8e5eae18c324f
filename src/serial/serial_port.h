// A serial port opened for one movement: exclusive use, line settings for a
// pan-tilt receiver, whole writes. Implemented once per platform.
#ifndef PTMOVE_SERIAL_SERIAL_PORT_H_
#define PTMOVE_SERIAL_SERIAL_PORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ptmove {

/// The name the system knows port COM<portNumber> by, or "" when no such
/// port can exist.
std::string portDeviceName(std::int32_t portNumber);

/// Owns an open port; the destructor closes it.
class SerialPort {
 public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  /// Opens COM<portNumber> for reading and writing, for this process alone.
  /// False when the port does not exist, cannot be accessed or is in use.
  bool open(std::int32_t portNumber);

  /// Read timeouts: 1 ms between bytes, 100 ms per byte plus 1000 ms in
  /// all. Writes never time out. False when they cannot be applied.
  bool applyTimeouts();

  /// Raw 8 data bits, no parity, one stop bit at `baudRate`, no flow control,
  /// DTR and RTS raised. False when the line cannot be set up as asked.
  bool applyLineSettings(std::int32_t baudRate);

  /// Writes all of `data`, retrying partial writes. Returns the count of
  /// bytes written, less than `size` only when writing failed.
  std::size_t write(const std::uint8_t* data, std::size_t size);

  /// Waits until everything written has left the port, a few seconds at
  /// most, then closes it. Output that cannot leave (a stuck or vanished
  /// line) is discarded, so closing never hangs.
  void close();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
  void* claim_ = nullptr;  // named mutex that marks the port as taken
#else
  int fd_ = -1;
  bool exclusive_ = false;  // this process set the terminal's exclusive mode
#endif
};

/// The wait between the movement frame and the stop frame. While one
/// exists, an interrupt (Ctrl+C, Ctrl+Break, closing the console; SIGINT,
/// SIGTERM or SIGHUP) no longer ends the program but the wait, so that the
/// stop frame still goes out. Interrupts that were ignored stay ignored.
class InterruptibleWait {
 public:
  InterruptibleWait();
  ~InterruptibleWait();
  InterruptibleWait(const InterruptibleWait&) = delete;
  InterruptibleWait& operator=(const InterruptibleWait&) = delete;

  /// Blocks for `milliseconds`, however long, or until an interrupt.
  /// Returns false when interrupted.
  bool wait(std::uint64_t milliseconds);

  bool interrupted() const;

  /// After an interrupt, ends the process as that interrupt would have
  /// (a shell sees 130 for SIGINT, 143 for SIGTERM). Returns otherwise.
  void endProcessIfInterrupted();

 private:
  struct Saved;  // what the platform had in place before the wait
  std::unique_ptr<Saved> saved_;
};

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_SERIAL_PORT_H_
