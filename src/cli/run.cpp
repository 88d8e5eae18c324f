#include "cli/run.h"

#include "cli/move_settings.h"
#include "cli/option_parser.h"
#include "cli/reports.h"
#include "cli/scan.h"
#include "protocol/command_frame.h"

namespace ptmove {

namespace {

void printMissing(std::ostream& out, const MoveSettings& settings) {
  out << "ATTENZIONE, non hai impostato i seguenti parametri" << std::endl;
  if (!settings.portGiven) {
    out << " - Non hai selezionato la porta seriale" << std::endl;
  }
  if (!settings.directionGiven) {
    out << " - Non hai selezionato la direzione di movimento" << std::endl;
  }
  if (!settings.durationGiven) {
    out << " - Non hai impostato il tempo di movimento" << std::endl;
  }
}

}  // namespace

int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& diagnostics,
               const SendMoveFunction& send) {
  MoveSettings settings;
  if (!args.empty()) {
    scanWord(args[0], settings.programWord);
  }
  if (args.size() < 2) {
    printBanner(out, settings.programWord);
  } else if (!parseCommandLine(args, settings, out)) {
    return 0;
  }

  const CommandFrame frame = buildMoveFrame(settings.frameInputs());
  if (settings.displayWanted) {
    printSettings(out, settings, frame);
  }
  out << std::endl;

  if (settings.helpWanted) {
    printHelp(out, settings.programWord);
    return 0;
  }
  if (!settings.lastValueOk) {
    return 0;
  }
  if (settings.portGiven && settings.directionGiven && settings.durationGiven) {
    out << "Brandeggio in movimento  " << std::endl;
    send(out, diagnostics,
         MoveRequest{settings.portNumber, settings.baudRate, frame, settings.durationSeconds});
    return 0;
  }
  printMissing(out, settings);
  return 0;
}

}  // namespace ptmove
