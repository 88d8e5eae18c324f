// One movement on the serial line: open the port, send the movement frame,
// wait, send the stop frames, close.
#ifndef PTMOVE_MOVEMENT_TRANSMISSION_H_
#define PTMOVE_MOVEMENT_TRANSMISSION_H_

#include <cstdint>
#include <ostream>

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

/// The wait for a duration: seconds x 1000 in double precision, truncated
/// toward zero. Negative and NaN durations wait 0 ms; counts beyond 64 bits
/// saturate.
std::uint64_t waitMilliseconds(float durationSeconds);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_TRANSMISSION_H_
