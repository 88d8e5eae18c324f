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
  const std::uint8_t address = settings.receiver();
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
    case Action::kStop:
      return {stopFrameFor(address)};
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
    case Action::kStop:
      return "Arresto del brandeggio";
    case Action::kMove:
      break;
  }
  return "";
}

// What a wait for the head takes as arrived: the angles sent, or, after a
// preset, a head that has stopped moving.
Arrival arrivalFor(const MoveSettings& settings) {
  Arrival arrival;
  arrival.withinSeconds = settings.waitSeconds;
  arrival.settles = settings.action == Action::kGoToPreset;
  if (settings.action == Action::kGoToPosition) {
    if (settings.panGiven) {
      arrival.pan = hundredths(settings.panDegrees);
    }
    if (settings.tiltGiven) {
      arrival.tilt = hundredths(settings.tiltDegrees);
    }
  }
  return arrival;
}

// "pan 123.45 gradi, tilt 10.00 gradi", as text whatever the locale or the
// stream's base after -d.
std::string anglesText(const Position& position) {
  return "pan " + degreesText(position.pan) + " gradi, tilt " + degreesText(position.tilt) +
         " gradi";
}

// What the head said, after the commands: where it is, or whether it
// arrived. Nothing when the port could not be opened.
void printWhatTheHeadSaid(std::ostream& out, const MoveSettings& settings,
                          const CommandResult& result) {
  if (result.failure == LineFailure::kPortNotOpened) {
    return;
  }
  const bool reports = settings.action == Action::kReportPosition;
  if (!reports && !settings.waitsForArrival()) {
    return;
  }
  if (!result.position) {
    out << "Nessuna risposta dal brandeggio" << std::endl;
  } else if (reports) {
    out << "Posizione " << anglesText(*result.position) << std::endl;
  } else {
    out << (result.arrived ? "Brandeggio arrivato: " : "Brandeggio non arrivato: ")
        << anglesText(*result.position) << std::endl;
  }
}

// The exit status: 0 unless -e asked for one; then the first failure, the
// command line's coming before the line's.
int exitStatus(const MoveSettings& settings, bool commandLineFailed, LineFailure failure) {
  if (!settings.exitStatusWanted) {
    return kExitOk;
  }
  if (commandLineFailed) {
    return kExitUsage;
  }
  switch (failure) {
    case LineFailure::kNone:
      return kExitOk;
    case LineFailure::kPortNotOpened:
      return kExitUnavailable;
    case LineFailure::kLineFailed:
      return kExitIoError;
    case LineFailure::kNotArrived:
      return kExitTempFail;
    case LineFailure::kNoAnswer:
      return kExitProtocol;
  }
  return kExitOk;
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
    return kExitOk;
  }
  const auto endOfCommandLine = [&settings](bool failed) {
    return exitStatus(settings, failed || settings.somethingRefused, LineFailure::kNone);
  };
  if (!parseCommandLine(args, settings, out)) {
    return endOfCommandLine(true);
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
    return endOfCommandLine(false);
  }
  if (!settings.lastValueOk) {
    return endOfCommandLine(true);  // nothing to do, or the last value refused: no word
  }
  if (settings.action != Action::kMove) {
    // The head's other commands need the port alone: no direction, no time.
    if (!settings.portGiven) {
      printMissing(out, settings, true);
      return endOfCommandLine(true);
    }
    out << actionLine(settings) << std::endl;
    CommandRequest request;
    request.portNumber = settings.portNumber;
    request.baudRate = settings.baudRate;
    request.address = settings.receiver();
    request.frames = frames;
    request.readsPosition = settings.action == Action::kReportPosition;
    if (settings.waitsForArrival()) {
      request.arrival = arrivalFor(settings);
    }
    const CommandResult result = line.commands(out, diagnostics, request);
    printWhatTheHeadSaid(out, settings, result);
    return exitStatus(settings, settings.somethingRefused, result.failure);
  }
  if (settings.portGiven && settings.directionGiven && settings.durationGiven) {
    out << "Brandeggio in movimento  " << std::endl;
    const LineFailure failure = line.move(
        out, diagnostics,
        MoveRequest{settings.portNumber, settings.baudRate, frame, settings.durationSeconds});
    return exitStatus(settings, settings.somethingRefused, failure);
  }
  printMissing(out, settings, false);
  return endOfCommandLine(true);
}

}  // namespace ptmove
