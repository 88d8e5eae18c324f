// Reads a Pelco D byte stream the way a receiver does: a frame begins at a
// sync byte 0xFF and is good when its checksum is. Used by the virtual
// receiver and by tests that look at what went over the wire.
#ifndef PTMOVE_PROTOCOL_FRAME_DECODER_H_
#define PTMOVE_PROTOCOL_FRAME_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_frame.h"

namespace ptmove {

struct DecodedItem {
  bool isFrame = false;  // a whole frame with a good checksum; else noise
  std::vector<std::uint8_t> bytes;
  double seconds = 0.0;  // when the last of its bytes arrived

  CommandFrame frame() const;  // only for frames
};

class FrameDecoder {
 public:
  /// Feeds bytes that arrived at `seconds`; returns the frames and the runs
  /// of noise (bytes skipped up to the next sync byte) that they complete.
  std::vector<DecodedItem> feed(const std::uint8_t* data, std::size_t size, double seconds);

  /// Ends the stream: an unfinished frame is noise.
  std::vector<DecodedItem> finish(double seconds);

 private:
  void decodePending(double seconds, std::vector<DecodedItem>& items);

  std::vector<std::uint8_t> pending_;
};

/// True when the frame stops every movement (both command bytes zero).
bool isStopCommand(const CommandFrame& frame);

/// True for an extended command (command 2 odd: presets, auxiliaries and
/// the like), which leaves the receiver's movement as it was.
bool isExtendedCommand(const CommandFrame& frame);

/// True when a standard command sets a movement of the head or lens (pan,
/// tilt, zoom, focus, iris), which lasts until the next standard command.
bool isMotion(const CommandFrame& frame);

/// The command as a standard Pelco D receiver reads its bits, in plain
/// words: "pan right, speed 63", "camera off, focus near", "stop".
std::string describeCommand(const CommandFrame& frame);

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_FRAME_DECODER_H_
