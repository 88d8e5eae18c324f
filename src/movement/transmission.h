// What a run does on the serial line: one movement (open the port, send the
// movement frame, wait, send the stop frames, close), or one of the head's
// other commands, which need no stop (presets, positions, the position
// report).
#ifndef PTMOVE_MOVEMENT_TRANSMISSION_H_
#define PTMOVE_MOVEMENT_TRANSMISSION_H_

#include <chrono>
#include <cstdint>
#include <ostream>
#include <vector>

#include "command_frame.h"

namespace ptmove {

struct MoveRequest {
  std::int32_t portNumber = 0;
  std::int32_t baudRate = 2400;
  CommandFrame frame = STOP_FRAME;
  float durationSeconds = 0.0f;
};

/// Carries out the movement. The program's fixed messages go to `out`; each
/// failure also writes one line to `diagnostics` saying why and what to do.
/// Failures never stop the stop frames from being sent once the port is
/// open; a port whose device vanishes during the movement is let go at once
/// and opened again to send them. After an interrupt, ends the process as
/// that interrupt would have.
void sendMove(std::ostream& out, std::ostream& diagnostics, const MoveRequest& request);

/// One of the head's other commands: frames that need no stop, in order,
/// or the pan and tilt position queries, each of whose replies is read.
struct CommandRequest {
  std::int32_t portNumber = 0;
  std::int32_t baudRate = 2400;
  std::vector<CommandFrame> frames;
  bool readsPosition = false;  // the frames are the pan query, then the tilt query
};

/// Carries out the commands on the port as a movement is carried out (the
/// same empty line, opening, settings and failure texts), without a wait,
/// stop frames or guard. For the position queries, prints where the head
/// is, or that it did not answer. An interrupt ends the run at once, as it
/// ends a movement.
void sendCommands(std::ostream& out, std::ostream& diagnostics, const CommandRequest& request);

/// How long the head has to answer a position query.
constexpr std::chrono::seconds kReplyWithin{1};

/// The wait for a duration: seconds x 1000 in double precision, truncated
/// toward zero. Negative and NaN durations wait 0 ms; counts beyond 64 bits
/// saturate.
std::uint64_t waitMilliseconds(float durationSeconds);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_TRANSMISSION_H_
