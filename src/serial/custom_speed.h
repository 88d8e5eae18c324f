// Line speeds outside the platform's list of standard speeds, where the
// system supports setting any rate.
#ifndef PTMOVE_SERIAL_CUSTOM_SPEED_H_
#define PTMOVE_SERIAL_CUSTOM_SPEED_H_

#include <cstdint>

namespace ptmove {

/// Sets both directions of the terminal `fd` to `baud` bits per second and
/// reads the rate back. False where unsupported or refused by the driver.
bool setCustomSpeed(int fd, std::uint32_t baud);

/// The output rate of the terminal `fd` in bits per second, whatever it is.
/// False where the system cannot tell a rate outside the standard list.
bool readCustomSpeed(int fd, std::uint32_t& baud);

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_CUSTOM_SPEED_H_
