// What Pelco D and Pelco P share: four command and data bytes between the
// address and the frame's end, laid out alike for the movements and their
// speeds, and the same codes for presets, absolute positions, the position
// queries and their replies. Each protocol's file gives its own command
// bits, framing and checksum.
#ifndef PTMOVE_PROTOCOL_PELCO_H_
#define PTMOVE_PROTOCOL_PELCO_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "command_frame.h"
#include "head_command.h"
#include "protocol.h"

namespace ptmove {

/// Stops every movement of receiver 0x01, in Pelco D.
constexpr CommandFrame STOP_FRAME = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};

/// Protocol speed for a percentage: percent x 63 / 100, truncated toward
/// zero. Only the low 8 bits reach the frame; 0..100 gives 0..63.
std::uint8_t scaleSpeed(std::int32_t speedPercent);

/// Pelco D's checksum: the sum of bytes 1 to 5, modulo 256.
std::uint8_t frameChecksum(const CommandFrame& frame);

/// Pelco P's checksum: the XOR of bytes 0 to 6, start and end bytes
/// included.
std::uint8_t xorChecksum(const CommandFrame& frame);

/// Command 1, command 2, data 1 (the pan speed), data 2 (the tilt speed).
using Payload = std::array<std::uint8_t, 4>;

/// The two command bytes that set a motion going.
struct MotionBytes {
  std::uint8_t first;
  std::uint8_t second;
};
using MotionTable = std::array<MotionBytes, kMotionCount>;

/// The motions in which Pelco D and Pelco P differ: the lens and the scan.
struct LensAndScanBytes {
  MotionBytes focusNear;
  MotionBytes focusFar;
  MotionBytes irisOpen;
  MotionBytes irisClose;
  MotionBytes autoScan;
};

/// Each motion's command bytes, in the order of Motion: pan, tilt, the
/// diagonals and zoom as both protocols have them, the lens and the scan
/// as `lens` gives them.
constexpr MotionTable motionTable(const LensAndScanBytes& lens) {
  return {{
      {0x00, 0x02},  // right
      {0x00, 0x04},  // left
      {0x00, 0x08},  // up
      {0x00, 0x10},  // down
      {0x00, 0x0A},  // up and right
      {0x00, 0x0C},  // up and left
      {0x00, 0x12},  // down and right
      {0x00, 0x14},  // down and left
      {0x00, 0x20},  // zoom in (tele)
      {0x00, 0x40},  // zoom out (wide)
      lens.focusNear,
      lens.focusFar,
      lens.irisOpen,
      lens.irisClose,
      lens.autoScan,
  }};
}

/// The payload that tells `command`, each motion as `motions` has it.
Payload payloadOf(const HeadCommand& command, const MotionTable& motions);

/// What a bit of the command bytes sets going: `function`, or
/// `withSense` when the first byte's sense bit is set too.
struct CommandBit {
  std::size_t byte;  // 0 or 1
  std::uint8_t mask;
  Function function;
  Function withSense;
};

/// Reads a payload as a receiver does: an extended command when command 2
/// is odd (named when it is a preset, position, query or reply), else the
/// functions the `count` entries of `bits` give, with `senseMask` the first
/// byte's sense bit (0: none), and the speeds.
Received readPayload(std::uint8_t address, const Payload& payload, const CommandBit* bits,
                     std::size_t count, std::uint8_t senseMask);

/// The extended command a payload names, if it is one both protocols
/// share.
std::optional<HeadCommand> sharedExtendedCommand(const Payload& payload);

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_PELCO_H_
