// The line speeds of POSIX terminals: the standard ones by rate and by
// code, and the rate a terminal runs at now.
#ifndef PTMOVE_SERIAL_LINE_SPEED_H_
#define PTMOVE_SERIAL_LINE_SPEED_H_

#include <termios.h>

#include <cstdint>

namespace ptmove {

struct SpeedName {
  std::int32_t baud;
  speed_t code;
};

/// The standard speed of `baud` bits per second, or nullptr.
const SpeedName* findSpeed(std::int32_t baud);

/// The output rate of the terminal `fd` in bits per second: the exact rate
/// where the system tells it (Linux's termios2), otherwise the standard
/// speed of its code; 0 when neither tells.
std::int32_t currentSpeed(int fd);

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_LINE_SPEED_H_
