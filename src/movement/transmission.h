// What a run does on the serial line with the bytes it is handed: one
// movement (open the port, send the movement frame, wait, send the stop
// frame, close), or one of the head's other commands, which need no stop
// (presets, positions, the position report, a plain stop), and the wait
// for the head to arrive. What happens on the way is told to a
// LineReporter; no console text is written here.
#ifndef PTMOVE_MOVEMENT_TRANSMISSION_H_
#define PTMOVE_MOVEMENT_TRANSMISSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "head_position.h"
#include "line_events.h"

namespace ptmove {

/// The port a run uses, and how its line is set.
struct PortChoice {
  std::int32_t number = 0;  // COM<number>, when no address is given
  std::string address;      // a server's tcp:// or rfc2217:// address, or ""
  std::int32_t baudRate = 2400;
  bool speedGiven = false;  // the user asked for the speed: say when it cannot be applied
};

struct MoveRequest {
  PortChoice port;
  Bytes frame;  // the movement frame
  Bytes stop;   // the frame that stops the receiver that moves, and no other
  float durationSeconds = 0.0f;
};

/// Carries out the movement. Failures never stop the stop frame from being
/// sent once the port is open; a port whose device vanishes during the
/// movement is let go at once and opened again to send it. What happens
/// before the movement frame is reported at once, the rest once the stop
/// frame is out and the interrupts are let in again. After an interrupt,
/// ends the process as that interrupt would have.
void sendMove(const MoveRequest& request, LineReporter& reporter);

/// One of the head's other commands: frames that need no stop, in order;
/// or, when it reads the position, the two questions alone.
struct CommandRequest {
  PortChoice port;
  std::vector<Bytes> frames;
  std::optional<PositionQuestions> questions;  // for reading the position or waiting
  bool readsPosition = false;                  // ask where the head is, both axes
  std::optional<Arrival> arrival;              // after the frames, wait for the head
};

/// What the head said.
struct CommandResult {
  // Where the head is: both replies to the queries, or the last reading
  // while waiting for it to arrive.
  std::optional<Position> position;
  bool arrived = false;
};

/// Carries out the commands on the port as a movement is carried out (the
/// same opening, settings and failures), without a wait, stop frame or
/// guard; then, when asked, waits for the head to arrive. An interrupt ends
/// the run at once, as it ends a movement.
CommandResult sendCommands(const CommandRequest& request, LineReporter& reporter);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_TRANSMISSION_H_
