// Keeps a command run under ptsim off the machine's real serial ports. Each
// COM number the command might name besides the simulated one is pointed
// (PTMOVE_COM<n>) at a trap: a FIFO in a private folder, one link per
// number, that ptsim holds locked. ptmove opens it, finds it taken and
// refuses the port ("Failed to open port") without a byte going anywhere;
// and ptsim, watching the folder, sees which number was asked for. Numbers
// from 1 to the highest of the machine's /dev/ttyS* (32 at least) and those
// the caller had set are trapped; a higher one leads to a /dev/ttyS* that
// does not exist. Linux only (inotify).
#ifndef PTMOVE_TOOLS_PTSIM_PORT_TRAPS_H_
#define PTMOVE_TOOLS_PTSIM_PORT_TRAPS_H_

#include <string>
#include <vector>

namespace ptmove {

class PortTraps {
 public:
  /// Sets the traps for every number but `simulated`, in this process's
  /// environment, for the command to inherit. When they cannot be set,
  /// error() says why.
  explicit PortTraps(int simulated);

  /// Takes the traps away.
  ~PortTraps();

  PortTraps(const PortTraps&) = delete;
  PortTraps& operator=(const PortTraps&) = delete;

  const std::string& error() const { return error_; }

  /// What to poll for reading to learn that a trap was opened; -1 when
  /// there are no traps.
  int watch() const { return watch_; }

  /// The COM numbers whose trap was opened since the last call.
  std::vector<int> sprung();

 private:
  std::string folder_;
  std::vector<std::string> links_;
  int fifo_ = -1;   // held open and locked: the trap's lock
  int watch_ = -1;  // inotify, on the folder
  std::string error_;
};

}  // namespace ptmove

#endif  // PTMOVE_TOOLS_PTSIM_PORT_TRAPS_H_
