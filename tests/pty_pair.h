// A pseudo-terminal standing in for a serial port in tests: the program
// under test opens the slave by its path; the test reads the master.
#ifndef PTMOVE_TESTS_PTY_PAIR_H_
#define PTMOVE_TESTS_PTY_PAIR_H_

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ptmove::testsupport {

class PtyPair {
 public:
  PtyPair();  // aborts the test binary when no pseudo-terminal can be had
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }

  /// Everything the slave side has written so far (non-blocking).
  std::vector<std::uint8_t> readAvailable();

  /// The line settings the slave side holds now.
  termios slaveSettings() const;

  /// Closes the master: the port vanishes for whoever has the slave open.
  void closeMaster();

  /// Suspends the slave's output as another holder of the line can
  /// (tcflow TCOOFF): writes to the port then wait for room that never comes.
  void suspendOutput();

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so settings and data outlive the program
  std::string slavePath_;
};

}  // namespace ptmove::testsupport

#endif  // PTMOVE_TESTS_PTY_PAIR_H_
