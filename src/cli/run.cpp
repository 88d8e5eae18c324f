#include "run.h"

#include "command_frame.h"
#include "move_settings.h"
#include "option_parser.h"
#include "reports.h"
#include "scan.h"

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
  if (settings.displayWanted) {
    printSettings(out, settings, frame);
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
