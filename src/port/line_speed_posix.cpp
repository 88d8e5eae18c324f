#include "line_speed.h"

#include <termios.h>

namespace ptmove {

namespace {

// The standard speeds this platform defines (0 is left out: it hangs up).
constexpr SpeedName kSpeeds[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

}  // namespace

const SpeedName* findSpeed(std::int32_t baud) {
  for (const SpeedName& speed : kSpeeds) {
    if (speed.baud == baud) {
      return &speed;
    }
  }
  return nullptr;
}

#ifndef __linux__
// Elsewhere only the standard speeds can be set (line_speed_linux.cpp sets
// any rate on Linux).
bool setCustomSpeed(int /*fd*/, std::uint32_t /*baud*/) {
  return false;
}

bool readCustomSpeed(int /*fd*/, std::uint32_t& /*baud*/) {
  return false;
}
#endif

std::int32_t currentSpeed(int fd) {
  std::uint32_t custom = 0;
  if (readCustomSpeed(fd, custom)) {
    return static_cast<std::int32_t>(custom);
  }
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    for (const SpeedName& speed : kSpeeds) {
      if (speed.code == cfgetospeed(&t)) {
        return speed.baud;
      }
    }
  }
  return 0;
}

}  // namespace ptmove
