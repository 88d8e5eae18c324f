// The one pass every run makes: parse, build the frames, report, and hand
// a complete movement, or one of the head's other commands, to the line.
#ifndef PTMOVE_CLI_RUN_H_
#define PTMOVE_CLI_RUN_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "transmission.h"

namespace ptmove {

/// What a run hands to the line: the transmission's functions in the
/// program, recorders in tests.
struct Line {
  std::function<LineFailure(std::ostream& out, std::ostream& diagnostics, const MoveRequest&)> move;
  std::function<CommandResult(std::ostream& out, std::ostream& diagnostics, const CommandRequest&)>
      commands;
};

/// The exit statuses that -e asks for, sysexits.h's numbers.
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 64,        // the command line: a word or value refused, a parameter missing
  kExitUnavailable = 69,  // the port could not be opened
  kExitIoError = 74,      // the line failed
  kExitTempFail = 75,     // the head did not arrive in time
  kExitProtocol = 76,     // the head did not answer
};

/// Runs the program on `args` (args[0] is the program's name as invoked),
/// printing its fixed texts to `out` and, when the line fails, why to
/// `diagnostics`. Returns the exit status: 0, or with -e the first failure
/// the run met.
int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& diagnostics,
               const Line& line);

}  // namespace ptmove

#endif  // PTMOVE_CLI_RUN_H_
