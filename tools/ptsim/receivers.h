// The virtual pan-tilt heads, one per receiver address: where each points
// and how it moves over time, what its lens does, the presets it stores,
// its replies to the position queries, and a record of its movements.
#ifndef PTMOVE_TOOLS_PTSIM_RECEIVERS_H_
#define PTMOVE_TOOLS_PTSIM_RECEIVERS_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol.h"

namespace ptmove {

/// How fast the virtual heads move. Pan and tilt turn at one degree a
/// second per step of the frame's speed byte (0 to 63: 0 to 63 degrees a
/// second), and at kTurboDegreesPerSecond for 64 and above (turbo). A head
/// goes to an absolute position or a preset at kTravelDegreesPerSecond,
/// each axis the shorter way round. Zoom, focus and iris run through their
/// range, 0 to 100 %, at kLensPercentPerSecond.
constexpr double kDegreesPerSpeedStep = 1.0;
constexpr double kTurboDegreesPerSecond = 100.0;
constexpr double kTravelDegreesPerSecond = 300.0;
constexpr double kLensPercentPerSecond = 25.0;

class Receivers {
 public:
  /// Takes a frame, as a receiver read it, that arrived at `seconds` (never
  /// earlier than the one before). Returns the receiver's answer to a
  /// position query.
  std::optional<HeadCommand> receive(const Received& frame, double seconds,
                                     const Protocol& protocol = defaultProtocol());

  /// At `seconds`, the end: one line per movement of each receiver, in
  /// address order, a warning line for each receiver still moving, where
  /// each ended up, and the presets it holds.
  std::vector<std::string> summary(double seconds);

  bool anyLeftMoving() const;

 private:
  // Pan or tilt: an angle within a turn, turning at a rate or travelling
  // to a target.
  struct Axis {
    double degrees = 0.0;
    double rate = 0.0;  // degrees a second, signed; 0 when not turning
    std::optional<double> target;

    void advance(double seconds);
  };

  // Zoom, focus or iris: a level from 0 to 100 %.
  struct Lens {
    double percent = 0.0;
    double rate = 0.0;  // percent a second, signed

    void advance(double seconds);
  };

  struct Receiver {
    Axis pan;
    Axis tilt;
    // Levels: zoom 0 wide to 100 tele, focus 0 near to 100 far, iris 0
    // closed to 100 open.
    Lens zoom;
    Lens focus{50.0};
    Lens iris{50.0};
    // Each stored preset's pan and tilt.
    std::map<int, std::pair<double, double>> presets;
    // The time its state is for.
    double at = 0.0;
    // The protocols it was spoken to in, by name, when one was not the
    // default: the summary names them.
    std::vector<std::string> protocols;
    bool otherProtocol = false;

    bool moving = false;
    std::string movement;  // what it is doing while moving
    double since = 0.0;
    std::vector<std::string> done;

    void advanceTo(double seconds);
    // Takes a standard command, or carries out an extended one (with the
    // answer to a position query).
    void follow(const Received& frame);
    std::optional<HeadCommand> carryOut(const HeadCommand& command);
  };

  void record(Receiver& receiver, const Received& frame, double seconds);

  std::map<std::uint8_t, Receiver> receivers_;
};

/// Seconds as ptsim prints them: "  2.000 s".
std::string formatSeconds(double seconds);

}  // namespace ptmove

#endif  // PTMOVE_TOOLS_PTSIM_RECEIVERS_H_
