// What the port does the same way on every platform.

#include "serial_port.h"

#include <cstdio>

namespace ptmove {

std::chrono::milliseconds writeLimit(std::size_t bytes, std::int32_t bitsPerSecond) {
  constexpr std::int64_t kGraceMilliseconds = 2000;
  constexpr std::int64_t kSlowestSpeed = 50;
  const std::int64_t speed = bitsPerSecond > 0 ? bitsPerSecond : kSlowestSpeed;
  const std::int64_t bits = static_cast<std::int64_t>(bytes) * 10;
  return std::chrono::milliseconds(kGraceMilliseconds + (bits * 1000 + speed - 1) / speed);
}

std::string seconds(std::chrono::milliseconds duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(duration.count()) / 1000.0);
  return text;
}

std::string speedInParentheses(std::int32_t bitsPerSecond) {
  return bitsPerSecond > 0 ? " (" + std::to_string(bitsPerSecond) + " bit/s)" : "";
}

void SerialPort::settleAfterReopening() {
  vanished_ = false;
  bytesWritten_ = 0;
  // What failed on the first opening fails again: tried, not reported.
  const std::int32_t baudRate = baudRate_;
  if (timeoutsApplied_) {
    applyTimeouts();
  }
  if (lineSettingsApplied_) {
    applyLineSettings(baudRate);
  }
  error_.clear();
}

}  // namespace ptmove
