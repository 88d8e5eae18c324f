#include "protocol/command_frame.h"

#include "util/ascii.h"

namespace ptmove {

namespace {

constexpr Direction kDirections[] = {
    {"r", 0x00, 0x02, true, true, false, "destra", "pan right"},
    {"l", 0x00, 0x04, true, true, false, "sinistra", "pan left"},
    {"u", 0x00, 0x08, true, false, true, "su", "tilt up"},
    {"d", 0x00, 0x10, true, false, true, "giu", "tilt down"},
    {"a", 0x09, 0x00, false, false, false, "auto", "auto"},
};

}  // namespace

const Direction* findDirection(std::string_view word) {
  for (const Direction& direction : kDirections) {
    if (equalsIgnoreCase(word, direction.word)) {
      return &direction;
    }
  }
  return nullptr;
}

const Direction* findDirection(std::uint8_t command1, std::uint8_t command2) {
  for (const Direction& direction : kDirections) {
    if (direction.command1 == command1 && direction.command2 == command2) {
      return &direction;
    }
  }
  return nullptr;
}

std::uint8_t scaleSpeed(std::int32_t speedPercent) {
  // |speedPercent| * 0.63 always fits in 32 bits, so the conversion is defined.
  const auto scaled = static_cast<std::int64_t>(speedPercent * 63.0 / 100.0);
  return static_cast<std::uint8_t>(scaled & 0xFF);
}

std::uint8_t frameChecksum(const CommandFrame& frame) {
  unsigned sum = 0;
  for (std::size_t i = 1; i <= 5; ++i) {
    sum += frame[i];
  }
  return static_cast<std::uint8_t>(sum & 0xFF);
}

CommandFrame buildMoveFrame(const FrameInputs& in) {
  CommandFrame frame = {0xFF, 0, 0, 0, 0, 0, 0};
  frame[1] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(in.address) & 0xFF);
  frame[2] = in.command1;
  frame[3] = in.command2;
  const std::uint8_t speed = scaleSpeed(in.speedPercent);
  if (in.directionGiven) {
    if (in.panMove) {
      frame[4] = speed;
      frame[5] = 0;
    }
    if (in.tiltMove) {
      frame[4] = 0;
      frame[5] = speed;
    }
  }
  frame[6] = frameChecksum(frame);
  return frame;
}

}  // namespace ptmove
