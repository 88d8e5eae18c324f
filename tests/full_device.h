// Devices that take every byte (as /dev/null) or none (ENOSPC, as
// /dev/full), but of the test's own: ptmove locks the device it writes to,
// and tests that run at the same time must not meet each other's lock on
// the one /dev/null or /dev/full.
#ifndef PTMOVE_TESTS_FULL_DEVICE_H_
#define PTMOVE_TESTS_FULL_DEVICE_H_

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace ptmove::testsupport {

/// A node of the memory device `minor` (3: null, 7: full) in the test's
/// temporary folder, made once per process and removed at its exit;
/// `system` itself where nodes cannot be made (not root).
inline std::string ownMemoryDevice(const char* name, unsigned minor, const char* system) {
  const std::string own = testing::TempDir() + "ptmove-" + name + "-" + std::to_string(getpid());
  unlink(own.c_str());
  if (mknod(own.c_str(), S_IFCHR | 0666, makedev(1, minor)) != 0) {
    return system;
  }
  return own;
}

// The test's own node is removed at exit; the system's never.
inline const std::string& fullDevice() {
  static const std::string path = ownMemoryDevice("full", 7, "/dev/full");
  static const bool removed = path != "/dev/full" && std::atexit([] { unlink(path.c_str()); }) == 0;
  (void)removed;
  return path;
}

inline const std::string& nullDevice() {
  static const std::string path = ownMemoryDevice("null", 3, "/dev/null");
  static const bool removed = path != "/dev/null" && std::atexit([] { unlink(path.c_str()); }) == 0;
  (void)removed;
  return path;
}

}  // namespace ptmove::testsupport

#endif  // PTMOVE_TESTS_FULL_DEVICE_H_
