#include "line_events.h"

namespace ptmove {

bool writeFrame(Port& port, const Bytes& frame, FrameRole role, Cancellation cancellation,
                LineReporter& reporter) {
  if (port.write(frame.data(), frame.size(), Deadline::after(port.limitFor(frame.size())),
                 cancellation, Port::OnError::kGiveUp) == frame.size()) {
    return true;
  }
  reporter.report(event::FrameNotSent{role, frame, port.error()});
  return false;
}

}  // namespace ptmove
