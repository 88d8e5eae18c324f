// The settings of one run: everything the command line sets, with its
// defaults and the flags that decide what the run does, in no protocol's
// terms; and the commands they ask of the head.
#ifndef PTMOVE_CLI_MOVE_SETTINGS_H_
#define PTMOVE_CLI_MOVE_SETTINGS_H_

#include <cstdint>
#include <optional>
#include <string>

#include "head_command.h"
#include "protocol.h"

namespace ptmove {

/// What a run does on the line: the timed movement, or one of the head's
/// other commands, which need no stop.
enum class Action {
  kMove,            // -dir, or none of these options
  kGoToPreset,      // -preset
  kStorePreset,     // -setpreset
  kClearPreset,     // -clearpreset
  kGoToPosition,    // -pan and/or -tilt
  kReportPosition,  // -pos
  kStop,            // -stop
};

struct MoveSettings {
  std::int32_t portNumber = 0;  // COM0 until -com accepts a port
  std::string portAddress;      // a server's tcp:// or rfc2217:// address, when -com gave one
  std::int32_t baudRate = 2400;
  bool speedGiven = false;      // -br accepted a value
  std::int32_t address = 0x01;  // only the low byte reaches the frame
  std::int32_t speedPercent = 100;
  float durationSeconds = 1.0f;
  std::string directionWord;                      // the word after -dir, kept for the display
  std::string programWord;                        // first word of argument 0
  const Protocol* protocol = &defaultProtocol();  // -proto
  // The motion of the last -dir word recognised, kept when a later word is
  // not; and the axes that move at the speed.
  std::optional<Motion> motion;
  bool panMove = false;
  bool tiltMove = false;
  bool portGiven = false;
  bool directionGiven = false;
  bool durationGiven = false;
  bool helpWanted = false;
  bool displayWanted = false;
  // Whether the most recent option that takes a value had it accepted.
  bool lastValueOk = false;
  // The last of the action options that was accepted decides.
  Action action = Action::kMove;
  std::int32_t presetNumber = 0;  // -preset, -setpreset, -clearpreset: 1 to 255
  float panDegrees = 0.0f;        // -pan, 0 to under 360
  float tiltDegrees = 0.0f;       // -tilt, 0 to under 360
  bool panGiven = false;
  bool tiltGiven = false;
  float waitSeconds = 0.0f;  // -wait: how long to wait for the head to arrive
  bool waitGiven = false;
  bool exitStatusWanted = false;  // -e: the exit status says what happened
  // A value or a word of the command line was refused, even when the run
  // went on.
  bool somethingRefused = false;

  /// The receiver's address as frames carry it: its low byte.
  std::uint8_t receiver() const {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(address) & 0xFF);
  }

  /// Whether the run waits for the head to arrive: -wait after a preset or
  /// a position, and no other action.
  bool waitsForArrival() const {
    return waitGiven && (action == Action::kGoToPreset || action == Action::kGoToPosition);
  }

  /// The movement asked for: the motion of the last word recognised, each
  /// axis it moves carrying the speed, and none while no word is.
  HeadCommand movement() const {
    return HeadCommand::move(motion, speedPercent, directionGiven && panMove,
                             directionGiven && tiltMove);
  }
};

}  // namespace ptmove

#endif  // PTMOVE_CLI_MOVE_SETTINGS_H_
