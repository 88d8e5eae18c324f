// The three fixed console reports: the banner shown without arguments, the
// help for -h, and the settings display for -d.
#ifndef PTMOVE_CLI_REPORTS_H_
#define PTMOVE_CLI_REPORTS_H_

#include <ostream>
#include <string>

#include "command_frame.h"
#include "move_settings.h"

namespace ptmove {

void printBanner(std::ostream& out, const std::string& programWord);

void printHelp(std::ostream& out, const std::string& programWord);

/// Shows the settings as parsed and the bytes of `frame`. Leaves the stream
/// in hexadecimal with fill '0' and ends without a line end: the caller
/// closes the line of frame bytes.
void printSettings(std::ostream& out, const MoveSettings& settings, const CommandFrame& frame);

/// A floating-point number as the stream's default notation shows it (six
/// significant digits, %g style), spelled the same by every C runtime.
std::string formatDefaultFloat(double value);
std::string formatDefaultFloat(float value);

}  // namespace ptmove

#endif  // PTMOVE_CLI_REPORTS_H_
