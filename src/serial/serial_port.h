// A serial port opened for one movement: exclusive use, line settings for a
// pan-tilt receiver, whole writes. Implemented once per platform.
#ifndef PTMOVE_SERIAL_SERIAL_PORT_H_
#define PTMOVE_SERIAL_SERIAL_PORT_H_

#include <cstddef>
#include <cstdint>
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

  /// Waits until everything written has left the port.
  void drain();

 private:
  void close();

#ifdef _WIN32
  void* handle_ = nullptr;
  void* claim_ = nullptr;  // named mutex that marks the port as taken
#else
  int fd_ = -1;
  bool exclusive_ = false;  // this process set the terminal's exclusive mode
#endif
};

/// Blocks the calling thread for `milliseconds`, however long.
void sleepMilliseconds(std::uint64_t milliseconds);

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_SERIAL_PORT_H_
