#include "stop_guard.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>

#include "program_runner.h"
#include "pty_pair.h"
#include "scoped_variable.h"
#include "serial_port.h"

namespace ptmove {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The stop frame of a receiver that moved, as the guard is handed it.
Bytes stopBytes() {
  return {0xFF, 0x05, 0x00, 0x00, 0x00, 0x00, 0x05};
}

// What reaches the wire within `seconds`, once `expected` bytes came.
Bytes readWire(PtyPair& pty, std::size_t expected, double seconds) {
  Bytes wire;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (wire.size() < expected && std::chrono::steady_clock::now() < end) {
    pollfd watch = {pty.master(), POLLIN, 0};
    poll(&watch, 1, 10);
    const Bytes more = pty.readAvailable();
    wire.insert(wire.end(), more.begin(), more.end());
  }
  return wire;
}

bool diedAbnormally(int status) {
  // By the signal itself; a sanitizer that reports a fault exits instead.
  return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

TEST(StopGuardPosixTest, StopsTheHeadWhenTheProgramDies) {
  const struct {
    const char* what;
    int signal;
    int stopsSent;  // by a fault handler, then by the guard process
  } cases[] = {{"SIGKILL", SIGKILL, 1}, {"a fault", SIGSEGV, 2}, {"abort", SIGABRT, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyPair pty;
    const auto bound = testsupport::bindPort(8, pty.slavePath());
    EXPECT_EXIT(
        {
          SerialPort port;
          port.open(8);
          StopGuard guard(port, stopBytes());
          raise(c.signal);
        },
        diedAbnormally, "");
    Bytes expected;
    for (int i = 0; i < c.stopsSent; ++i) {
      const Bytes stops = stopBytes();
      expected.insert(expected.end(), stops.begin(), stops.end());
    }
    EXPECT_EQ(readWire(pty, expected.size(), 3.0), expected);
    testsupport::awaitSoleHolder(pty.slavePath(), 8.0);
  }
}

TEST(StopGuardPosixTest, DismissedGuardLeavesThePortAlone) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(8, pty.slavePath());
  SerialPort port;
  ASSERT_TRUE(port.open(8));
  {
    StopGuard guard(port, stopBytes());
    EXPECT_TRUE(guard.watching()) << guard.error();
    guard.dismiss();
    EXPECT_FALSE(guard.watching());
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "the guard is gone, reaped";
  }
  EXPECT_EQ(readWire(pty, 1, 0.3), Bytes());
}

// A port whose write fails with EIO while the device is still there (a
// terminal hung up by another program: a fresh open works) is let go in
// the program and in its guard, exclusive mode and lock included, so that
// it opens again at once for the stop.
TEST(StopGuardPosixTest, LetsGoOfThePortWithTheProgram) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(8, pty.slavePath());
  SerialPort port;
  ASSERT_TRUE(port.open(8));
  StopGuard guard(port, stopBytes());
  ASSERT_TRUE(guard.watching()) << guard.error();
  if (!pty.hangUp()) {
    GTEST_SKIP() << (errno == ENOSYS ? "TIOCVHANGUP answers ENOSYS here (qemu-user)"
                                     : "hanging up a terminal needs CAP_SYS_ADMIN");
  }
  const Bytes stops = stopBytes();
  const auto write = [&port, &stops] {
    return port.write(stops.data(), stops.size(), Deadline::after(port.limitFor(stops.size())), {},
                      Port::OnError::kGiveUp);
  };
  EXPECT_EQ(write(), 0u);
  EXPECT_TRUE(port.isLetGo());
  ASSERT_TRUE(port.reopen()) << port.error();
  EXPECT_EQ(write(), stops.size()) << port.error();
  guard.dismiss();
  EXPECT_EQ(readWire(pty, stops.size(), 3.0), stops);
}

}  // namespace
}  // namespace ptmove
