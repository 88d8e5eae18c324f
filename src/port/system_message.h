// The system's own words, for the diagnostics users read: the text of an
// error code (errno, GetLastError), and the name of an interrupt.
#ifndef PTMOVE_SERIAL_SYSTEM_MESSAGE_H_
#define PTMOVE_SERIAL_SYSTEM_MESSAGE_H_

#include <string>

#include "port.h"

namespace ptmove {

/// "Permission denied", "Access is denied": one line, without a final
/// full stop.
std::string systemMessage(unsigned long error);

/// The interrupt `code` stands for, as users know it: "SIGTERM" (POSIX,
/// where it is a signal number), "Ctrl+C" (Windows, a console control
/// event + 1); "" for 0.
std::string interruptName(InterruptCode code);

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_SYSTEM_MESSAGE_H_
