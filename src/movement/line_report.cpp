#include "line_report.h"

namespace ptmove {

void LineReport::portNotOpened(const std::string& why) {
  out_ << "Failed to open port" << std::endl;
  diagnose(why);
  note(LineFailure::kPortNotOpened);
}

void LineReport::lineFailed(const char* message, const std::string& why) {
  out_ << message << std::endl;
  diagnose(why);
  note(LineFailure::kLineFailed);
}

void LineReport::note(LineFailure failure) {
  if (first_ == LineFailure::kNone) {
    first_ = failure;
  }
}

void LineReport::diagnose(const std::string& text) {
  diagnostics_ << "ptmove: " << text << std::endl;
}

bool writeFrame(Port& port, const CommandFrame& frame, Cancellation cancellation,
                LineReport& report) {
  if (port.write(frame.data(), frame.size(), Deadline::after(port.limitFor(frame.size())),
                 cancellation, Port::OnError::kGiveUp) == frame.size()) {
    return true;
  }
  report.lineFailed("WriteFile failed",
                    "movement frame " + hexBytes(frame) + " not sent whole: " + port.error());
  return false;
}

}  // namespace ptmove
