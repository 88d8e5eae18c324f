// Linux sets any rate through termios2 and BOTHER. The kernel's termios
// header cannot be included next to the C library's, hence this file.

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "line_speed.h"

namespace ptmove {

bool setCustomSpeed(int fd, std::uint32_t baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) {
    return false;
  }
  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  if (ioctl(fd, TCSETS2, &t) != 0) {
    return false;
  }
  struct termios2 now {};
  return ioctl(fd, TCGETS2, &now) == 0 && now.c_ospeed == baud && now.c_ispeed == baud;
}

bool readCustomSpeed(int fd, std::uint32_t& baud) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) {
    return false;
  }
  baud = t.c_ospeed;
  return true;
}

}  // namespace ptmove
