// What the port does the same way on every platform.

#include "serial/serial_port.h"

namespace ptmove {

std::chrono::milliseconds writeLimit(std::size_t bytes, std::int32_t bitsPerSecond) {
  constexpr std::int64_t kGraceMilliseconds = 2000;
  constexpr std::int64_t kSlowestSpeed = 50;
  const std::int64_t speed = bitsPerSecond > 0 ? bitsPerSecond : kSlowestSpeed;
  const std::int64_t bits = static_cast<std::int64_t>(bytes) * 10;
  return std::chrono::milliseconds(kGraceMilliseconds + (bits * 1000 + speed - 1) / speed);
}

}  // namespace ptmove
