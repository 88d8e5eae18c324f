#include "transmission.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>

#include "interrupts.h"
#include "port.h"
#include "serial_port.h"
#include "stop_delivery.h"
#include "stop_guard.h"
#include "wait.h"

namespace ptmove {

namespace {

// Opens the port and sets it up, each failure reported; nullptr when it
// cannot be opened.
std::unique_ptr<Port> openPort(LineReport& report, std::int32_t portNumber, std::int32_t baudRate) {
  std::unique_ptr<Port> port = makePort();
  if (!port->open(portNumber)) {
    report.portNotOpened(port->error());
    return nullptr;
  }
  if (!port->applyTimeouts()) {
    report.lineFailed("SetCommTimeouts failed", port->error());
  }
  if (!port->applyLineSettings(baudRate)) {
    report.lineFailed("SetCommState failed", port->error());
  }
  return port;
}

// Waits out the movement's time. A port whose device vanishes meanwhile is
// let go at once, and the wait goes on; an interrupt or the guard's end
// ends it at once.
WaitEnd waitOutTheMovement(Port& port, const Interrupts& interrupts, const StopGuard& guard,
                           Deadline deadline) {
  for (;;) {
    WaitWatch watch;
    watch.interrupts = interrupts.cancellation();
    watch.port = port.isLetGo() ? nullptr : &port;
    watch.guardEnd = guard.endHandle();
    const WaitEnd end = waitUntil(deadline, watch);
    if (end != WaitEnd::kPortHungUp) {
      return end;
    }
    port.letGo();
  }
}

// What became of the stop frame, for the diagnostics: "were sent".
const char* fate(bool stopped) {
  return stopped ? "the stop frames were sent" : "the stop frames could not be sent";
}

// Sends the stop frame and waits for it to leave, a frame the port did not
// take reported as writeFrame does, and says how a port that vanished came
// through. True when it left whole.
bool stopTheHead(Port& port, const CommandFrame& stop, Clock::time_point moved,
                 LineReport& report) {
  const StopDelivery delivery = deliverStop(port, stop);
  if (delivery.result == StopResult::kNotSent) {
    report.lineFailed("WriteFile failed",
                      "stop frame " + hexBytes(stop) + " not sent whole: " + delivery.error);
  }
  if (delivery.result == StopResult::kNotDrained) {
    report.lineFailed("WriteFile failed", delivery.error + ": the stop frames were discarded");
  }
  const bool stopped = delivery.result == StopResult::kSent;
  if (!delivery.loss) {
    return stopped;
  }
  const PortLoss& loss = *delivery.loss;
  const std::string vanished = port.name() + " vanished " + seconds(loss.at - moved) +
                               " into the movement" +
                               (loss.asTheStopLeft ? ", as the stop frames left it" : "");
  if (delivery.result == StopResult::kPortNotBack) {
    report.lineFailed("WriteFile failed", vanished + " and was not back within " +
                                              seconds(kReopenFor) + " of the stop (" +
                                              delivery.error +
                                              "); the stop frames could not be sent");
    return false;
  }
  const std::string sent =
      loss.asTheStopLeft
          ? (stopped ? "the stop frames were sent again"
                     : "the stop frames could not be sent again whole")
          : (stopped ? "the stop frames were sent" : "the stop frames could not be sent whole");
  report.diagnose(vanished + "; opened again " + seconds(*loss.reopened - loss.at) + " later; " +
                  sent);
  return stopped;
}

// Lets the interrupts in again after the commands; an interrupt that came
// is told and ends the process as it would have.
void endIfInterrupted(Interrupts& interrupts, LineReport& report) {
  interrupts.release();
  if (interrupts.interrupted()) {
    report.diagnose("interrupted by " + interrupts.name());
    interrupts.endProcessIfInterrupted();
  }
}

}  // namespace

LineFailure sendMove(std::ostream& out, std::ostream& diagnostics, const MoveRequest& request) {
  LineFailure first = LineFailure::kNone;
  LineReport report(out, diagnostics, first);
  out << std::endl;  // the empty line after "Brandeggio in movimento"
  const std::unique_ptr<Port> port = openPort(report, request.portNumber, request.baudRate);
  if (!port) {
    return first;
  }

  // From the movement frame on, the head must be stopped whatever happens:
  // an interrupt is caught and ends the wait (or a write held up by the
  // line) instead of the program, and the guard sends the stop frame if
  // this process dies. The guard starts last, right before the frame:
  // after a fork every page this process writes is copied, and the fewer
  // the sooner the frame.
  const CommandFrame stop = stopFrameFor(request.frame[1]);
  Interrupts interrupts;
  StopGuard guard(*port, stop);
  if (!guard.watching()) {
    report.diagnose(guard.error());
  }
  // Console text from here on waits until the stop frame is out and the
  // interrupts are let in again: a reader that takes nothing then holds up
  // nothing that matters, and an interrupt still ends the program.
  std::ostringstream heldOut;
  std::ostringstream heldDiagnostics;
  LineReport held = report.to(heldOut, heldDiagnostics);
  bool stopped = false;
  try {
    const Clock::time_point moved = Clock::now();
    writeFrame(*port, request.frame, interrupts.cancellation(), held);
    const WaitEnd end =
        waitOutTheMovement(*port, interrupts, guard,
                           Deadline::afterMilliseconds(waitMilliseconds(request.durationSeconds)));
    // The stop frame, whole, whatever became of the movement frame or the
    // port: a partial or skipped stop would leave the head moving.
    stopped = stopTheHead(*port, stop, moved, held);
    if (end == WaitEnd::kGuardEnded) {
      held.diagnose(guard.describe() + " died " + seconds(Clock::now() - moved) +
                    " into the movement: the movement was ended at once; " + fate(stopped));
    }
  } catch (const std::bad_alloc&) {
    guard.abandon();  // the guard sends the stop frame, with its own memory
    throw;
  }
  guard.dismiss();
  port->close();
  interrupts.release();
  out << heldOut.str() << std::flush;
  diagnostics << heldDiagnostics.str() << std::flush;
  if (interrupts.interrupted()) {
    report.diagnose("interrupted by " + interrupts.name() + " during the movement; " +
                    fate(stopped));
  }
  interrupts.endProcessIfInterrupted();
  return first;
}

CommandResult sendCommands(std::ostream& out, std::ostream& diagnostics,
                           const CommandRequest& request) {
  CommandResult result;
  LineReport report(out, diagnostics, result.failure);
  out << std::endl;  // the empty line after the action's own
  const std::unique_ptr<Port> port = openPort(report, request.portNumber, request.baudRate);
  if (!port) {
    return result;
  }
  // An interrupt ends a write held up by the line, the wait for a reply or
  // for the head to arrive, at once; the run then ends as that interrupt
  // would have.
  Interrupts interrupts;
  PositionQueries queries(*port, interrupts, request.address, report);
  if (request.readsPosition) {
    // Both axes are asked even when the pan goes unanswered: each gets its
    // diagnostic.
    std::optional<std::uint16_t> angles[2];
    for (Axis axis : {Axis::kPan, Axis::kTilt}) {
      std::optional<std::uint16_t>& angle = angles[axis == Axis::kPan ? 0 : 1];
      angle = queries.ask(axis);
      if (interrupts.interrupted()) {
        break;
      }
      if (!angle && !queries.sendFailed()) {
        report.diagnose(queries.unanswered());
      }
    }
    if (angles[0] && angles[1]) {
      result.position = Position{*angles[0], *angles[1]};
    }
  } else {
    for (const CommandFrame& frame : request.frames) {
      if (interrupts.interrupted()) {
        break;
      }
      writeFrame(*port, frame, interrupts.cancellation(), report);
    }
  }
  if (request.arrival && !interrupts.interrupted()) {
    const ArrivalWait wait = awaitArrival(queries, *request.arrival, interrupts);
    result.arrived = wait.arrived;
    result.position = wait.last;
    if (!wait.last && !queries.unanswered().empty() && !interrupts.interrupted()) {
      report.diagnose(queries.unanswered());
    }
  }
  const std::size_t frames = std::max<std::size_t>(request.frames.size(), 2);
  if (!port->drain(Deadline::after(port->limitFor(frames * kFrameSize)))) {
    report.lineFailed("WriteFile failed", port->error() + ": the rest was discarded");
  }
  port->close();
  endIfInterrupted(interrupts, report);
  if (request.arrival && !result.arrived) {
    report.note(result.position ? LineFailure::kNotArrived : LineFailure::kNoAnswer);
  }
  if (request.readsPosition && !result.position) {
    report.note(LineFailure::kNoAnswer);
  }
  return result;
}

}  // namespace ptmove
