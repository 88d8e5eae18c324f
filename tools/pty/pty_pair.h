// A pseudo-terminal standing in for a serial port: the program under test
// or under ptsim opens the slave by its path, as it would a serial device,
// and the other side reads what it wrote from the master. Shared by ptsim
// and the tests.
#ifndef PTMOVE_TOOLS_PTY_PTY_PAIR_H_
#define PTMOVE_TOOLS_PTY_PTY_PAIR_H_

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ptmove {

class PtyPair {
 public:
  /// Opens a pair; valid() tells whether it worked, error() why not.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool valid() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& error() const { return error_; }

  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }
  int slave() const { return slave_; }

  /// Everything the slave side has written so far (non-blocking).
  std::vector<std::uint8_t> readAvailable();

  /// The line settings the slave side holds now.
  termios slaveSettings() const;

  /// Closes the master: the port vanishes for whoever has the slave open.
  void closeMaster();

  /// Hangs the slave up, as the kernel does to a USB adapter's terminal when
  /// the adapter is unplugged: whoever has it open can no longer use it
  /// (writes fail with EIO). Needs CAP_SYS_ADMIN; false without it.
  bool hangUp();

  /// Suspends the slave's output as another holder of the line can
  /// (tcflow TCOOFF): writes to the port then wait for room that never comes.
  void suspendOutput();

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open, so settings and data outlive the program
  std::string slavePath_;
  std::string error_;
};

}  // namespace ptmove

#endif  // PTMOVE_TOOLS_PTY_PTY_PAIR_H_
