// The divisor arithmetic, the same on every system.

#include "uart_clock.h"

#include <algorithm>
#include <cmath>

namespace ptmove {

UartRate divisorRate(std::uint32_t baseRate, std::uint32_t asked, std::uint32_t customDivisor) {
  UartRate rate;
  rate.baseRate = baseRate;
  if (customDivisor != 0) {
    rate.divisor = customDivisor;
  } else if (asked != 0) {
    const std::uint64_t nearest = (static_cast<std::uint64_t>(baseRate) + asked / 2) / asked;
    rate.divisor = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(nearest, 1, 65535));
  } else {
    return rate;
  }
  rate.bitsPerSecond = static_cast<double>(baseRate) / rate.divisor;
  return rate;
}

double percentOff(double made, std::uint32_t asked) {
  return asked == 0 ? 100.0 : std::fabs(made - asked) * 100.0 / asked;
}

}  // namespace ptmove
