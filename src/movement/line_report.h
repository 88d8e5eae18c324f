// What a run tells of its line: the fixed failure messages on the console,
// named after the Windows calls that report them (scripts written for the
// Windows program read them, the same on every platform), one line on the
// diagnostic stream saying why, and the first failure the run met, which
// decides its exit status when the caller asks for one.
#ifndef PTMOVE_MOVEMENT_LINE_REPORT_H_
#define PTMOVE_MOVEMENT_LINE_REPORT_H_

#include <ostream>
#include <string>

#include "command_frame.h"
#include "port.h"

namespace ptmove {

/// What went wrong on the line, by kind.
enum class LineFailure {
  kNone,
  kPortNotOpened,  // "Failed to open port"
  kLineFailed,     // "SetCommTimeouts failed", "SetCommState failed", "WriteFile failed"
  kNotArrived,     // the head was not where it was sent in time
  kNoAnswer,       // the head did not answer its position queries
};

class LineReport {
 public:
  LineReport(std::ostream& out, std::ostream& diagnostics, LineFailure& first)
      : out_(out), diagnostics_(diagnostics), first_(first) {}

  /// The port could not be opened: its fixed message, and why.
  void portNotOpened(const std::string& why);

  /// The line failed: `message`, one of the fixed texts of kLineFailed,
  /// and why.
  void lineFailed(const char* message, const std::string& why);

  /// A failure that has no fixed message of its own here.
  void note(LineFailure failure);

  /// One line on the diagnostic stream, in the form command-line tools use.
  void diagnose(const std::string& text);

  std::ostream& out() { return out_; }
  LineFailure first() const { return first_; }

  /// The same record of failures, with its text going to other streams.
  LineReport to(std::ostream& out, std::ostream& diagnostics) const {
    return LineReport(out, diagnostics, first_);
  }

 private:
  std::ostream& out_;
  std::ostream& diagnostics_;
  LineFailure& first_;
};

/// Writes one frame by its bound; `cancellation` cuts short a write held up
/// by the line. A frame not written whole is reported as a failed write.
/// True when it went whole.
bool writeFrame(Port& port, const CommandFrame& frame, Cancellation cancellation,
                LineReport& report);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_LINE_REPORT_H_
