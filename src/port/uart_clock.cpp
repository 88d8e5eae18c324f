// The divisor arithmetic, the same on every system, and where Linux tells
// a UART's clock.

#include "uart_clock.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

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

#ifdef __linux__
// Linux tells a UART's clock through TIOCGSERIAL: its base rate, and a
// custom divisor that replaces 38400 bit/s when one is set (setserial's
// spd_cust).

namespace {

// The kernel's serial driver, which drives the 16x50 family, owns the ttyS
// devices, major 4.
constexpr unsigned kSerialDriverMajor = 4;  // ttyS0 is 4:64
constexpr unsigned kFirstSerialMinor = 64;

}  // namespace

bool uartRateFor(int fd, std::uint32_t asked, UartRate& rate) {
  struct stat device {};
  if (fstat(fd, &device) != 0 || !S_ISCHR(device.st_mode) ||
      major(device.st_rdev) != kSerialDriverMajor || minor(device.st_rdev) < kFirstSerialMinor) {
    return false;
  }
  serial_struct serial{};
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || serial.type == PORT_UNKNOWN ||
      serial.baud_base <= 0) {
    return false;
  }
  // 38400 bit/s stands in for another rate under the old speed flags,
  // and for base / custom divisor under spd_cust.
  std::uint32_t target = asked;
  std::uint32_t customDivisor = 0;
  if (asked == 38400) {
    switch (serial.flags & ASYNC_SPD_MASK) {
      case ASYNC_SPD_HI:
        target = 57600;
        break;
      case ASYNC_SPD_VHI:
        target = 115200;
        break;
      case ASYNC_SPD_SHI:
        target = 230400;
        break;
      case ASYNC_SPD_WARP:
        target = 460800;
        break;
      case ASYNC_SPD_CUST:
        customDivisor =
            serial.custom_divisor > 0 ? static_cast<std::uint32_t>(serial.custom_divisor) : 0;
        break;
      default:
        break;
    }
  }
  rate = divisorRate(static_cast<std::uint32_t>(serial.baud_base), target, customDivisor);
  return true;
}

#else
// Elsewhere the driver's own word on the rate is all there is.
bool uartRateFor(int /*fd*/, std::uint32_t /*asked*/, UartRate& /*rate*/) {
  return false;
}
#endif

}  // namespace ptmove
