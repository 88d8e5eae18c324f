// The system's own text for an error code (errno, GetLastError), for the
// diagnostics users read. Implemented once per platform.
#ifndef PTMOVE_SERIAL_SYSTEM_MESSAGE_H_
#define PTMOVE_SERIAL_SYSTEM_MESSAGE_H_

#include <string>

namespace ptmove {

/// "Permission denied", "Access is denied": one line, without a final
/// full stop.
std::string systemMessage(unsigned long error);

}  // namespace ptmove

#endif  // PTMOVE_SERIAL_SYSTEM_MESSAGE_H_
