// Pelco D command frames: the 7-byte unit that the pan-tilt receiver reads
// from the serial line, the direction table, speed scaling and checksum.
#ifndef PTMOVE_PROTOCOL_COMMAND_FRAME_H_
#define PTMOVE_PROTOCOL_COMMAND_FRAME_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ptmove {

constexpr std::size_t kFrameSize = 7;

/// One Pelco D frame: sync, address, command 1, command 2, data 1 (pan
/// speed), data 2 (tilt speed), checksum.
using CommandFrame = std::array<std::uint8_t, kFrameSize>;

/// Stops every movement of receiver 0x01.
constexpr CommandFrame STOP_FRAME = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};

/// The frame that ends a movement of receiver `address`, and no other
/// receiver's: FF a 00 00 00 00 a (the checksum of an all-zero command is
/// the address). Several heads often share one RS-485 line, and a stop
/// for another address would halt a head on its way somewhere. For
/// receiver 0x01 it is STOP_FRAME.
CommandFrame stopFrameFor(std::uint8_t address);

/// One row of the direction table: what a -dir word sets.
struct Direction {
  std::string_view word;  // lowercase; matched without regard to case
  std::uint8_t command1;
  std::uint8_t command2;
  bool setsAxes;  // false for "a", which keeps the pan/tilt flags
  bool panMove;
  bool tiltMove;
  std::string_view displayText;  // Italian, for the settings display

  /// Writes this row's command bytes, and its axes unless it keeps them.
  void applyTo(std::uint8_t& toCommand1, std::uint8_t& toCommand2, bool& toPanMove,
               bool& toTiltMove) const {
    toCommand1 = command1;
    toCommand2 = command2;
    if (setsAxes) {
      toPanMove = panMove;
      toTiltMove = tiltMove;
    }
  }
};

/// The direction row for `word` (ASCII case ignored, whole word), or nullptr.
const Direction* findDirection(std::string_view word);

/// What buildMoveFrame needs from the settings of a run.
struct FrameInputs {
  std::int32_t address = 0x01;
  std::uint8_t command1 = 0x00;
  std::uint8_t command2 = 0x00;
  std::int32_t speedPercent = 100;
  bool directionGiven = false;
  bool panMove = false;
  bool tiltMove = false;
};

/// Protocol speed for a percentage: percent x 63 / 100, truncated toward zero.
/// Only the low 8 bits reach the frame; 0..100 gives 0..63.
std::uint8_t scaleSpeed(std::int32_t speedPercent);

/// Sum of bytes 1 to 5, modulo 256.
std::uint8_t frameChecksum(const CommandFrame& frame);

/// The movement frame for the given settings.
CommandFrame buildMoveFrame(const FrameInputs& in);

/// A frame of the given command and data bytes, with its checksum.
CommandFrame commandFrame(std::uint8_t address, std::uint8_t command1, std::uint8_t command2,
                          std::uint8_t data1, std::uint8_t data2);

/// What a preset frame (FF a 00 c 00 N) does with preset N, 1 to 255.
enum class PresetCommand : std::uint8_t { kStore = 0x03, kClear = 0x05, kGoTo = 0x07 };

CommandFrame presetFrame(std::uint8_t address, PresetCommand command, std::uint8_t preset);

/// The axis an absolute position, a position query or its reply is about.
enum class Axis { kPan, kTilt };

/// An angle as absolute positions and position replies carry it: in
/// hundredths of a degree, rounded to the nearest, within a turn (359.996
/// is 0). `degrees` is from 0 to under 360.
std::uint16_t hundredths(float degrees);

/// A frame that carries an angle's hundredths in its data bytes, high byte
/// first: absolute positions and position replies.
CommandFrame angleFrame(std::uint8_t address, std::uint8_t command2, std::uint16_t hundredths);

/// The hundredths of a degree that a frame's data bytes carry.
std::uint16_t angleIn(const CommandFrame& frame);

/// Hundredths of a degree as text, two decimals and a point whatever the
/// locale: "123.45".
std::string degreesText(std::uint16_t hundredths);

/// Go to an absolute angle: FF a 00 4B (pan) or 4D (tilt), then the angle's
/// hundredths, high byte first.
CommandFrame positionFrame(std::uint8_t address, Axis axis, float degrees);

/// Ask where an axis is: FF a 00 51 (pan) or 53 (tilt) 00 00.
CommandFrame positionQueryFrame(std::uint8_t address, Axis axis);

/// Command 2 of the head's reply to that query: 59 (pan), 5B (tilt); the
/// data bytes carry the angle's hundredths, high byte first.
std::uint8_t positionReplyCommand(Axis axis);

/// A byte as an upper-case hexadecimal pair: "3F".
std::string hexByte(std::uint8_t byte);

/// Bytes as upper-case hexadecimal pairs separated by spaces:
/// "FF 01 00 02 3F 00 42".
std::string hexBytes(const std::uint8_t* bytes, std::size_t size);
inline std::string hexBytes(const CommandFrame& frame) {
  return hexBytes(frame.data(), frame.size());
}

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_COMMAND_FRAME_H_
