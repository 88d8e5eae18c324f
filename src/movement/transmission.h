// What a run does on the serial line: one movement (open the port, send the
// movement frame, wait, send the stop frame, close), or one of the head's
// other commands, which need no stop (presets, positions, the position
// report, a plain stop), and the wait for the head to arrive.
#ifndef PTMOVE_MOVEMENT_TRANSMISSION_H_
#define PTMOVE_MOVEMENT_TRANSMISSION_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include "command_frame.h"
#include "head_position.h"
#include "line_report.h"

namespace ptmove {

struct MoveRequest {
  std::int32_t portNumber = 0;
  std::int32_t baudRate = 2400;
  CommandFrame frame = STOP_FRAME;
  float durationSeconds = 0.0f;
};

/// Carries out the movement. The program's fixed messages go to `out`; each
/// failure also writes one line to `diagnostics` saying why and what to do.
/// Failures never stop the stop frame from being sent once the port is
/// open; a port whose device vanishes during the movement is let go at once
/// and opened again to send it. After an interrupt, ends the process as
/// that interrupt would have. Returns the first failure it met.
LineFailure sendMove(std::ostream& out, std::ostream& diagnostics, const MoveRequest& request);

/// One of the head's other commands: frames that need no stop, in order,
/// or the pan and tilt position queries, each of whose replies is read.
struct CommandRequest {
  std::int32_t portNumber = 0;
  std::int32_t baudRate = 2400;
  std::uint8_t address = 0x01;  // the receiver the frames are for
  std::vector<CommandFrame> frames;
  bool readsPosition = false;      // the frames are the pan query, then the tilt query
  std::optional<Arrival> arrival;  // after the frames, wait for the head to arrive
};

/// What came of the commands.
struct CommandResult {
  LineFailure failure = LineFailure::kNone;  // the first the run met
  // Where the head is: both replies to the queries, or the last reading
  // while waiting for the head to arrive.
  std::optional<Position> position;
  bool arrived = false;
};

/// Carries out the commands on the port as a movement is carried out (the
/// same empty line, opening, settings and failure texts), without a wait,
/// stop frame or guard; then, when asked, waits for the head to arrive. An
/// unanswered query is told on `diagnostics`; what the head said is for
/// the caller to print. An interrupt ends the run at once, as it ends a
/// movement.
CommandResult sendCommands(std::ostream& out, std::ostream& diagnostics,
                           const CommandRequest& request);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_TRANSMISSION_H_
