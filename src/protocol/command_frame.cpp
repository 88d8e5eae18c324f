#include "command_frame.h"

#include <cstdio>

#include "ascii.h"

namespace ptmove {

namespace {

// Pan, tilt, both (the diagonals), and the lens: zoom, focus and iris,
// which move no axis and so carry no speed.
constexpr Direction kDirections[] = {
    {"r", 0x00, 0x02, true, true, false, "destra"},
    {"l", 0x00, 0x04, true, true, false, "sinistra"},
    {"u", 0x00, 0x08, true, false, true, "su"},
    {"d", 0x00, 0x10, true, false, true, "giu"},
    {"a", 0x09, 0x00, false, false, false, "auto"},
    {"ur", 0x00, 0x0A, true, true, true, "su e destra"},
    {"ul", 0x00, 0x0C, true, true, true, "su e sinistra"},
    {"dr", 0x00, 0x12, true, true, true, "giu e destra"},
    {"dl", 0x00, 0x14, true, true, true, "giu e sinistra"},
    {"zi", 0x00, 0x20, true, false, false, "zoom avanti"},
    {"zo", 0x00, 0x40, true, false, false, "zoom indietro"},
    {"fn", 0x01, 0x00, true, false, false, "fuoco vicino"},
    {"ff", 0x00, 0x80, true, false, false, "fuoco lontano"},
    {"io", 0x02, 0x00, true, false, false, "apertura iride"},
    {"ic", 0x04, 0x00, true, false, false, "chiusura iride"},
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
  // Each axis that moves carries the speed (both, on a diagonal). Without
  // a direction neither does, whatever an earlier -dir left in the flags.
  if (in.directionGiven) {
    frame[4] = in.panMove ? speed : 0;
    frame[5] = in.tiltMove ? speed : 0;
  }
  frame[6] = frameChecksum(frame);
  return frame;
}

CommandFrame commandFrame(std::uint8_t address, std::uint8_t command1, std::uint8_t command2,
                          std::uint8_t data1, std::uint8_t data2) {
  CommandFrame frame = {0xFF, address, command1, command2, data1, data2, 0};
  frame[6] = frameChecksum(frame);
  return frame;
}

CommandFrame stopFrameFor(std::uint8_t address) {
  return commandFrame(address, 0x00, 0x00, 0x00, 0x00);
}

CommandFrame presetFrame(std::uint8_t address, PresetCommand command, std::uint8_t preset) {
  return commandFrame(address, 0x00, static_cast<std::uint8_t>(command), 0x00, preset);
}

std::uint16_t hundredths(float degrees) {
  constexpr long kTurn = 36000;
  if (!(degrees >= 0.0f && degrees < 360.0f)) {
    return 0;  // outside a turn, or NaN: the parser lets none through
  }
  // Rounded half up by truncating: the program links no maths library.
  const auto rounded = static_cast<long>(static_cast<double>(degrees) * 100.0 + 0.5);
  return static_cast<std::uint16_t>(rounded % kTurn);
}

CommandFrame angleFrame(std::uint8_t address, std::uint8_t command2, std::uint16_t hundredths) {
  return commandFrame(address, 0x00, command2, static_cast<std::uint8_t>(hundredths >> 8),
                      static_cast<std::uint8_t>(hundredths & 0xFF));
}

std::uint16_t angleIn(const CommandFrame& frame) {
  return static_cast<std::uint16_t>(frame[4] << 8 | frame[5]);
}

std::string degreesText(std::uint16_t hundredths) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%02u", static_cast<unsigned>(hundredths / 100),
                static_cast<unsigned>(hundredths % 100));
  return text;
}

CommandFrame positionFrame(std::uint8_t address, Axis axis, float degrees) {
  return angleFrame(address, axis == Axis::kPan ? 0x4B : 0x4D, hundredths(degrees));
}

CommandFrame positionQueryFrame(std::uint8_t address, Axis axis) {
  return commandFrame(address, 0x00, axis == Axis::kPan ? 0x51 : 0x53, 0x00, 0x00);
}

std::uint8_t positionReplyCommand(Axis axis) {
  return axis == Axis::kPan ? 0x59 : 0x5B;
}

std::string hexByte(std::uint8_t byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) {
      text += ' ';
    }
    text += hexByte(bytes[i]);
  }
  return text;
}

}  // namespace ptmove
