#include "run.h"

#include "command_frame.h"
#include "line_messages.h"
#include "move_settings.h"
#include "option_parser.h"
#include "reply_finder.h"
#include "reports.h"
#include "scan.h"

namespace ptmove {

namespace {

PortChoice portChoice(const MoveSettings& settings) {
  PortChoice choice;
  choice.number = settings.portNumber;
  choice.address = settings.portAddress;
  choice.baudRate = settings.baudRate;
  choice.speedGiven = settings.speedGiven;
  return choice;
}

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

// What the run's action asks of the head, in order: the movement for a
// movement, else the command's own.
std::vector<HeadCommand> actionCommands(const MoveSettings& settings) {
  const auto preset = static_cast<std::uint8_t>(settings.presetNumber);
  switch (settings.action) {
    case Action::kGoToPreset:
      return {HeadCommand::presetCommand(PresetAction::kGoTo, preset)};
    case Action::kStorePreset:
      return {HeadCommand::presetCommand(PresetAction::kStore, preset)};
    case Action::kClearPreset:
      return {HeadCommand::presetCommand(PresetAction::kClear, preset)};
    case Action::kGoToPosition: {
      std::vector<HeadCommand> commands;
      if (settings.panGiven) {
        commands.push_back(HeadCommand::goToAngle(Axis::kPan, hundredths(settings.panDegrees)));
      }
      if (settings.tiltGiven) {
        commands.push_back(HeadCommand::goToAngle(Axis::kTilt, hundredths(settings.tiltDegrees)));
      }
      return commands;
    }
    case Action::kReportPosition:
      return {HeadCommand::askAngle(Axis::kPan), HeadCommand::askAngle(Axis::kTilt)};
    case Action::kStop:
      return {HeadCommand::stop()};
    case Action::kMove:
      break;
  }
  return {settings.movement()};
}

// The questions that find where the head is, each with how to find its
// answer in the protocol spoken.
PositionQuestions positionQuestions(const MoveSettings& settings) {
  const auto question = [&settings](Axis axis) {
    const ReplyFinder finder(*settings.protocol, settings.receiver(), axis);
    return Question{
        settings.protocol->frame(settings.receiver(), HeadCommand::askAngle(axis)).bytes(),
        [finder](const Bytes& arrived) { return finder.angleIn(arrived); }};
  };
  return {question(Axis::kPan), question(Axis::kTilt)};
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
// arrived, with the failure that is. Nothing when the port could not be
// opened.
void printWhatTheHeadSaid(std::ostream& out, const MoveSettings& settings,
                          const CommandResult& result, ConsoleReporter& reporter) {
  const bool reports = settings.action == Action::kReportPosition;
  if ((!reports && !settings.waitsForArrival()) || reporter.first() == RunFailure::kPortNotOpened) {
    return;
  }
  if (!result.position) {
    out << "Nessuna risposta dal brandeggio" << std::endl;
    reporter.note(RunFailure::kNoAnswer);
  } else if (reports) {
    out << "Posizione " << anglesText(*result.position) << std::endl;
  } else {
    out << (result.arrived ? "Brandeggio arrivato: " : "Brandeggio non arrivato: ")
        << anglesText(*result.position) << std::endl;
    if (!result.arrived) {
      reporter.note(RunFailure::kNotArrived);
    }
  }
}

// The exit status: 0 unless -e asked for one; then the first failure the
// run met, the command line's coming before the line's.
int exitStatus(const MoveSettings& settings, RunFailure failure) {
  if (!settings.exitStatusWanted) {
    return kExitOk;
  }
  if (settings.somethingRefused) {
    return kExitUsage;
  }
  switch (failure) {
    case RunFailure::kNone:
      return kExitOk;
    case RunFailure::kCommandLine:
      return kExitUsage;
    case RunFailure::kPortNotOpened:
      return kExitUnavailable;
    case RunFailure::kLineFailed:
      return kExitIoError;
    case RunFailure::kNotArrived:
      return kExitTempFail;
    case RunFailure::kNoAnswer:
      return kExitProtocol;
  }
  return kExitOk;
}

}  // namespace

int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& diagnostics,
               Line& line) {
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
  if (!parseCommandLine(args, settings, out)) {
    return exitStatus(settings, RunFailure::kCommandLine);
  }

  const Protocol& protocol = *settings.protocol;
  std::vector<CommandFrame> frames;
  for (const HeadCommand& command : actionCommands(settings)) {
    frames.push_back(protocol.frame(settings.receiver(), command));
  }
  if (settings.displayWanted) {
    printSettings(out, settings, frames);
  }
  // Ends the line of frame bytes after -d; otherwise an empty line that
  // scripts written for the Windows program expect before anything else.
  out << std::endl;

  if (settings.helpWanted) {
    printHelp(out, settings.programWord);
    return exitStatus(settings, RunFailure::kNone);
  }
  if (!settings.lastValueOk) {
    // Nothing to do, or the last value refused: the run ends without a word.
    return exitStatus(settings, RunFailure::kCommandLine);
  }
  ConsoleReporter reporter(out, diagnostics);
  if (settings.action != Action::kMove) {
    // The head's other commands need the port alone: no direction, no time.
    if (!settings.portGiven) {
      printMissing(out, settings, true);
      return exitStatus(settings, RunFailure::kCommandLine);
    }
    out << actionLine(settings) << std::endl;
    out << std::endl;  // before what the line reports
    CommandRequest request;
    request.port = portChoice(settings);
    request.readsPosition = settings.action == Action::kReportPosition;
    if (!request.readsPosition) {
      for (const CommandFrame& frame : frames) {
        request.frames.push_back(frame.bytes());
      }
    }
    if (request.readsPosition || settings.waitsForArrival()) {
      request.questions = positionQuestions(settings);
    }
    if (settings.waitsForArrival()) {
      request.arrival = arrivalFor(settings);
    }
    const CommandResult result = line.commands(request, reporter);
    printWhatTheHeadSaid(out, settings, result, reporter);
    return exitStatus(settings, reporter.first());
  }
  if (settings.portGiven && settings.directionGiven && settings.durationGiven) {
    out << "Brandeggio in movimento  " << std::endl;
    out << std::endl;  // before what the line reports
    MoveRequest request;
    request.port = portChoice(settings);
    request.frame = frames.front().bytes();
    // The stop for the receiver that moves, and no other: several heads
    // often share one line.
    request.stop = protocol.frame(settings.receiver(), HeadCommand::stop()).bytes();
    request.durationSeconds = settings.durationSeconds;
    line.move(request, reporter);
    return exitStatus(settings, reporter.first());
  }
  printMissing(out, settings, false);
  return exitStatus(settings, RunFailure::kCommandLine);
}

}  // namespace ptmove
