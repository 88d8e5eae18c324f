// What the program sets right at its start, so that the state its caller
// left it in cannot turn against a movement: closed standard descriptors,
// blocked interrupts, a reader that went away, a terminal that would stop
// a background job. Implemented once per platform.
#ifndef PTMOVE_CLI_STARTUP_H_
#define PTMOVE_CLI_STARTUP_H_

namespace ptmove {

/// On POSIX: opens /dev/null on each of descriptors 0 to 2 that is closed,
/// so that the port never takes one and no message reaches the line;
/// unblocks the interrupts the movement handles (an ignored one stays
/// ignored); ignores SIGPIPE, so that a reader that closed our output
/// cannot kill us between the movement frame and the stop frame; and holds
/// SIGTTOU off, so that no terminal call on a port that is the controlling
/// terminal of a background job stops the program. Nothing on Windows.
void prepareProcess();

/// Sets memory aside for the run's own needs, so that running out of it
/// ends the run with a line on standard error rather than an abort: the
/// first allocation that fails gets the reserve, the next throws
/// std::bad_alloc, which the program can still catch. Without memory even
/// for the reserve, says so and ends the process at once, with status 0.
void reserveMemory();

}  // namespace ptmove

#endif  // PTMOVE_CLI_STARTUP_H_
