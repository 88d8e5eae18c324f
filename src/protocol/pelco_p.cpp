// Pelco P: A0, the address, data 1 to data 4, AF, and the XOR of the seven
// bytes before it, A0 and AF included. Data 3 and 4 carry the pan and tilt
// speeds as Pelco D's data bytes do; the lens and the scan have bits of
// their own in data 1. The presets, positions and their queries are Pelco
// D's codes in Pelco P's frame, which not every Pelco P head knows.

#include "pelco.h"

namespace ptmove {

namespace {

constexpr std::uint8_t kStart = 0xA0;
constexpr std::uint8_t kEnd = 0xAF;

// The lens and the scan's data 1 and 2: bits of their own in data 1.
constexpr MotionTable kMotions = motionTable({
    {0x02, 0x00},  // focus near
    {0x01, 0x00},  // focus far
    {0x04, 0x00},  // iris open
    {0x08, 0x00},  // iris close
    {0x20, 0x00},  // auto scan
});

constexpr std::array<CommandBit, 13> kBits = {{
    {0, 0x40, kCameraOn, kCameraOn},
    {0, 0x20, kAutoScan, kAutoScan},
    {0, 0x10, kCameraOnOff, kCameraOnOff},
    {0, 0x08, kIrisClose, kIrisClose},
    {0, 0x04, kIrisOpen, kIrisOpen},
    {0, 0x02, kFocusNear, kFocusNear},
    {0, 0x01, kFocusFar, kFocusFar},
    {1, 0x40, kZoomWide, kZoomWide},
    {1, 0x20, kZoomTele, kZoomTele},
    {1, 0x10, kTiltDown, kTiltDown},
    {1, 0x08, kTiltUp, kTiltUp},
    {1, 0x04, kPanLeft, kPanLeft},
    {1, 0x02, kPanRight, kPanRight},
}};

class PelcoP final : public Protocol {
 public:
  const char* name() const override { return "Pelco P"; }

  CommandFrame frame(std::uint8_t address, const HeadCommand& command) const override {
    const Payload p = payloadOf(command, kMotions);
    CommandFrame frame = {kStart, address, p[0], p[1], p[2], p[3], kEnd, 0x00};
    frame[7] = xorChecksum(frame);
    return frame;
  }

  std::size_t frameSize() const override { return 8; }

  bool startsFrame(std::uint8_t byte) const override { return byte == kStart; }

  bool isWhole(const CommandFrame& frame) const override {
    return frame.size() == frameSize() && frame[0] == kStart && frame[6] == kEnd &&
           xorChecksum(frame) == frame[7];
  }

  Received read(const CommandFrame& frame) const override {
    return readPayload(frame[1], {frame[2], frame[3], frame[4], frame[5]}, kBits.data(),
                       kBits.size(), 0);
  }

  // One byte, whatever the address.
  std::vector<std::uint8_t> acknowledgement(std::uint8_t /*address*/) const override {
    return {0xA2};
  }
};

}  // namespace

const Protocol& pelcoP() {
  static const PelcoP protocol;
  return protocol;
}

}  // namespace ptmove
