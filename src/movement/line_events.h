// What a run meets on the line, told to whoever reports it to the user:
// each failure with the port's reason, a port that vanished and came back,
// a guard that died, a query left unanswered, an interrupt. The events say
// what happened; the command line says it in words.
#ifndef PTMOVE_MOVEMENT_LINE_EVENTS_H_
#define PTMOVE_MOVEMENT_LINE_EVENTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "deadline.h"
#include "port.h"

namespace ptmove {

/// Bytes as they go on the line or come from it.
using Bytes = std::vector<std::uint8_t>;

/// What a frame was for.
enum class FrameRole { kMovement, kStop, kCommand, kQuery };

/// Which angle of the head a query is about.
enum class Angle { kPan, kTilt };

namespace event {

/// The port could not be opened: nothing was sent.
struct PortNotOpened {
  std::string why;
};
/// The port's timeouts, or its line settings, could not be applied; the
/// frames are sent all the same.
struct TimeoutsNotSet {
  std::string why;
};
struct LineNotSet {
  std::string why;
};
/// The port's server sets the line itself (a raw TCP port): the speed
/// asked for was not applied.
struct SpeedNotApplied {
  std::string port;
  std::int32_t baudRate = 0;
};
/// The stop guard could not be started: the movement goes on without it.
struct GuardNotStarted {
  std::string why;
};
/// A frame did not go out whole.
struct FrameNotSent {
  FrameRole role;
  Bytes frame;
  std::string why;
};
/// The stop frame was written but had not left the port by its bound.
struct StopNotDrained {
  std::string why;
};
/// The port vanished during the movement: opened again after `backAfter`,
/// or not back in time (`why`). `stopped`: the stop frame went out whole.
struct PortVanished {
  std::string port;
  Clock::duration into{};
  bool asTheStopLeft = false;
  std::optional<Clock::duration> backAfter;
  Clock::duration waitedFor{};
  std::string why;
  bool stopped = false;
};
/// The stop guard died during the movement, which was ended at once.
struct GuardDied {
  unsigned long guardProcess = 0;
  Clock::duration into{};
  bool stopped = false;
};
/// A position query was not answered by its bound.
struct NoReply {
  Angle angle;
  Bytes query;
  Clock::duration within{};
  std::string port;
  Bytes arrived;  // what came instead
};
/// After the commands, output had not left the port by its bound.
struct OutputDiscarded {
  std::string why;
};
/// An interrupt came: during a movement (then `stopped` says whether the
/// stop frame went out), or during a command.
struct Interrupted {
  std::string by;
  bool duringMovement = false;
  bool stopped = false;
};
/// The port's driver cannot cut a call short: the process is about to end,
/// leaving the stop to the guard.
struct LineStuck {
  bool writing = false;
};

}  // namespace event

using LineEvent =
    std::variant<event::PortNotOpened, event::TimeoutsNotSet, event::LineNotSet,
                 event::SpeedNotApplied, event::GuardNotStarted, event::FrameNotSent,
                 event::StopNotDrained, event::PortVanished, event::GuardDied, event::NoReply,
                 event::OutputDiscarded, event::Interrupted, event::LineStuck>;

/// Whoever tells the user what happened on the line.
class LineReporter {
 public:
  virtual ~LineReporter() = default;
  virtual void report(const LineEvent& event) = 0;
};

/// Writes one frame by its bound; `cancellation` cuts short a write held up
/// by the line. A frame not written whole is reported. True when it went
/// whole.
bool writeFrame(Port& port, const Bytes& frame, FrameRole role, Cancellation cancellation,
                LineReporter& reporter);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_LINE_EVENTS_H_
