// Terminal calls that qemu-user does not pass on to the kernel (TIOCGEXCL
// among them: it answers ENOSYS; TCGETS2 shows in readCustomSpeed), so
// that the tests that need one skip themselves, saying so, when they run
// for another machine.
#ifndef PTMOVE_TESTS_EMULATED_CALLS_H_
#define PTMOVE_TESTS_EMULATED_CALLS_H_

#include <errno.h>
#include <sys/ioctl.h>

namespace ptmove::testsupport {

/// Whether the system answers `request` on the terminal `fd` with ENOSYS.
inline bool callMissing(int fd, unsigned long request) {
  alignas(8) char answer[256] = {};  // room for whatever the call reads back
  return ioctl(fd, request, answer) != 0 && errno == ENOSYS;
}

}  // namespace ptmove::testsupport

#endif  // PTMOVE_TESTS_EMULATED_CALLS_H_
