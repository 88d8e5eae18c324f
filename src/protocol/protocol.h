// A protocol a head speaks: how a command becomes a frame, how a frame is
// found in a byte stream, and how a receiver reads one. Pelco D, the
// default, and Pelco P. Another protocol is a file of its own beside
// pelco_d.cpp, with a class that implements Protocol, and an entry in the
// list in protocol.cpp.
#ifndef PTMOVE_PROTOCOL_PROTOCOL_H_
#define PTMOVE_PROTOCOL_PROTOCOL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_frame.h"
#include "head_command.h"

namespace ptmove {

/// What a standard command sets going, as a receiver reads its bits; a set
/// of these is a Received's functions.
enum Function : std::uint16_t {
  kPanRight = 1 << 0,
  kPanLeft = 1 << 1,
  kTiltUp = 1 << 2,
  kTiltDown = 1 << 3,
  kZoomTele = 1 << 4,
  kZoomWide = 1 << 5,
  kFocusFar = 1 << 6,
  kFocusNear = 1 << 7,
  kIrisOpen = 1 << 8,
  kIrisClose = 1 << 9,
  kAutoScan = 1 << 10,
  kManualScan = 1 << 11,
  kCameraOn = 1 << 12,
  kCameraOff = 1 << 13,
  kCameraOnOff = 1 << 14,
};

/// A frame as a receiver reads it.
struct Received {
  std::uint8_t address = 0;
  // The command and data bytes, for words when nothing else names them.
  std::array<std::uint8_t, 4> payload{};
  // An extended command (presets, positions and the like), which leaves
  // the receiver's movement as it was; else a standard command, which
  // replaces it.
  bool extended = false;
  std::uint16_t functions = 0;  // a standard command's Function bits
  std::uint8_t panSpeed = 0;
  std::uint8_t tiltSpeed = 0;
  std::optional<HeadCommand> command;  // an extended command known by name
};

/// A standard command that ends every movement and sets nothing going.
bool isStop(const Received& received);

/// A standard command that sets the head or the lens moving (pan, tilt,
/// zoom, focus, iris) until the next standard command.
bool isMotion(const Received& received);

/// In plain words: "pan right, speed 63", "camera off, focus near", "stop",
/// "go to preset 3", "pan is at 123.45 degrees".
std::string describe(const Received& received);

class Protocol {
 public:
  virtual ~Protocol() = default;

  /// Its name, for people: "Pelco D".
  virtual const char* name() const = 0;

  /// The frame that tells receiver `address` `command`.
  virtual CommandFrame frame(std::uint8_t address, const HeadCommand& command) const = 0;

  /// How many bytes its frames have.
  virtual std::size_t frameSize() const = 0;

  /// Whether a frame may begin with `byte`.
  virtual bool startsFrame(std::uint8_t byte) const = 0;

  /// Whether frameSize() bytes from a start byte are a frame: its end and
  /// checksum hold.
  virtual bool isWhole(const CommandFrame& frame) const = 0;

  /// A whole frame as a receiver reads it.
  virtual Received read(const CommandFrame& frame) const = 0;

  /// What a receiver that acknowledges every frame sends back.
  virtual std::vector<std::uint8_t> acknowledgement(std::uint8_t address) const = 0;
};

/// The protocol a -proto word names ("d", "p"; ASCII case ignored), or
/// nullptr.
const Protocol* findProtocol(std::string_view word);

/// Pelco D, spoken unless -proto says otherwise.
const Protocol& defaultProtocol();

/// Every protocol there is, for a reader of whatever comes (ptsim).
std::vector<const Protocol*> allProtocols();

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_PROTOCOL_H_
