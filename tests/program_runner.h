// Runs the ptmove program as a separate process, capturing its standard
// output and, through a pseudo-terminal bound to a COM number, every byte it
// puts on the wire with the time it arrived. Which program runs, and how a
// COM number is bound to a device, come from the environment, so that the
// same end-to-end suite can run any build of the program.
#ifndef PTMOVE_TESTS_PROGRAM_RUNNER_H_
#define PTMOVE_TESTS_PROGRAM_RUNNER_H_

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "pty_pair.h"

namespace ptmove::testsupport {

struct ProgramRun {
  std::string out;
  std::string err;
  int exitStatus = -1;  // the exit code, or 128 + the signal that ended it
  bool timedOut = false;
  double endSeconds = 0.0;  // when it had ended and closed its output
  std::vector<std::uint8_t> wire;
  std::vector<double> wireSeconds;  // arrival of each wire byte after the start
};

struct PortBinding {
  int comNumber;
  std::string devicePath;
};

/// Something done to the running program `atSeconds` after its start.
struct TimedAction {
  double atSeconds;
  std::function<void(pid_t)> action;
};

struct RunOptions {
  std::vector<PortBinding> ports;
  PtyPair* wire = nullptr;  // read throughout the run when given
  // Bytes the wire should carry in the end: after the program has ended,
  // its wire is read until they came (a stop guard may still be sending),
  // for a few seconds at most.
  std::size_t wireBytes = 0;
  std::vector<TimedAction> actions;
  // When given, called with the whole wire so far each time more of it
  // came; what it returns is written back to the program (a head's reply).
  std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>& wire)> answer;
  // Words run in its place, with the program's own words after them: a
  // program that runs it (ptsim, a shell).
  std::vector<std::string> wrapper;
  std::vector<int> ignoredSignals;     // ignored from the start, as nohup does
  std::vector<int> blockedSignals;     // blocked in the mask it inherits
  std::vector<int> closedDescriptors;  // closed when it starts (2 for 2>&-)
  // Standard output non-blocking, on a pipe of one page, so that writes
  // meet EAGAIN while the reader is behind: it starts reading only after
  // outputReadDelay seconds.
  bool nonBlockingOutput = false;
  double outputReadDelay = 0.0;
  // When 0 or more: standard output is a pipe of one page with only this
  // much room left, which nobody reads (`out` stays empty).
  int outputRoom = -1;
  // Run as a background job of a session whose controlling terminal is the
  // first port's device.
  bool backgroundJobOnPort = false;
  // Run as the unprivileged user nobody when the tests run as root.
  bool unprivileged = false;
  // When not 0, the bytes of address space it may have (RLIMIT_AS).
  std::size_t addressSpace = 0;
  double timeoutSeconds = 30.0;
};

/// A free TCP port on the loopback address, for a server a test starts;
/// 0 when none could be found.
int freeLoopbackPort();

/// Waits, `seconds` at most, until no process but this one has `path` open.
/// A stop guard may still be at work on a line after the program died, and
/// a line that closes under it looks like an unplugged adapter: it opens
/// the device again by its name, whichever test has been given it by then.
void awaitSoleHolder(const std::string& path, double seconds);

class ProgramUnderTest {
 public:
  ProgramUnderTest() = default;
  ProgramUnderTest(std::vector<std::string> launcher, std::string program,
                   std::string winePrefix = "")
      : launcher_(std::move(launcher)),
        program_(std::move(program)),
        winePrefix_(std::move(winePrefix)) {}

  /// PTMOVE_E2E_PROGRAM names the program; PTMOVE_E2E_LAUNCHER, when set,
  /// holds words placed before it (wine, say). PTMOVE_E2E_WINEPREFIX, when
  /// set, names the Wine prefix the program runs in: COM<n> is then bound
  /// through the prefix's dosdevices/com<n> link, and CRLF line ends are
  /// read as LF.
  static ProgramUnderTest fromEnvironment();

  bool valid() const { return !program_.empty(); }
  bool underWine() const { return !winePrefix_.empty(); }

  ProgramRun run(const std::vector<std::string>& args, const RunOptions& options = {}) const;

  /// The name the program gives itself in its banner and help.
  std::string programWord() const;

 private:
  void bindPorts(const std::vector<PortBinding>& ports,
                 std::vector<std::string>& environment) const;

  std::vector<std::string> launcher_;
  std::string program_;
  std::string winePrefix_;
};

}  // namespace ptmove::testsupport

#endif  // PTMOVE_TESTS_PROGRAM_RUNNER_H_
