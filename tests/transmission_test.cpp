#include "transmission.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>
#include <thread>

#include "full_device.h"
#include "pelco.h"
#include "pty_pair.h"
#include "reply_finder.h"
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

// Keeps what the line reports, by kind.
class Recorder final : public LineReporter {
 public:
  void report(const LineEvent& event) override { events.push_back(event); }

  std::vector<std::string> kinds() const {
    static const char* const kNames[] = {
        "PortNotOpened",   "TimeoutsNotSet", "LineNotSet",   "SpeedNotApplied", "GuardNotStarted",
        "FrameNotSent",    "StopNotDrained", "PortVanished", "GuardDied",       "NoReply",
        "OutputDiscarded", "Interrupted",    "LineStuck"};
    std::vector<std::string> names;
    for (const LineEvent& event : events) {
      names.push_back(kNames[event.index()]);
    }
    return names;
  }

  std::vector<LineEvent> events;
};

using Kinds = std::vector<std::string>;

const Bytes kRight = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
const Bytes kStop = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};

// A movement of no time on COM<port>.
Kinds send(std::int32_t port, std::int32_t baudRate, const Bytes& frame, const Bytes& stop) {
  MoveRequest request;
  request.port.number = port;
  request.port.baudRate = baudRate;
  request.frame = frame;
  request.stop = stop;
  Recorder recorder;
  sendMove(request, recorder);
  return recorder.kinds();
}

Bytes then(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

TEST(TransmissionTest, SendsMovementThenStopFrame) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(4, pty.slavePath());
  const Bytes down = {0xFF, 0x0A, 0x00, 0x10, 0x00, 0x3F, 0x59};
  const Bytes stopReceiver10 = {0xFF, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(send(4, 4800, down, stopReceiver10), Kinds());
  EXPECT_EQ(pty.readAvailable(), then(down, stopReceiver10));
  const termios t = pty.slaveSettings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
}

TEST(TransmissionTest, BadSpeedIsReportedAndFramesStillSent) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(4, pty.slavePath());
  EXPECT_EQ(send(4, 0, kRight, kStop), Kinds({"LineNotSet"}));
  EXPECT_EQ(pty.readAvailable(), then(kRight, kStop));
}

TEST(TransmissionTest, ReportsEveryFailureAndGoesOn) {
  const auto full = testsupport::bindPort(5, testsupport::fullDevice());
  const auto null = testsupport::bindPort(6, testsupport::nullDevice());
  const auto missing = testsupport::bindPort(7, "/nonexistent/port");
  const struct {
    std::int32_t port;
    Kinds kinds;
  } cases[] = {
      {5, {"TimeoutsNotSet", "LineNotSet", "FrameNotSent", "FrameNotSent"}},
      {6, {"TimeoutsNotSet", "LineNotSet"}},
      {7, {"PortNotOpened"}},
      {0, {"PortNotOpened"}},
      {-3, {"PortNotOpened"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(send(c.port, 2400, kRight, kStop), c.kinds) << c.port;
  }
}

// What the far end sends after a query: pieces, each after a pause.
using Stream = std::vector<std::vector<std::uint8_t>>;

// A Pelco D reply: receiver `address` says an angle is at `value`.
Bytes replyFrom(std::uint8_t address, std::uint8_t command, std::uint16_t value) {
  CommandFrame frame = {0xFF,
                        address,
                        0x00,
                        command,
                        static_cast<std::uint8_t>(value >> 8),
                        static_cast<std::uint8_t>(value & 0xFF),
                        0x00};
  frame[6] = frameChecksum(frame);
  return frame.bytes();
}

// The position questions of a Pelco D head, as the command line hands them.
PositionQuestions pelcoDQuestions(std::uint8_t address) {
  const Protocol& protocol = defaultProtocol();
  const auto question = [&](Axis axis) {
    const ReplyFinder finder(protocol, address, axis);
    return Question{protocol.frame(address, HeadCommand::askAngle(axis)).bytes(),
                    [finder](const Bytes& arrived) { return finder.angleIn(arrived); }};
  };
  return {question(Axis::kPan), question(Axis::kTilt)};
}

// Answers each of the two position queries with its stream, once the query
// has come whole.
void answerQueries(PtyPair& pty, const Stream (&streams)[2]) {
  std::vector<std::uint8_t> heard;
  for (const Stream& stream : streams) {
    const std::size_t want = heard.size() + 7;
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
    std::vector<Angle> unanswered;  // the queries reported unanswered
  } cases[] = {
      {"plain", {}, {{pan}, {tilt}}, {where[0], where[1]}, {}},
      {"general responses and the echo first",
       {},
       {{general, echo, pan}, {general, tilt}},
       {where[0], where[1]},
       {}},
      {"in pieces",
       {},
       {{{pan.begin(), pan.begin() + 3}, {pan.begin() + 3, pan.end()}}, {tilt}},
       {where[0], where[1]},
       {}},
      {"another receiver's reply first",
       {},
       {{replyFrom(0x02, 0x59, 1), pan}, {tilt}},
       {where[0], where[1]},
       {}},
      {"a broken reply, then a good one", {}, {{broken, pan}, {tilt}}, {where[0], where[1]}, {}},
      {"only a broken reply", {}, {{broken}, {tilt}}, {none[0], none[1]}, {Angle::kPan}},
      {"silence", {}, {{}, {}}, {none[0], none[1]}, {Angle::kPan, Angle::kTilt}},
      {"tilt silent", {}, {{pan}, {}}, {none[0], none[1]}, {Angle::kTilt}},
      {"stale replies waiting, then silence",
       then(replyFrom(0x01, 0x59, 0), replyFrom(0x01, 0x5B, 0)),
       {{}, {}},
       {none[0], none[1]},
       {Angle::kPan, Angle::kTilt}},
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
    CommandRequest request;
    request.port.number = 4;
    request.port.baudRate = 9600;
    request.questions = pelcoDQuestions(0x01);
    request.readsPosition = true;
    Recorder recorder;
    const CommandResult result = sendCommands(request, recorder);
    head.join();
    const bool answered = c.angles[0] && c.angles[1];
    ASSERT_EQ(result.position.has_value(), answered);
    if (answered) {
      EXPECT_EQ(result.position->pan, *c.angles[0]);
      EXPECT_EQ(result.position->tilt, *c.angles[1]);
    }
    std::vector<Angle> unanswered;
    for (const LineEvent& event : recorder.events) {
      ASSERT_TRUE(std::holds_alternative<event::NoReply>(event));
      unanswered.push_back(std::get<event::NoReply>(event).angle);
    }
    EXPECT_EQ(unanswered, c.unanswered);
  }
}

TEST(TransmissionTest, SendsCommandsWithoutAStop) {
  PtyPair pty;
  const auto bound = testsupport::bindPort(4, pty.slavePath());
  const Bytes preset = {0xFF, 0x0A, 0x00, 0x07, 0x00, 0x03, 0x14};
  CommandRequest request;
  request.port.number = 4;
  request.frames = {preset};
  Recorder recorder;
  EXPECT_FALSE(sendCommands(request, recorder).position);
  EXPECT_EQ(recorder.kinds(), Kinds());
  EXPECT_EQ(pty.readAvailable(), preset);
}

}  // namespace
}  // namespace ptmove
