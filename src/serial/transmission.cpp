#include "serial/transmission.h"

#include <cmath>
#include <limits>

#include "serial/serial_port.h"

namespace ptmove {

namespace {

void writeFrame(SerialPort& port, const CommandFrame& frame, std::ostream& out) {
  if (port.write(frame.data(), frame.size()) != frame.size()) {
    out << "WriteFile failed" << std::endl;
  }
}

}  // namespace

std::uint64_t waitMilliseconds(float durationSeconds) {
  const double milliseconds = static_cast<double>(durationSeconds) * 1000.0;
  if (!(milliseconds > 0.0)) {
    return 0;  // negative, zero or NaN
  }
  constexpr double kLimit = 18446744073709551616.0;  // 2^64
  if (milliseconds >= kLimit) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(milliseconds);
}

void sendMove(std::ostream& out, const MoveRequest& request) {
  out << std::endl;
  SerialPort port;
  if (!port.open(request.portNumber)) {
    out << "Failed to open port" << std::endl;
    return;
  }
  if (!port.applyTimeouts()) {
    out << "SetCommTimeouts failed" << std::endl;
  }
  if (!port.applyLineSettings(request.baudRate)) {
    out << "SetCommState failed" << std::endl;
  }
  // From the movement frame on, an interrupt cuts the wait short instead of
  // ending the program with the head still moving.
  InterruptibleWait wait;
  writeFrame(port, request.frame, out);
  wait.wait(waitMilliseconds(request.durationSeconds));
  // Always the whole stop frame, whatever became of the first write: a
  // partial or skipped stop would leave the head moving.
  writeFrame(port, STOP_FRAME, out);
  port.close();
  wait.endProcessIfInterrupted();
}

}  // namespace ptmove
