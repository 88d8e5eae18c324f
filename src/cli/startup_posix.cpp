#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "interrupts.h"
#include "startup.h"

namespace ptmove {

void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor: this one.
      if (open("/dev/null", O_RDWR) < 0) {
        break;
      }
    }
  }
  sigset_t mask;
  sigemptyset(&mask);
  for (int signal : terminatingSignals()) {
    sigaddset(&mask, signal);
  }
  sigprocmask(SIG_UNBLOCK, &mask, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigemptyset(&mask);
  sigaddset(&mask, SIGTTOU);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
}

}  // namespace ptmove
