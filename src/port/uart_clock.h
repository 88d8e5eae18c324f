// The rate a UART really makes for a rate asked of it, where the driver
// tells the UART's clock. A 16x50's divisor latch divides its base rate
// (the clock / 16) by a whole number, so a rate that does not divide it
// comes out only near what was asked, while the driver reports the asked
// rate back as set.
#ifndef PTMOVE_SERIAL_UART_CLOCK_H_
#define PTMOVE_SERIAL_UART_CLOCK_H_

#include <cstdint>

namespace ptmove {

struct UartRate {
  std::uint32_t baseRate = 0;  // the UART's clock / 16
  std::uint32_t divisor = 0;
  double bitsPerSecond = 0.0;  // baseRate / divisor
};

/// The rate a divisor latch with `baseRate` makes for `asked` bit/s: the
/// driver takes the whole divisor nearest baseRate / asked (1 to 65535),
/// or `customDivisor` when one is set in its place.
UartRate divisorRate(std::uint32_t baseRate, std::uint32_t asked, std::uint32_t customDivisor = 0);

/// How far `made` is from `asked`, in percent of `asked`.
double percentOff(double made, std::uint32_t asked);

/// More than this far off, a receiver misreads the bytes: such a rate is
/// refused.
constexpr double kMostPercentOff = 3.0;

/// For a 16x50 UART of the kernel's own serial driver (Linux's ttyS
/// devices), the rate `asked` would make on the terminal `fd`. False for
/// other devices and systems: USB adapters and the like set rates their own
/// way and report back what they set.
bool uartRateFor(int fd, std::uint32_t asked, UartRate& rate);

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_UART_CLOCK_H_
