#include "protocol.h"

#include <gtest/gtest.h>

#include "pelco.h"

namespace ptmove {
namespace {

const Protocol& pelcoD() {
  return *findProtocol("d");
}

const Protocol& pelcoP() {
  return *findProtocol("p");
}

HeadCommand move(Motion motion, bool pan, bool tilt, std::int32_t percent = 100) {
  return HeadCommand::move(motion, percent, pan, tilt);
}

struct FrameCase {
  const char* what;
  std::uint8_t address;
  HeadCommand command;
  CommandFrame expected;
};

void expectFrames(const Protocol& protocol, const std::vector<FrameCase>& cases) {
  for (const FrameCase& c : cases) {
    const CommandFrame frame = protocol.frame(c.address, c.command);
    EXPECT_EQ(frame, c.expected) << protocol.name() << ": " << c.what;
    EXPECT_TRUE(protocol.isWhole(frame)) << protocol.name() << ": " << c.what;
  }
}

TEST(ProtocolTest, PelcoDFrames) {
  expectFrames(
      pelcoD(),
      {
          {"right",
           0x01,
           move(Motion::kRight, true, false),
           {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42}},
          {"left at 50",
           0x01,
           move(Motion::kLeft, true, false, 50),
           {0xFF, 0x01, 0x00, 0x04, 0x1F, 0x00, 0x24}},
          {"up at 50",
           0x01,
           move(Motion::kUp, false, true, 50),
           {0xFF, 0x01, 0x00, 0x08, 0x00, 0x1F, 0x28}},
          {"down to 0A",
           0x0A,
           move(Motion::kDown, false, true),
           {0xFF, 0x0A, 0x00, 0x10, 0x00, 0x3F, 0x59}},
          {"auto to 05",
           0x05,
           move(Motion::kAuto, false, false),
           {0xFF, 0x05, 0x09, 0x00, 0x00, 0x00, 0x0E}},
          {"auto keeping the pan of an earlier right",
           0x01,
           move(Motion::kAuto, true, false),
           {0xFF, 0x01, 0x09, 0x00, 0x3F, 0x00, 0x49}},
          {"no direction ever", 0x01, HeadCommand::move(std::nullopt, 100, false, false),
           STOP_FRAME},
          {"right, then an unknown word",
           0x01,
           move(Motion::kRight, false, false),
           {0xFF, 0x01, 0x00, 0x02, 0x00, 0x00, 0x03}},
          {"checksum wraps",
           0xFF,
           move(Motion::kRight, true, false),
           {0xFF, 0xFF, 0x00, 0x02, 0x3F, 0x00, 0x40}},
          {"up and right",
           0x01,
           move(Motion::kUpRight, true, true),
           {0xFF, 0x01, 0x00, 0x0A, 0x3F, 0x3F, 0x89}},
          {"down and left",
           0x01,
           move(Motion::kDownLeft, true, true),
           {0xFF, 0x01, 0x00, 0x14, 0x3F, 0x3F, 0x93}},
          {"zoom in",
           0x01,
           move(Motion::kZoomIn, false, false),
           {0xFF, 0x01, 0x00, 0x20, 0x00, 0x00, 0x21}},
          {"focus near",
           0x01,
           move(Motion::kFocusNear, false, false),
           {0xFF, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02}},
          {"focus far",
           0x01,
           move(Motion::kFocusFar, false, false),
           {0xFF, 0x01, 0x00, 0x80, 0x00, 0x00, 0x81}},
          {"iris close to 0A",
           0x0A,
           move(Motion::kIrisClose, false, false),
           {0xFF, 0x0A, 0x04, 0x00, 0x00, 0x00, 0x0E}},
          // The stop addresses the receiver that moved, and no other.
          {"stop", 0x01, HeadCommand::stop(), STOP_FRAME},
          {"stop 05", 0x05, HeadCommand::stop(), {0xFF, 0x05, 0x00, 0x00, 0x00, 0x00, 0x05}},
          {"go to preset 3",
           0x01,
           HeadCommand::presetCommand(PresetAction::kGoTo, 3),
           {0xFF, 0x01, 0x00, 0x07, 0x00, 0x03, 0x0B}},
          {"store preset 255 on 0A",
           0x0A,
           HeadCommand::presetCommand(PresetAction::kStore, 255),
           {0xFF, 0x0A, 0x00, 0x03, 0x00, 0xFF, 0x0C}},
          {"pan to 123.45",
           0x01,
           HeadCommand::goToAngle(Axis::kPan, 12345),
           {0xFF, 0x01, 0x00, 0x4B, 0x30, 0x39, 0xB5}},
          {"where is tilt on 05",
           0x05,
           HeadCommand::askAngle(Axis::kTilt),
           {0xFF, 0x05, 0x00, 0x53, 0x00, 0x00, 0x58}},
          {"pan is at 123.45",
           0x01,
           HeadCommand::angleIs(Axis::kPan, 12345),
           {0xFF, 0x01, 0x00, 0x59, 0x30, 0x39, 0xC3}},
      });
}

// Pelco P: A0, address, data 1 to 4, AF, and the XOR of all seven before;
// the lens and the scan have bits of their own.
TEST(ProtocolTest, PelcoPFrames) {
  expectFrames(
      pelcoP(),
      {
          {"left at speed 20 to 00",
           0x00,
           move(Motion::kLeft, true, false, 51),
           {0xA0, 0x00, 0x00, 0x04, 0x20, 0x00, 0xAF, 0x2B}},
          {"right",
           0x01,
           move(Motion::kRight, true, false),
           {0xA0, 0x01, 0x00, 0x02, 0x3F, 0x00, 0xAF, 0x33}},
          {"up at 50",
           0x01,
           move(Motion::kUp, false, true, 50),
           {0xA0, 0x01, 0x00, 0x08, 0x00, 0x1F, 0xAF, 0x19}},
          {"down",
           0x01,
           move(Motion::kDown, false, true),
           {0xA0, 0x01, 0x00, 0x10, 0x00, 0x3F, 0xAF, 0x21}},
          {"up and left",
           0x01,
           move(Motion::kUpLeft, true, true),
           {0xA0, 0x01, 0x00, 0x0C, 0x3F, 0x3F, 0xAF, 0x02}},
          {"down and right",
           0x02,
           move(Motion::kDownRight, true, true),
           {0xA0, 0x02, 0x00, 0x12, 0x3F, 0x3F, 0xAF, 0x1F}},
          {"zoom out",
           0x01,
           move(Motion::kZoomOut, false, false),
           {0xA0, 0x01, 0x00, 0x40, 0x00, 0x00, 0xAF, 0x4E}},
          {"focus far",
           0x01,
           move(Motion::kFocusFar, false, false),
           {0xA0, 0x01, 0x01, 0x00, 0x00, 0x00, 0xAF, 0x0F}},
          {"focus near",
           0x01,
           move(Motion::kFocusNear, false, false),
           {0xA0, 0x01, 0x02, 0x00, 0x00, 0x00, 0xAF, 0x0C}},
          {"iris open",
           0x01,
           move(Motion::kIrisOpen, false, false),
           {0xA0, 0x01, 0x04, 0x00, 0x00, 0x00, 0xAF, 0x0A}},
          {"iris close",
           0x01,
           move(Motion::kIrisClose, false, false),
           {0xA0, 0x01, 0x08, 0x00, 0x00, 0x00, 0xAF, 0x06}},
          {"auto scan",
           0x01,
           move(Motion::kAuto, false, false),
           {0xA0, 0x01, 0x20, 0x00, 0x00, 0x00, 0xAF, 0x2E}},
          {"stop 05", 0x05, HeadCommand::stop(), {0xA0, 0x05, 0x00, 0x00, 0x00, 0x00, 0xAF, 0x0A}},
          {"clear preset 1",
           0x01,
           HeadCommand::presetCommand(PresetAction::kClear, 1),
           {0xA0, 0x01, 0x00, 0x05, 0x00, 0x01, 0xAF, 0x0A}},
          {"tilt to 10",
           0x01,
           HeadCommand::goToAngle(Axis::kTilt, 1000),
           {0xA0, 0x01, 0x00, 0x4D, 0x03, 0xE8, 0xAF, 0xA8}},
          {"where is pan",
           0x01,
           HeadCommand::askAngle(Axis::kPan),
           {0xA0, 0x01, 0x00, 0x51, 0x00, 0x00, 0xAF, 0x5F}},
          {"tilt is at 10",
           0x01,
           HeadCommand::angleIs(Axis::kTilt, 1000),
           {0xA0, 0x01, 0x00, 0x5B, 0x03, 0xE8, 0xAF, 0xBE}},
      });
  // Neither sum nor end byte may be off.
  EXPECT_FALSE(pelcoP().isWhole({0xA0, 0x01, 0x00, 0x02, 0x3F, 0x00, 0xAF, 0x32}));
  EXPECT_FALSE(pelcoP().isWhole({0xA0, 0x01, 0x00, 0x02, 0x3F, 0x00, 0xAE, 0x32}));
}

TEST(ProtocolTest, ScalesSpeedTruncatingTowardZero) {
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

// An angle in hundredths of a degree, rounded, within a turn.
TEST(ProtocolTest, AnglesInHundredths) {
  EXPECT_EQ(hundredths(123.45f), 12345);
  EXPECT_EQ(hundredths(359.996f), 0);
  EXPECT_EQ(hundredths(0.004f), 0);
  EXPECT_EQ(hundredths(0.006f), 1);
  EXPECT_EQ(degreesText(12345), "123.45");
  EXPECT_EQ(degreesText(5), "0.05");
}

TEST(ProtocolTest, FoundByTheirWord) {
  EXPECT_EQ(&defaultProtocol(), &pelcoD());
  EXPECT_EQ(findProtocol("D"), &pelcoD());
  EXPECT_STREQ(findProtocol("P")->name(), "Pelco P");
  for (const char* word : {"", "x", "pd", "pelco", "dp"}) {
    EXPECT_EQ(findProtocol(word), nullptr) << word;
  }
  EXPECT_EQ(allProtocols().size(), 2u);
}

}  // namespace
}  // namespace ptmove
