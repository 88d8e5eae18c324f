#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "emulated_calls.h"
#include "full_device.h"
#include "line_speed.h"
#include "pty_pair.h"
#include "scoped_variable.h"
#include "serial_port.h"

namespace ptmove {
namespace {

using testsupport::bindPort;
using testsupport::ScopedVariable;

std::size_t writeTo(Port& port, const std::uint8_t* data, std::size_t size) {
  return port.write(data, size, Deadline::after(port.limitFor(size)), {}, Port::OnError::kGiveUp);
}

TEST(SerialPortPosixTest, NamesDevices) {
  const ScopedVariable bound = bindPort(12, "/dev/serial/by-id/usb-adapter");
  const ScopedVariable unset1("PTMOVE_COM1", std::nullopt);
  const ScopedVariable unset3("PTMOVE_COM3", std::nullopt);
  const struct {
    std::int32_t port;
    const char* path;
    const char* origin;
  } cases[] = {
      {1, "/dev/ttyS0", "the default for COM1"},
      {3, "/dev/ttyS2", "the default for COM3"},
      {12, "/dev/serial/by-id/usb-adapter", "PTMOVE_COM12"},
      {2147483647, "/dev/ttyS2147483646", "the default for COM2147483647"},
      {0, "", ""},
      {-1, "", ""},
      {-2147483647 - 1, "", ""},
  };
  for (const auto& c : cases) {
    const PortDevice device = portDevice(c.port);
    EXPECT_EQ(device.path, c.path) << c.port;
    EXPECT_EQ(device.origin, c.origin) << c.port;
  }
}

TEST(SerialPortPosixTest, RefusesMissingOrBusyPorts) {
  PtyPair pty;
  const ScopedVariable missing = bindPort(7, "/nonexistent/ttyX");
  const ScopedVariable present = bindPort(8, pty.slavePath());
  SerialPort port;
  EXPECT_FALSE(port.open(0));
  EXPECT_FALSE(port.open(-4));
  EXPECT_FALSE(port.open(7));
  ASSERT_TRUE(port.open(8));

  SerialPort second;
  EXPECT_FALSE(second.open(8)) << "a port is for one user at a time";
}

TEST(SerialPortPosixTest, RefusesPortLockedOrExclusiveElsewhere) {
  PtyPair pty;
  const ScopedVariable present = bindPort(8, pty.slavePath());
  {
    const int other = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    SerialPort port;
    EXPECT_FALSE(port.open(8)) << "flock held by another program";
    close(other);
  }
  {
    const int other = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
    SerialPort port;
    if (testsupport::callMissing(other, TIOCGEXCL)) {
      close(other);
      GTEST_SKIP() << "TIOCGEXCL answers ENOSYS here (qemu-user): exclusive mode cannot be told";
    }
    EXPECT_FALSE(port.open(8)) << "exclusive mode held by another program";
    ioctl(other, TIOCNXCL);
    close(other);
  }
  SerialPort port;
  EXPECT_TRUE(port.open(8)) << "free again";
}

TEST(SerialPortPosixTest, ReleasesPortOnClose) {
  PtyPair pty;
  const ScopedVariable present = bindPort(2, pty.slavePath());
  {
    SerialPort port;
    ASSERT_TRUE(port.open(2));
  }
  SerialPort again;
  EXPECT_TRUE(again.open(2));
}

TEST(SerialPortPosixTest, SetsRawEightNOneAtStandardSpeeds) {
  PtyPair pty;
  const ScopedVariable present = bindPort(3, pty.slavePath());
  const struct {
    std::int32_t baud;
    speed_t code;
  } cases[] = {{50, B50}, {2400, B2400}, {9600, B9600}, {38400, B38400}, {115200, B115200}};
  for (const auto& c : cases) {
    SerialPort port;
    ASSERT_TRUE(port.open(3));
    EXPECT_TRUE(port.applyTimeouts());
    EXPECT_TRUE(port.applyLineSettings(c.baud)) << c.baud;
    const termios t = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&t), c.code) << c.baud;
    EXPECT_EQ(cfgetispeed(&t), c.code) << c.baud;
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  }
}

TEST(SerialPortPosixTest, RefusedSpeedStillLeavesLineRaw) {
  PtyPair pty;
  const ScopedVariable present = bindPort(3, pty.slavePath());
  for (std::int32_t baud : {0, -1, -9600, -2147483647 - 1}) {
    SerialPort port;
    ASSERT_TRUE(port.open(3));
    EXPECT_FALSE(port.applyLineSettings(baud)) << baud;
    const termios t = pty.slaveSettings();
    EXPECT_NE(cfgetospeed(&t), static_cast<speed_t>(B0)) << "never hangs up the line";
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    const std::uint8_t newline[] = {0x0A, 0x0D};
    EXPECT_EQ(writeTo(port, newline, 2), 2u);
    EXPECT_EQ(pty.readAvailable(), std::vector<std::uint8_t>({0x0A, 0x0D}));
  }
}

#ifdef __linux__
TEST(SerialPortPosixTest, SetsNonStandardSpeedsOnLinux) {
  PtyPair pty;
  std::uint32_t rate = 0;
  if (!readCustomSpeed(pty.slave(), rate) && errno == ENOSYS) {
    GTEST_SKIP() << "TCGETS2 answers ENOSYS here (qemu-user): no rate outside the standard list";
  }
  const ScopedVariable present = bindPort(3, pty.slavePath());
  SerialPort port;
  ASSERT_TRUE(port.open(3));
  EXPECT_TRUE(port.applyLineSettings(250000));
  EXPECT_EQ(pty.slaveSettings().c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  std::uint32_t baud = 0;
  ASSERT_TRUE(readCustomSpeed(pty.slave(), baud));
  EXPECT_EQ(baud, 250000u) << "the rate the line holds";

  // A refused speed keeps the custom rate rather than hanging up the line.
  EXPECT_FALSE(port.applyLineSettings(0));
  termios t = pty.slaveSettings();
  EXPECT_NE(cfgetospeed(&t), static_cast<speed_t>(B0));
  EXPECT_TRUE(port.applyLineSettings(19200));
  t = pty.slaveSettings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
}
#endif

TEST(SerialPortPosixTest, DeviceThatIsNotATerminalStillTakesWrites) {
  const ScopedVariable devnull = bindPort(5, testsupport::nullDevice());
  SerialPort port;
  ASSERT_TRUE(port.open(5));
  EXPECT_FALSE(port.applyTimeouts());
  EXPECT_FALSE(port.applyLineSettings(2400));
  const std::uint8_t bytes[7] = {};
  EXPECT_EQ(writeTo(port, bytes, 7), 7u);
  port.close();
}

TEST(SerialPortPosixTest, ReportsFailedWrites) {
  const ScopedVariable full = bindPort(5, testsupport::fullDevice());
  SerialPort port;
  ASSERT_TRUE(port.open(5));
  const std::uint8_t bytes[7] = {};
  EXPECT_EQ(writeTo(port, bytes, 7), 0u);
}

}  // namespace
}  // namespace ptmove
