// The one pass every run makes: parse, build the frame, report, and hand
// a complete movement to the serial transmission.
#ifndef PTMOVE_CLI_RUN_H_
#define PTMOVE_CLI_RUN_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "transmission.h"

namespace ptmove {

/// Carries out one movement; sendMove in the program, a recorder in tests.
using SendMoveFunction =
    std::function<void(std::ostream& out, std::ostream& diagnostics, const MoveRequest&)>;

/// Runs the program on `args` (args[0] is the program's name as invoked),
/// printing its fixed texts to `out` and, when a movement fails, why to
/// `diagnostics`. Returns the exit status, which is always 0.
int runProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& diagnostics,
               const SendMoveFunction& send);

}  // namespace ptmove

#endif  // PTMOVE_CLI_RUN_H_
