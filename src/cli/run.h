// The one pass every run makes: parse, build the frames in the protocol
// asked for, report, hand a complete movement, or one of the head's other
// commands, to the line, and say what came of it.
#ifndef PTMOVE_CLI_RUN_H_
#define PTMOVE_CLI_RUN_H_

#include <ostream>
#include <string>
#include <vector>

#include "line_events.h"
#include "transmission.h"

namespace ptmove {

/// What a run hands its movement or commands to.
class Line {
 public:
  virtual ~Line() = default;
  virtual void move(const MoveRequest& request, LineReporter& reporter) = 0;
  virtual CommandResult commands(const CommandRequest& request, LineReporter& reporter) = 0;
};

/// The line the program drives: the port's.
class PortLine final : public Line {
 public:
  void move(const MoveRequest& request, LineReporter& reporter) override {
    sendMove(request, reporter);
  }
  CommandResult commands(const CommandRequest& request, LineReporter& reporter) override {
    return sendCommands(request, reporter);
  }
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
               Line& line);

}  // namespace ptmove

#endif  // PTMOVE_CLI_RUN_H_
