#include "receivers.h"

#include <gtest/gtest.h>

namespace ptmove {
namespace {

constexpr CommandFrame kRight = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
constexpr CommandFrame kLeft = {0xFF, 0x01, 0x00, 0x04, 0x3F, 0x00, 0x44};
constexpr CommandFrame kAutoAt5 = {0xFF, 0x05, 0x09, 0x00, 0x00, 0x00, 0x0E};

TEST(ReceiversTest, SummarisesMovementsPerReceiver) {
  const struct {
    const char* what;
    std::vector<std::pair<CommandFrame, double>> frames;
    std::vector<std::string> summary;
    bool leftMoving;
  } cases[] = {
      {"move and stop",
       {{kRight, 0.0}, {STOP_FRAME, 2.0}},
       {"receiver 1: pan right, speed 63 for 2.000 s"},
       false},
      {"one movement follows another",
       {{kRight, 0.0}, {kLeft, 0.5}, {STOP_FRAME, 1.25}},
       {"receiver 1: pan right, speed 63 for 0.500 s",
        "receiver 1: pan left, speed 63 for 0.750 s"},
       false},
      {"stop to another address",
       {{kAutoAt5, 0.0}, {STOP_FRAME, 0.5}},
       {"receiver 1: stop (it was not moving)",
        "WARNING: receiver 5 was left moving: camera off, focus near since 0.000 s"},
       true},
      {"never stopped",
       {{kRight, 0.0}},
       {"WARNING: receiver 1 was left moving: pan right, speed 63 since 0.000 s"},
       true},
      {"nothing", {}, {}, false},
  };
  for (const auto& c : cases) {
    Receivers receivers;
    for (const auto& [frame, seconds] : c.frames) {
      receivers.receive(frame, seconds);
    }
    EXPECT_EQ(receivers.summary(), c.summary) << c.what;
    EXPECT_EQ(receivers.anyLeftMoving(), c.leftMoving) << c.what;
  }
}

}  // namespace
}  // namespace ptmove
