#include "transmission.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

#include "full_device.h"
#include "pty_pair.h"
#include "scoped_variable.h"
#include "wait.h"

namespace ptmove {
namespace {

constexpr std::uint64_t kForever = std::numeric_limits<std::uint64_t>::max();

TEST(TransmissionTest, WaitIsSecondsTimesThousandTruncated) {
  const struct {
    float seconds;
    std::uint64_t milliseconds;
  } cases[] = {
      {2.0f, 2000},
      {0.25f, 250},
      {2.5f, 2500},
      {0.7f, 699},  // 0.7f is 0.699999988
      {0.0005f, 0},
      {0.0f, 0},
      {-0.0f, 0},
      {-1.0f, 0},
      {-std::numeric_limits<float>::infinity(), 0},
      {std::nanf(""), 0},
      {-std::nanf(""), 0},
      {5e6f, 5000000000ull},  // beyond 32 bits: waited in full
      {1e16f, 10000000272564224000ull},
      {1e17f, kForever},
      {std::numeric_limits<float>::max(), kForever},
      {std::numeric_limits<float>::infinity(), kForever},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(waitMilliseconds(c.seconds), c.milliseconds) << c.seconds;
  }
}

TEST(TransmissionTest, WaitsAtLeastTheTime) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waitUntil(Deadline::afterMilliseconds(120), {}), WaitEnd::kElapsed);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(120));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

std::string send(const MoveRequest& request) {
  std::ostringstream out;
  std::ostringstream diagnostics;
  sendMove(out, diagnostics, request);
  return out.str();
}

std::vector<std::uint8_t> bytesOf(std::initializer_list<CommandFrame> frames) {
  std::vector<std::uint8_t> bytes;
  for (const CommandFrame& frame : frames) {
    bytes.insert(bytes.end(), frame.begin(), frame.end());
  }
  return bytes;
}

TEST(TransmissionTest, SendsMovementThenStopFrame) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(4, pty.slavePath());
  const CommandFrame down = {0xFF, 0x0A, 0x00, 0x10, 0x00, 0x3F, 0x59};
  EXPECT_EQ(send({4, 4800, down, 0.0f}), "\n");
  const CommandFrame stopReceiver10 = {0xFF, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(pty.readAvailable(), bytesOf({down, stopReceiver10, STOP_FRAME}));
  const termios t = pty.slaveSettings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
}

TEST(TransmissionTest, BadSpeedIsReportedAndFramesStillSent) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(4, pty.slavePath());
  const CommandFrame right = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
  EXPECT_EQ(send({4, 0, right, 0.0f}), "\nSetCommState failed\n");
  EXPECT_EQ(pty.readAvailable(), bytesOf({right, STOP_FRAME}));
}

TEST(TransmissionTest, ReportsEveryFailureAndGoesOn) {
  const auto full = testsupport::bindPort(5, testsupport::fullDevice());
  const auto null = testsupport::bindPort(6, "/dev/null");
  const auto missing = testsupport::bindPort(7, "/nonexistent/port");
  const struct {
    std::int32_t port;
    const char* output;
  } cases[] = {
      {5, "\nSetCommTimeouts failed\nSetCommState failed\nWriteFile failed\nWriteFile failed\n"},
      {6, "\nSetCommTimeouts failed\nSetCommState failed\n"},
      {7, "\nFailed to open port\n"},
      {0, "\nFailed to open port\n"},
      {-3, "\nFailed to open port\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(send({c.port, 2400, STOP_FRAME, 0.0f}), c.output) << c.port;
  }
}

}  // namespace
}  // namespace ptmove
