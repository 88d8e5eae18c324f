// Reads a byte stream the way a receiver does: a frame begins at a start
// byte of one of the protocols listened to, and is a frame when that
// protocol finds it whole; anything else is noise, skipped up to the next
// start byte. ptmove reads its head's replies this way, ptsim and the tests
// what went over the wire.
#ifndef PTMOVE_PROTOCOL_FRAME_DECODER_H_
#define PTMOVE_PROTOCOL_FRAME_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "command_frame.h"
#include "protocol.h"

namespace ptmove {

struct DecodedItem {
  bool isFrame = false;  // a whole frame of `protocol`; else noise
  std::vector<std::uint8_t> bytes;
  double seconds = 0.0;  // when the last of its bytes arrived
  const Protocol* protocol = nullptr;

  CommandFrame frame() const;  // only for frames
  Received read() const;       // only for frames: as a receiver reads it
};

class FrameDecoder {
 public:
  /// Listens for the frames of `protocols`: every protocol unless given.
  explicit FrameDecoder(std::vector<const Protocol*> protocols = allProtocols());

  /// Feeds bytes that arrived at `seconds`; returns the frames and the runs
  /// of noise that they complete.
  std::vector<DecodedItem> feed(const std::uint8_t* data, std::size_t size, double seconds);

  /// Ends the stream: an unfinished frame is noise.
  std::vector<DecodedItem> finish(double seconds);

 private:
  bool startsFrame(std::uint8_t byte) const;
  void decodePending(double seconds, std::vector<DecodedItem>& items);

  std::vector<const Protocol*> protocols_;
  std::vector<std::uint8_t> pending_;
};

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_FRAME_DECODER_H_
