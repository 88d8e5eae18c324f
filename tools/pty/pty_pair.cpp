#include "pty_pair.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace ptmove {

PtyPair::PtyPair() {
  // The POSIX calls, so that no libutil (openpty) is needed.
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  const char* name = nullptr;
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      (name = ptsname(master_)) == nullptr) {
    error_ = std::string("cannot make a pseudo-terminal: ") + std::strerror(errno);
    closeMaster();
    return;
  }
  slavePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY);
  if (slave_ < 0) {
    error_ = "cannot open " + slavePath_ + ": " + std::strerror(errno);
    closeMaster();
    return;
  }
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  closeMaster();
  if (slave_ >= 0) {
    close(slave_);
  }
}

std::vector<std::uint8_t> PtyPair::readAvailable() {
  std::vector<std::uint8_t> bytes;
  std::uint8_t buffer[4096];
  while (master_ >= 0) {
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n > 0) {
      bytes.insert(bytes.end(), buffer, buffer + n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return bytes;
}

termios PtyPair::slaveSettings() const {
  termios settings{};
  tcgetattr(slave_, &settings);
  return settings;
}

void PtyPair::suspendOutput() {
  tcflow(slave_, TCOOFF);
}

bool PtyPair::hangUp() {
  return ioctl(slave_, TIOCVHANGUP) == 0;
}

void PtyPair::closeMaster() {
  if (master_ >= 0) {
    close(master_);
    master_ = -1;
  }
}

}  // namespace ptmove
