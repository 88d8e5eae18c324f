#include "receivers.h"

#include <gtest/gtest.h>

#include "pelco.h"

namespace ptmove {
namespace {

constexpr CommandFrame kRight = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
constexpr CommandFrame kLeft = {0xFF, 0x01, 0x00, 0x04, 0x3F, 0x00, 0x44};
constexpr CommandFrame kAutoAt5 = {0xFF, 0x05, 0x09, 0x00, 0x00, 0x00, 0x0E};

// A Pelco D frame to receiver 1.
CommandFrame command(std::uint8_t command2, std::uint8_t data1, std::uint8_t data2) {
  CommandFrame frame = {0xFF, 0x01, 0x00, command2, data1, data2, 0x00};
  frame[6] = frameChecksum(frame);
  return frame;
}

// The summary's line on where a receiver ended up.
std::string endedAt(int receiver, const std::string& pan, const std::string& tilt,
                    const std::string& lens = "zoom 0 %, focus 50 %, iris 50 %") {
  return "receiver " + std::to_string(receiver) + ": ended at pan " + pan + ", tilt " + tilt +
         " degrees, " + lens;
}

TEST(ReceiversTest, MovesEachHeadAndSummarisesIt) {
  const struct {
    const char* what;
    std::vector<std::pair<CommandFrame, double>> frames;
    double end;
    std::vector<std::string> summary;
    bool leftMoving;
    std::vector<CommandFrame> replies;
  } cases[] = {
      {"move and stop",
       {{kRight, 0.0}, {STOP_FRAME, 2.0}},
       2.0,
       {"receiver 1: pan right, speed 63 for 2.000 s", endedAt(1, "126.00", "0.00")},
       false,
       {}},
      {"one movement follows another, past 0",
       {{kRight, 0.0}, {kLeft, 0.5}, {STOP_FRAME, 1.25}},
       3.0,
       {"receiver 1: pan right, speed 63 for 0.500 s", "receiver 1: pan left, speed 63 for 0.750 s",
        endedAt(1, "344.25", "0.00")},
       false,
       {}},
      {"stop to another address",
       {{kAutoAt5, 0.0}, {STOP_FRAME, 0.4}},
       0.4,
       {"receiver 1: stop (it was not moving)", endedAt(1, "0.00", "0.00"),
        "WARNING: receiver 5 was left moving: camera off, focus near since 0.000 s",
        endedAt(5, "0.00", "0.00", "zoom 0 %, focus 40 %, iris 50 %")},
       true,
       {}},
      {"never stopped, up and right",
       {{command(0x0A, 0x20, 0x10), 0.0}},
       1.0,
       {"WARNING: receiver 1 was left moving: tilt up, speed 16, pan right, speed 32 since "
        "0.000 s",
        endedAt(1, "32.00", "16.00")},
       true,
       {}},
      {"positions the shorter way, a preset stored, a query on the way",
       {{command(0x4B, 0x88, 0xB8), 0.0},
        {command(0x4D, 0x23, 0x28), 0.0},
        {command(0x03, 0x00, 0x03), 1.0},
        {command(0x4B, 0x46, 0x50), 1.0},
        {command(0x51, 0x00, 0x00), 1.1},
        {command(0x53, 0x00, 0x00), 1.1}},
       1.1,
       {endedAt(1, "320.00", "90.00") + " (still on its way to a position)",
        "receiver 1: preset 3 at pan 350.00, tilt 90.00 degrees"},
       false,
       {command(0x59, 0x7D, 0x00), command(0x5B, 0x23, 0x28)}},
      {"a journey ends a movement; an unknown preset does nothing",
       {{command(0x20, 0x00, 0x00), 0.0},
        {command(0x07, 0x00, 0x09), 1.0},
        {command(0x4B, 0x03, 0xE8), 2.0}},
       3.0,
       {"receiver 1: zoom tele for 2.000 s",
        endedAt(1, "10.00", "0.00", "zoom 50 %, focus 50 %, iris 50 %")},
       false,
       {}},
      {"nothing", {}, 0.0, {}, false, {}},
  };
  const Protocol& pelcoD = *findProtocol("d");
  for (const auto& c : cases) {
    Receivers receivers;
    std::vector<CommandFrame> replies;
    for (const auto& [frame, seconds] : c.frames) {
      const Received received = pelcoD.read(frame);
      if (const auto reply = receivers.receive(received, seconds)) {
        replies.push_back(pelcoD.frame(received.address, *reply));
      }
    }
    EXPECT_EQ(receivers.summary(c.end), c.summary) << c.what;
    EXPECT_EQ(receivers.anyLeftMoving(), c.leftMoving) << c.what;
    EXPECT_EQ(replies, c.replies) << c.what;
  }
}

// A head spoken to in Pelco P moves alike, answers in Pelco P, and the
// summary says so.
TEST(ReceiversTest, TakesPelcoPToo) {
  const Protocol& pelcoP = *findProtocol("p");
  Receivers receivers;
  receivers.receive(pelcoP.read({0xA0, 0x02, 0x00, 0x02, 0x3F, 0x00, 0xAF, 0x30}), 0.0, pelcoP);
  receivers.receive(pelcoP.read({0xA0, 0x02, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0D}), 1.0, pelcoP);
  const auto answer =
      receivers.receive(pelcoP.read({0xA0, 0x02, 0x00, 0x51, 0x00, 0x00, 0xAF, 0x5C}), 1.0, pelcoP);
  ASSERT_TRUE(answer);
  EXPECT_EQ(pelcoP.frame(0x02, *answer),
            CommandFrame({0xA0, 0x02, 0x00, 0x59, 0x18, 0x9C, 0xAF, 0xD0}));  // 63.00
  EXPECT_EQ(receivers.summary(1.0),
            std::vector<std::string>({"receiver 2 (Pelco P): pan right, speed 63 for 1.000 s",
                                      "receiver 2 (Pelco P): ended at pan 63.00, tilt 0.00 "
                                      "degrees, zoom 0 %, focus 50 %, iris 50 %"}));
}

}  // namespace
}  // namespace ptmove
