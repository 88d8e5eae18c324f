// What both kinds of POSIX port do with their descriptor and the process's
// others: one wait on the port and a descriptor of the caller's, and a
// forked child's housekeeping.
#ifndef PTMOVE_PORT_DESCRIPTORS_POSIX_H_
#define PTMOVE_PORT_DESCRIPTORS_POSIX_H_

#include "port.h"

namespace ptmove {

/// Waits until `fd` reports one of `events` (or a hang-up or an error,
/// which poll always reports), `other` has something to read or hangs up,
/// the interrupt that `cancellation` lets in comes, or `until` passes. A
/// negative descriptor is not watched.
WatchEnd watchDescriptor(int fd, short events, Deadline until, Cancellation cancellation,
                         int other);

/// Closes every descriptor of the process but the three kept (negative
/// ones keep nothing).
void closeAllBut(int a, int b, int c);

}  // namespace ptmove

#endif  // PTMOVE_PORT_DESCRIPTORS_POSIX_H_
