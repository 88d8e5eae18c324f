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
  std::function<void(std::ostream& out, std::ostream& diagnostics, const MoveRequest&)> move;
  std::function<void(std::ostream& out, std::ostream& diagnostics, const CommandRequest&)> commands;
};

/// Runs the program on `args` (args[0] is the program's name as invoked),
/// printing its fixed texts to `out` and, when the line fails, why to
/// `diagnostics`. Returns the exit status, which is always 0.
int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& diagnostics,
               const Line& line);

}  // namespace ptmove

#endif  // PTMOVE_CLI_RUN_H_
