// The line speeds of POSIX terminals: the standard ones by rate and by
// code, rates outside that list where the system can set any rate (Linux's
// termios2), and the rate a terminal runs at now. The header leaves out
// <termios.h>, so that the file that sets any rate can include the
// kernel's own terminal header, which clashes with the C library's.
#ifndef PTMOVE_SERIAL_LINE_SPEED_H_
#define PTMOVE_SERIAL_LINE_SPEED_H_

#include <cstdint>

namespace ptmove {

struct SpeedName {
  std::int32_t baud;
  unsigned long code;  // the speed_t of <termios.h>: B9600 for 9600
};

/// The standard speed of `baud` bits per second, or nullptr.
const SpeedName* findSpeed(std::int32_t baud);

/// The output rate of the terminal `fd` in bits per second: the exact rate
/// where the system tells it (Linux's termios2), otherwise the standard
/// speed of its code; 0 when neither tells.
std::int32_t currentSpeed(int fd);

/// Sets both directions of the terminal `fd` to `baud` bits per second and
/// reads the rate back. False where unsupported or refused by the driver.
bool setCustomSpeed(int fd, std::uint32_t baud);

/// The output rate of the terminal `fd` in bits per second, whatever it is.
/// False where the system cannot tell a rate outside the standard list.
bool readCustomSpeed(int fd, std::uint32_t& baud);

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_LINE_SPEED_H_
