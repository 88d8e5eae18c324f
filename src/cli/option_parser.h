// Walks the command-line arguments once and fills MoveSettings, printing a
// message for every refused value.
#ifndef PTMOVE_CLI_OPTION_PARSER_H_
#define PTMOVE_CLI_OPTION_PARSER_H_

#include <ostream>
#include <string>
#include <vector>

#include "move_settings.h"

namespace ptmove {

/// Parses args[1..] into `settings`. Returns false, after printing its
/// message, at the first word that is not an option; true otherwise.
bool parseCommandLine(const std::vector<std::string>& args, MoveSettings& settings,
                      std::ostream& out);

}  // namespace ptmove

#endif  // PTMOVE_CLI_OPTION_PARSER_H_
