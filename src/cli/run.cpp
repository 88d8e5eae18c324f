#include "run.h"

#include "command_frame.h"
#include "move_settings.h"
#include "option_parser.h"
#include "reports.h"
#include "scan.h"

namespace ptmove {

namespace {

// The warning for what a run lacks: the port, and for a movement its
// direction and time.
void printMissing(std::ostream& out, const MoveSettings& settings, bool portAlone) {
  out << "ATTENZIONE, non hai impostato i seguenti parametri" << std::endl;
  if (!settings.portGiven) {
    out << " - Non hai selezionato la porta seriale" << std::endl;
  }
  if (portAlone) {
    return;
  }
  if (!settings.directionGiven) {
    out << " - Non hai selezionato la direzione di movimento" << std::endl;
  }
  if (!settings.durationGiven) {
    out << " - Non hai impostato il tempo di movimento" << std::endl;
  }
}

// The frames the run's action sends, in order: the movement frame for a
// movement, else the command's own.
std::vector<CommandFrame> actionFrames(const MoveSettings& settings, const CommandFrame& move) {
  const auto address = static_cast<std::uint8_t>(static_cast<std::uint32_t>(settings.address));
  const auto preset = static_cast<std::uint8_t>(settings.presetNumber);
  switch (settings.action) {
    case Action::kGoToPreset:
      return {presetFrame(address, PresetCommand::kGoTo, preset)};
    case Action::kStorePreset:
      return {presetFrame(address, PresetCommand::kStore, preset)};
    case Action::kClearPreset:
      return {presetFrame(address, PresetCommand::kClear, preset)};
    case Action::kGoToPosition: {
      std::vector<CommandFrame> frames;
      if (settings.panGiven) {
        frames.push_back(positionFrame(address, Axis::kPan, settings.panDegrees));
      }
      if (settings.tiltGiven) {
        frames.push_back(positionFrame(address, Axis::kTilt, settings.tiltDegrees));
      }
      return frames;
    }
    case Action::kReportPosition:
      return {positionQueryFrame(address, Axis::kPan), positionQueryFrame(address, Axis::kTilt)};
    case Action::kMove:
      break;
  }
  return {move};
}

// The line that announces an action other than the movement; the preset's
// number in decimal whatever base -d left the stream in.
std::string actionLine(const MoveSettings& settings) {
  const std::string preset = std::to_string(settings.presetNumber);
  switch (settings.action) {
    case Action::kGoToPreset:
      return "Brandeggio verso il preset " + preset;
    case Action::kStorePreset:
      return "Memorizzazione del preset " + preset;
    case Action::kClearPreset:
      return "Cancellazione del preset " + preset;
    case Action::kGoToPosition:
      return "Brandeggio verso la posizione impostata";
    case Action::kReportPosition:
      return "Lettura della posizione del brandeggio";
    case Action::kMove:
      break;
  }
  return "";
}

}  // namespace

int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& diagnostics,
               const Line& line) {
  MoveSettings settings;
  if (!args.empty()) {
    scanWord(args[0], settings.programWord);
  }
  if (args.size() < 2) {
    // Without arguments nothing is parsed, so no value was ever accepted and
    // the run ends after the banner and the line end every run prints.
    // Scripts that start the program bare see exactly this.
    printBanner(out, settings.programWord);
    out << std::endl;
    return 0;
  }
  if (!parseCommandLine(args, settings, out)) {
    return 0;
  }

  const CommandFrame frame = buildMoveFrame(settings.frameInputs());
  const std::vector<CommandFrame> frames = actionFrames(settings, frame);
  if (settings.displayWanted) {
    printSettings(out, settings, frames);
  }
  // Ends the line of frame bytes after -d; otherwise an empty line that
  // scripts written for the Windows program expect before anything else.
  out << std::endl;

  if (settings.helpWanted) {
    printHelp(out, settings.programWord);
    return 0;
  }
  if (!settings.lastValueOk) {
    return 0;  // the most recent value was refused: end without a word
  }
  if (settings.action != Action::kMove) {
    // The head's other commands need the port alone: no direction, no time.
    if (!settings.portGiven) {
      printMissing(out, settings, true);
      return 0;
    }
    out << actionLine(settings) << std::endl;
    line.commands(out, diagnostics,
                  CommandRequest{settings.portNumber, settings.baudRate, frames,
                                 settings.action == Action::kReportPosition});
    return 0;
  }
  if (settings.portGiven && settings.directionGiven && settings.durationGiven) {
    out << "Brandeggio in movimento  " << std::endl;
    line.move(out, diagnostics,
              MoveRequest{settings.portNumber, settings.baudRate, frame, settings.durationSeconds});
    return 0;
  }
  printMissing(out, settings, false);
  return 0;
}

}  // namespace ptmove
