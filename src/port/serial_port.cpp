// What the port does the same way on every platform.

#include "serial_port.h"

#include <cstdio>
#include <limits>

namespace ptmove {

std::chrono::milliseconds writeLimit(std::size_t bytes, std::int32_t bitsPerSecond) {
  constexpr std::int64_t kGraceMilliseconds = 2000;
  constexpr std::int64_t kSlowestSpeed = 50;
  const std::int64_t speed = bitsPerSecond > 0 ? bitsPerSecond : kSlowestSpeed;
  const std::int64_t bits = static_cast<std::int64_t>(bytes) * 10;
  return std::chrono::milliseconds(kGraceMilliseconds + (bits * 1000 + speed - 1) / speed);
}

std::string speedInParentheses(std::int32_t bitsPerSecond) {
  return bitsPerSecond > 0 ? " (" + std::to_string(bitsPerSecond) + " bit/s)" : "";
}

SerialPort::~SerialPort() {
  close();
}

void SerialPort::forget(std::int32_t portNumber) {
  close();
  error_.clear();
  portNumber_ = portNumber;
  baudRate_ = 0;
  timeoutsApplied_ = false;
  lineSettingsApplied_ = false;
  letGoAt_.reset();
}

void SerialPort::settleAfterReopening() {
  letGoAt_.reset();
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

void SerialPort::failedWrite(std::size_t written, std::size_t size, const std::string& why) {
  error_ = std::to_string(written) + " of " + std::to_string(size) + " bytes written to " + name_ +
           ": " + why;
}

void SerialPort::failedDrain(Clock::duration limit) {
  error_ = name_ + " did not send its output within " + seconds(limit);
}

void SerialPort::letGo() {
  // No flush, drain or settings: there is no device left to take them.
  closeHandle();
  if (!letGoAt_) {
    letGoAt_ = Clock::now();
  }
  if (follower_) {
    follower_();
  }
}

bool SerialPort::reopen() {
  closeHandle();
  if (!openDevice()) {
    return false;
  }
  settleAfterReopening();
  return true;
}

}  // namespace ptmove
