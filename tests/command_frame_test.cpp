#include "command_frame.h"

#include <gtest/gtest.h>

namespace ptmove {
namespace {

FrameInputs withDirection(const char* word, FrameInputs in = {}) {
  const Direction* direction = findDirection(word);
  EXPECT_NE(direction, nullptr) << word;
  in.directionGiven = true;
  direction->applyTo(in.command1, in.command2, in.panMove, in.tiltMove);
  return in;
}

FrameInputs speed(std::int32_t percent) {
  FrameInputs in;
  in.speedPercent = percent;
  return in;
}

FrameInputs address(std::int32_t value) {
  FrameInputs in;
  in.address = value;
  return in;
}

TEST(CommandFrameTest, BuildsMovementFrames) {
  FrameInputs rightThenUnknown = withDirection("r");
  rightThenUnknown.directionGiven = false;  // a later unknown -dir word
  const struct {
    const char* what;
    FrameInputs in;
    CommandFrame expected;
  } cases[] = {
      {"right", withDirection("r"), {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42}},
      {"left at 50", withDirection("l", speed(50)), {0xFF, 0x01, 0x00, 0x04, 0x1F, 0x00, 0x24}},
      {"up at 50", withDirection("u", speed(50)), {0xFF, 0x01, 0x00, 0x08, 0x00, 0x1F, 0x28}},
      {"down to 0A", withDirection("D", address(0x0A)), {0xFF, 0x0A, 0x00, 0x10, 0x00, 0x3F, 0x59}},
      {"auto to 05", withDirection("a", address(0x05)), {0xFF, 0x05, 0x09, 0x00, 0x00, 0x00, 0x0E}},
      {"right then auto keeps pan",
       withDirection("A", withDirection("r")),
       {0xFF, 0x01, 0x09, 0x00, 0x3F, 0x00, 0x49}},
      {"no direction", FrameInputs{}, STOP_FRAME},
      {"speed 0", withDirection("r", speed(0)), {0xFF, 0x01, 0x00, 0x02, 0x00, 0x00, 0x03}},
      {"address cut to low byte",
       withDirection("r", address(0x1FF)),
       {0xFF, 0xFF, 0x00, 0x02, 0x3F, 0x00, 0x40}},
      {"checksum wraps",
       withDirection("r", address(0xFF)),
       {0xFF, 0xFF, 0x00, 0x02, 0x3F, 0x00, 0x40}},
      {"negative address",
       withDirection("r", address(-13)),
       {0xFF, 0xF3, 0x00, 0x02, 0x3F, 0x00, 0x34}},
      {"unknown word after right", rightThenUnknown, {0xFF, 0x01, 0x00, 0x02, 0x00, 0x00, 0x03}},
      {"up and right", withDirection("ur"), {0xFF, 0x01, 0x00, 0x0A, 0x3F, 0x3F, 0x89}},
      {"up and left", withDirection("UL"), {0xFF, 0x01, 0x00, 0x0C, 0x3F, 0x3F, 0x8B}},
      {"down and right at 50",
       withDirection("dr", speed(50)),
       {0xFF, 0x01, 0x00, 0x12, 0x1F, 0x1F, 0x51}},
      {"down and left", withDirection("dl"), {0xFF, 0x01, 0x00, 0x14, 0x3F, 0x3F, 0x93}},
      {"zoom in", withDirection("zi"), {0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21}},
      {"zoom out", withDirection("zo"), {0xFF, 0x01, 0x00, 0x40, 0x00, 0x00, 0x41}},
      {"focus near", withDirection("fn"), {0xFF, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02}},
      {"focus far", withDirection("ff"), {0xFF, 0x01, 0x00, 0x80, 0x00, 0x00, 0x81}},
      {"iris open", withDirection("io"), {0xFF, 0x01, 0x02, 0x00, 0x00, 0x00, 0x03}},
      {"iris close to 0A",
       withDirection("ic", address(0x0A)),
       {0xFF, 0x0A, 0x04, 0x00, 0x00, 0x00, 0x0E}},
      {"right then zoom moves no axis",
       withDirection("zi", withDirection("r")),
       {0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21}},
      {"diagonal then auto keeps both axes",
       withDirection("a", withDirection("ur")),
       {0xFF, 0x01, 0x09, 0x00, 0x3F, 0x3F, 0x88}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(buildMoveFrame(c.in), c.expected) << c.what;
  }
}

// Receivers share a line: a stop for one must leave the others moving.
TEST(CommandFrameTest, StopsOnlyTheReceiverThatMoved) {
  EXPECT_EQ(stopFrameFor(0x01), STOP_FRAME);
  EXPECT_EQ(stopFrameFor(0x05), CommandFrame({0xFF, 0x05, 0x00, 0x00, 0x00, 0x00, 0x05}));
  EXPECT_EQ(stopFrameFor(0xFF), CommandFrame({0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF}));
  EXPECT_EQ(stopFrameFor(0x00), CommandFrame({0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(CommandFrameTest, ScalesSpeedTruncatingTowardZero) {
  const struct {
    std::int32_t percent;
    std::uint8_t expected;
  } cases[] = {
      {100, 63},
      {99, 62},
      {50, 31},
      {2, 1},
      {1, 0},
      {0, 0},
      // Out of the accepted range the low 8 bits of the truncated value.
      {-100, 0xC1},
      {1000, 0x76},
      {2147483647, 0x09},
      {-2147483647 - 1, 0xF6},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scaleSpeed(c.percent), c.expected) << c.percent;
  }
}

// The frames beyond the movement, each with its checksum: presets,
// absolute positions in hundredths of a degree (rounded, within a turn),
// and the position queries.
TEST(CommandFrameTest, BuildsPresetPositionAndQueryFrames) {
  const struct {
    const char* what;
    CommandFrame frame;
    CommandFrame expected;
  } cases[] = {
      {"go to preset 3",
       presetFrame(0x01, PresetCommand::kGoTo, 3),
       {0xFF, 0x01, 0x00, 0x07, 0x00, 0x03, 0x0B}},
      {"store preset 255 on 0A",
       presetFrame(0x0A, PresetCommand::kStore, 255),
       {0xFF, 0x0A, 0x00, 0x03, 0x00, 0xFF, 0x0C}},
      {"clear preset 1",
       presetFrame(0x01, PresetCommand::kClear, 1),
       {0xFF, 0x01, 0x00, 0x05, 0x00, 0x01, 0x07}},
      {"pan to 123.45",
       positionFrame(0x01, Axis::kPan, 123.45f),
       {0xFF, 0x01, 0x00, 0x4B, 0x30, 0x39, 0xB5}},
      {"tilt to 10",
       positionFrame(0x01, Axis::kTilt, 10.0f),
       {0xFF, 0x01, 0x00, 0x4D, 0x03, 0xE8, 0x39}},
      {"pan to 359.996 is 0",
       positionFrame(0x01, Axis::kPan, 359.996f),
       {0xFF, 0x01, 0x00, 0x4B, 0x00, 0x00, 0x4C}},
      {"pan to 0.004 is 0",
       positionFrame(0x01, Axis::kPan, 0.004f),
       {0xFF, 0x01, 0x00, 0x4B, 0x00, 0x00, 0x4C}},
      {"pan to 0.006 is 1",
       positionFrame(0x01, Axis::kPan, 0.006f),
       {0xFF, 0x01, 0x00, 0x4B, 0x00, 0x01, 0x4D}},
      {"where is pan",
       positionQueryFrame(0x01, Axis::kPan),
       {0xFF, 0x01, 0x00, 0x51, 0x00, 0x00, 0x52}},
      {"where is tilt on 05",
       positionQueryFrame(0x05, Axis::kTilt),
       {0xFF, 0x05, 0x00, 0x53, 0x00, 0x00, 0x58}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.frame, c.expected) << c.what;
  }
  EXPECT_EQ(positionReplyCommand(Axis::kPan), 0x59);
  EXPECT_EQ(positionReplyCommand(Axis::kTilt), 0x5B);
}

TEST(CommandFrameTest, FindsDirectionsByWholeWordIgnoringCase) {
  EXPECT_EQ(findDirection("R")->displayText, "destra");
  EXPECT_EQ(findDirection("l")->displayText, "sinistra");
  EXPECT_EQ(findDirection("U")->displayText, "su");
  EXPECT_EQ(findDirection("d")->displayText, "giu");
  EXPECT_EQ(findDirection("a")->displayText, "auto");
  EXPECT_EQ(findDirection("Ur")->displayText, "su e destra");
  EXPECT_EQ(findDirection("DL")->displayText, "giu e sinistra");
  EXPECT_EQ(findDirection("zO")->displayText, "zoom indietro");
  EXPECT_EQ(findDirection("IC")->displayText, "chiusura iride");
  for (const char* word : {"", "right", "rr", "x", "-d", "r ", "u r", "urr", "z", "zoom"}) {
    EXPECT_EQ(findDirection(word), nullptr) << word;
  }
}

}  // namespace
}  // namespace ptmove
