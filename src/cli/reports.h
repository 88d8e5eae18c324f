// The three fixed console reports: the banner shown without arguments, the
// help for -h, and the settings display for -d.
#ifndef PTMOVE_CLI_REPORTS_H_
#define PTMOVE_CLI_REPORTS_H_

#include <ostream>
#include <string>
#include <vector>

#include "command_frame.h"
#include "move_settings.h"

namespace ptmove {

void printBanner(std::ostream& out, const std::string& programWord);

void printHelp(std::ostream& out, const std::string& programWord);

/// Shows the settings as parsed and the bytes of `frames`, the frames the
/// run sends: for a movement its direction, time and frame; for another
/// action what it is and each of its frames on a line of its own. Leaves
/// the stream in hexadecimal with fill '0' and ends without a line end: the
/// caller closes the last line of frame bytes.
void printSettings(std::ostream& out, const MoveSettings& settings,
                   const std::vector<CommandFrame>& frames);

/// A floating-point number as the stream's default notation shows it (six
/// significant digits, %g style), spelled the same by every C runtime.
std::string formatDefaultFloat(double value);
std::string formatDefaultFloat(float value);

}  // namespace ptmove

#endif  // PTMOVE_CLI_REPORTS_H_
