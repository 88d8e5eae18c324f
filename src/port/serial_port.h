// The serial port: COM<n> opened for one run, exclusive use, line settings
// for a pan-tilt receiver, reads, writes and a drain bounded in time, and a
// device that vanished (a USB adapter unplugged) let go and opened again by
// the same name. What both platforms share is in serial_port.cpp; what
// each does with its devices in serial_port_posix.cpp and
// serial_port_win32.cpp.
#ifndef PTMOVE_SERIAL_SERIAL_PORT_H_
#define PTMOVE_SERIAL_SERIAL_PORT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "port.h"

namespace ptmove {

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

/// For messages: " (9600 bit/s)", or "" when the speed is not known (0).
std::string speedInParentheses(std::int32_t bitsPerSecond);

class SerialPort final : public Port {
 public:
  SerialPort() = default;
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  bool open(std::int32_t portNumber) override;
  bool applyTimeouts() override;
  bool applyLineSettings(std::int32_t baudRate) override;
  std::size_t write(const std::uint8_t* data, std::size_t size, Deadline deadline,
                    Cancellation cancellation, OnError onError) override;
  std::size_t read(std::uint8_t* buffer, std::size_t capacity, Deadline deadline,
                   Cancellation cancellation) override;
  bool drain(Deadline deadline) override;
  void discardInput() override;
  std::chrono::milliseconds limitFor(std::size_t bytes) const override {
    return writeLimit(bytes, bitsPerSecond_);
  }
  void writeFromSignalHandler(const std::uint8_t* data, std::size_t size) noexcept override;
  bool hungUp(Deadline until) const override;
  void letGo() override;
  std::optional<Clock::time_point> letGoAt() const override { return letGoAt_; }
  bool reopen() override;
  void close() override;
  void setFollower(std::function<void()> onLetGo) override { follower_ = std::move(onLetGo); }
  void whenStuck(std::function<void(bool writing)> lastWords) override {
    lastWords_ = std::move(lastWords);
  }
#ifdef _WIN32
  std::string handOver(void* process, unsigned long processId) override;
#else
  WatchEnd watch(Deadline until, Cancellation cancellation, NativeHandle other) const override;
  void keepOnlyThisAnd(NativeHandle kept1, NativeHandle kept2) const override;
#endif
  std::int32_t portNumber() const override {
    return portNumber_;
  }
  std::int32_t baudRate() const override {
    return baudRate_;
  }
  const std::string& name() const override {
    return name_;
  }
  const std::string& error() const override {
    return error_;
  }

#ifdef _WIN32
  /// Takes over COM<portNumber>, already open and set to `baudRate`: the
  /// handle a stop guard is handed by the program.
  void adopt(NativeHandle handle, std::int32_t portNumber, std::int32_t baudRate);
#endif

 private:
  // Shared by both platforms (serial_port.cpp).
  void forget(std::int32_t portNumber);  // what was asked of the port before
  void settleAfterReopening();           // the settings asked before, again
  // "3 of 7 bytes written to COM3 (...): why".
  void failedWrite(std::size_t written, std::size_t size, const std::string& why);
  void failedDrain(Clock::duration limit);

  // Per platform.
  bool openDevice();  // the device of portNumber_, for this process alone
  void closeHandle();

  std::int32_t portNumber_ = 0;
  std::string name_;                // "COM3 (/dev/ttyS2, ...)", for messages
  std::int32_t baudRate_ = 0;       // as asked of applyLineSettings, or 0
  std::int32_t bitsPerSecond_ = 0;  // as set by applyLineSettings, or 0
  bool timeoutsApplied_ = false;
  bool lineSettingsApplied_ = false;
  std::optional<Clock::time_point> letGoAt_;
  std::function<void()> follower_;
  std::function<void(bool writing)> lastWords_;  // Windows: a call that cannot be cut short
  std::string error_;
#ifdef _WIN32
  void* handle_ = nullptr;
  void* claim_ = nullptr;       // named mutex that marks the port as taken
  bool unsent_ = false;         // the last drain ran out of time
  bool answersStatus_ = false;  // the device tells its status (so, a hang-up)
#else
  int fd_ = -1;
#endif
};

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_SERIAL_PORT_H_
