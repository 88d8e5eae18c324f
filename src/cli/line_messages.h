// What happened on the line, as the console says it: the fixed texts that
// scripts read, named after the Windows calls that report them and the
// same on every platform, and one line on standard error for each failure
// saying why and what to do; and the first failure the run met, which
// becomes the exit status with -e.
#ifndef PTMOVE_CLI_LINE_MESSAGES_H_
#define PTMOVE_CLI_LINE_MESSAGES_H_

#include <ostream>

#include "line_events.h"

namespace ptmove {

/// What went wrong in a run, by kind; the first decides the exit status.
enum class RunFailure {
  kNone,
  kCommandLine,    // a word or value refused, a parameter missing
  kPortNotOpened,  // "Failed to open port"
  kLineFailed,     // "SetCommTimeouts failed", "SetCommState failed", "WriteFile failed"
  kNotArrived,     // the head was not where it was sent in time
  kNoAnswer,       // the head did not answer its position queries
};

class ConsoleReporter final : public LineReporter {
 public:
  ConsoleReporter(std::ostream& out, std::ostream& diagnostics)
      : out_(out), diagnostics_(diagnostics) {}

  void report(const LineEvent& event) override;

  /// A failure that the line does not report itself.
  void note(RunFailure failure);

  RunFailure first() const { return first_; }

 private:
  void failed(const char* message, RunFailure failure, const std::string& why);
  void diagnose(const std::string& text);

  std::ostream& out_;
  std::ostream& diagnostics_;
  RunFailure first_ = RunFailure::kNone;
};

}  // namespace ptmove

#endif  // PTMOVE_CLI_LINE_MESSAGES_H_
