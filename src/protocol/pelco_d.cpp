// Pelco D: FF, the address, command 1, command 2, data 1 (the pan speed),
// data 2 (the tilt speed), and the sum of the five bytes after FF.

#include "pelco.h"

namespace ptmove {

namespace {

constexpr std::uint8_t kSync = 0xFF;
constexpr std::uint8_t kSense = 0x80;  // command 1: turns scan and camera on, not off

// The lens and the scan's command 1 and 2. Auto is 09 00, what the Windows
// program always sent for -dir a and receivers in the field may rely on; a
// receiver that follows the standard reads it as "camera off, focus near".
constexpr MotionTable kMotions = motionTable({
    {0x01, 0x00},  // focus near
    {0x00, 0x80},  // focus far
    {0x02, 0x00},  // iris open
    {0x04, 0x00},  // iris close
    {0x09, 0x00},  // auto
});

// The bits of a standard command as the standard reads them.
constexpr std::array<CommandBit, 12> kBits = {{
    {0, 0x10, kManualScan, kAutoScan},
    {0, 0x08, kCameraOff, kCameraOn},
    {0, 0x04, kIrisClose, kIrisClose},
    {0, 0x02, kIrisOpen, kIrisOpen},
    {0, 0x01, kFocusNear, kFocusNear},
    {1, 0x80, kFocusFar, kFocusFar},
    {1, 0x40, kZoomWide, kZoomWide},
    {1, 0x20, kZoomTele, kZoomTele},
    {1, 0x10, kTiltDown, kTiltDown},
    {1, 0x08, kTiltUp, kTiltUp},
    {1, 0x04, kPanLeft, kPanLeft},
    {1, 0x02, kPanRight, kPanRight},
}};

class PelcoD final : public Protocol {
 public:
  const char* name() const override { return "Pelco D"; }

  CommandFrame frame(std::uint8_t address, const HeadCommand& command) const override {
    const Payload p = payloadOf(command, kMotions);
    CommandFrame frame = {kSync, address, p[0], p[1], p[2], p[3], 0x00};
    frame[6] = frameChecksum(frame);
    return frame;
  }

  std::size_t frameSize() const override { return 7; }

  bool startsFrame(std::uint8_t byte) const override { return byte == kSync; }

  bool isWhole(const CommandFrame& frame) const override {
    return frame.size() == frameSize() && frame[0] == kSync && frameChecksum(frame) == frame[6];
  }

  Received read(const CommandFrame& frame) const override {
    return readPayload(frame[1], {frame[2], frame[3], frame[4], frame[5]}, kBits.data(),
                       kBits.size(), kSense);
  }

  // The general response: sync, address, no alarm, checksum.
  std::vector<std::uint8_t> acknowledgement(std::uint8_t address) const override {
    return {kSync, address, 0x00, address};
  }
};

}  // namespace

const Protocol& pelcoD() {
  static const PelcoD protocol;
  return protocol;
}

}  // namespace ptmove
