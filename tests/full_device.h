// A device that takes no byte (ENOSPC), as /dev/full, but of the test's own:
// ptmove locks the device it writes to, and tests that run at the same time
// must not meet each other's lock on the one /dev/full.
#ifndef PTMOVE_TESTS_FULL_DEVICE_H_
#define PTMOVE_TESTS_FULL_DEVICE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace ptmove::testsupport {

/// A node of /dev/full's device (1:7) in the test's temporary folder, made
/// once per process; /dev/full itself where nodes cannot be made (not root).
inline const std::string& fullDevice() {
  static const std::string own = testing::TempDir() + "ptmove-full-" + std::to_string(getpid());
  static const std::string path = [] {
    unlink(own.c_str());
    if (mknod(own.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
      return std::string("/dev/full");
    }
    std::atexit([] { unlink(own.c_str()); });
    return own;
  }();
  return path;
}

}  // namespace ptmove::testsupport

#endif  // PTMOVE_TESTS_FULL_DEVICE_H_
