// The settings of one run: everything the command line sets, with its
// defaults and the flags that decide what the run does.
#ifndef PTMOVE_CLI_MOVE_SETTINGS_H_
#define PTMOVE_CLI_MOVE_SETTINGS_H_

#include <cstdint>
#include <string>

#include "command_frame.h"

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
  std::int32_t baudRate = 2400;
  std::int32_t address = 0x01;  // only the low byte reaches the frame
  std::int32_t speedPercent = 100;
  float durationSeconds = 1.0f;
  std::string directionWord;  // the word after -dir, kept for the display
  std::string programWord;    // first word of argument 0
  std::uint8_t command1 = 0x00;
  std::uint8_t command2 = 0x00;
  bool portGiven = false;
  bool directionGiven = false;
  bool durationGiven = false;
  bool panMove = false;
  bool tiltMove = false;
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

  /// Whether the run waits for the head to arrive: -wait after a preset or
  /// a position, and no other action.
  bool waitsForArrival() const {
    return waitGiven && (action == Action::kGoToPreset || action == Action::kGoToPosition);
  }

  /// The receiver's address as frames carry it: its low byte.
  std::uint8_t receiver() const {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(address) & 0xFF);
  }

  FrameInputs frameInputs() const {
    return {address, command1, command2, speedPercent, directionGiven, panMove, tiltMove};
  }
};

}  // namespace ptmove

#endif  // PTMOVE_CLI_MOVE_SETTINGS_H_
