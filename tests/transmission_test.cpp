#include "transmission.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>
#include <thread>

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

std::string send(const MoveRequest& request, LineFailure* failure = nullptr) {
  std::ostringstream out;
  std::ostringstream diagnostics;
  const LineFailure first = sendMove(out, diagnostics, request);
  if (failure != nullptr) {
    *failure = first;
  }
  return out.str();
}

std::vector<std::uint8_t> then(std::vector<std::uint8_t> first,
                               const std::vector<std::uint8_t>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
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
  LineFailure failure = LineFailure::kLineFailed;
  EXPECT_EQ(send({4, 4800, down, 0.0f}, &failure), "\n");
  EXPECT_EQ(failure, LineFailure::kNone);
  const CommandFrame stopReceiver10 = {0xFF, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(pty.readAvailable(), bytesOf({down, stopReceiver10}));
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
    LineFailure first;
  } cases[] = {
      {5, "\nSetCommTimeouts failed\nSetCommState failed\nWriteFile failed\nWriteFile failed\n",
       LineFailure::kLineFailed},
      {6, "\nSetCommTimeouts failed\nSetCommState failed\n", LineFailure::kLineFailed},
      {7, "\nFailed to open port\n", LineFailure::kPortNotOpened},
      {0, "\nFailed to open port\n", LineFailure::kPortNotOpened},
      {-3, "\nFailed to open port\n", LineFailure::kPortNotOpened},
  };
  for (const auto& c : cases) {
    LineFailure failure = LineFailure::kNone;
    EXPECT_EQ(send({c.port, 2400, STOP_FRAME, 0.0f}, &failure), c.output) << c.port;
    EXPECT_EQ(failure, c.first) << c.port;
  }
}

// What the far end sends after a query: pieces, each after a pause.
using Stream = std::vector<std::vector<std::uint8_t>>;

std::vector<std::uint8_t> replyFrom(std::uint8_t address, std::uint8_t command,
                                    std::uint16_t value) {
  const CommandFrame frame =
      commandFrame(address, 0x00, command, static_cast<std::uint8_t>(value >> 8),
                   static_cast<std::uint8_t>(value & 0xFF));
  return {frame.begin(), frame.end()};
}

// Answers each of the two position queries with its stream, once the query
// has come whole.
void answerQueries(PtyPair& pty, const Stream (&streams)[2]) {
  std::vector<std::uint8_t> heard;
  for (const Stream& stream : streams) {
    const std::size_t want = heard.size() + kFrameSize;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (heard.size() < want && std::chrono::steady_clock::now() < giveUp) {
      const std::vector<std::uint8_t> more = pty.readAvailable();
      heard.insert(heard.end(), more.begin(), more.end());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (const std::vector<std::uint8_t>& piece : stream) {
      ASSERT_EQ(::write(pty.master(), piece.data(), piece.size()),
                static_cast<ssize_t>(piece.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

// The head's replies among what else a line carries, against what the
// program takes for its position. A reply that waited on the line before
// the query is not one.
TEST(TransmissionTest, ReadsThePositionAmongWhatTheLineCarries) {
  const auto pan = replyFrom(0x01, 0x59, 12345);  // 123.45
  const auto tilt = replyFrom(0x01, 0x5B, 1000);  // 10.00
  const std::vector<std::uint8_t> general = {0xFF, 0x01, 0x00, 0x01};
  const std::vector<std::uint8_t> echo = {0xFF, 0x01, 0x00, 0x51, 0x00, 0x00, 0x52};
  auto broken = pan;
  broken[6] ^= 0xFF;
  const std::optional<std::uint16_t> where[2] = {12345, 1000};
  const std::optional<std::uint16_t> none[2] = {};
  const struct {
    const char* what;
    std::vector<std::uint8_t> stale;  // on the line before the run
    Stream streams[2];
    std::optional<std::uint16_t> angles[2];
    std::string says;  // in the diagnostics, when not empty
  } cases[] = {
      {"plain", {}, {{pan}, {tilt}}, {where[0], where[1]}, ""},
      {"general responses and the echo first",
       {},
       {{general, echo, pan}, {general, tilt}},
       {where[0], where[1]},
       ""},
      {"in pieces",
       {},
       {{{pan.begin(), pan.begin() + 3}, {pan.begin() + 3, pan.end()}}, {tilt}},
       {where[0], where[1]},
       ""},
      {"another receiver's reply first",
       {},
       {{replyFrom(0x02, 0x59, 1), pan}, {tilt}},
       {where[0], where[1]},
       ""},
      {"a broken reply, then a good one", {}, {{broken, pan}, {tilt}}, {where[0], where[1]}, ""},
      {"only a broken reply",
       {},
       {{broken}, {tilt}},
       {none[0], none[1]},
       "no reply to the pan position query"},
      {"silence", {}, {{}, {}}, {none[0], none[1]}, "nothing came"},
      {"tilt silent", {}, {{pan}, {}}, {none[0], none[1]}, "no reply to the tilt position query"},
      {"stale replies waiting, then silence",
       then(replyFrom(0x01, 0x59, 0), replyFrom(0x01, 0x5B, 0)),
       {{}, {}},
       {none[0], none[1]},
       "nothing came"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyPair pty;
    const auto bound = testsupport::bindPort(4, pty.slavePath());
    termios raw = pty.slaveSettings();  // as a serial line: no echo, no lines
    cfmakeraw(&raw);
    tcsetattr(pty.slave(), TCSANOW, &raw);
    ASSERT_EQ(::write(pty.master(), c.stale.data(), c.stale.size()),
              static_cast<ssize_t>(c.stale.size()));
    std::thread head(answerQueries, std::ref(pty), std::cref(c.streams));
    std::ostringstream out;
    std::ostringstream diagnostics;
    CommandRequest request;
    request.portNumber = 4;
    request.baudRate = 9600;
    request.frames = {positionQueryFrame(0x01, Axis::kPan), positionQueryFrame(0x01, Axis::kTilt)};
    request.readsPosition = true;
    const CommandResult result = sendCommands(out, diagnostics, request);
    head.join();
    EXPECT_EQ(out.str(), "\n");
    const bool answered = c.angles[0] && c.angles[1];
    ASSERT_EQ(result.position.has_value(), answered);
    EXPECT_EQ(result.failure, answered ? LineFailure::kNone : LineFailure::kNoAnswer);
    if (answered) {
      EXPECT_EQ(result.position->pan, *c.angles[0]);
      EXPECT_EQ(result.position->tilt, *c.angles[1]);
    }
    if (c.says.empty()) {
      EXPECT_EQ(diagnostics.str(), "");
    } else {
      EXPECT_NE(diagnostics.str().find(c.says), std::string::npos) << diagnostics.str();
    }
  }
}

TEST(TransmissionTest, SendsCommandsWithoutAStop) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(4, pty.slavePath());
  const CommandFrame preset = presetFrame(0x0A, PresetCommand::kGoTo, 3);
  std::ostringstream out;
  std::ostringstream diagnostics;
  CommandRequest request;
  request.portNumber = 4;
  request.address = 0x0A;
  request.frames = {preset};
  EXPECT_EQ(sendCommands(out, diagnostics, request).failure, LineFailure::kNone);
  EXPECT_EQ(out.str(), "\n");
  EXPECT_EQ(pty.readAvailable(), bytesOf({preset}));
}

}  // namespace
}  // namespace ptmove
