#include "pty_pair.h"

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace ptmove::testsupport {

PtyPair::PtyPair() {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    std::abort();
  }
  slavePath_ = name;
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

void PtyPair::closeMaster() {
  if (master_ >= 0) {
    close(master_);
    master_ = -1;
  }
}

}  // namespace ptmove::testsupport
