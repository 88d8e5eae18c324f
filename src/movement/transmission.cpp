#include "transmission.h"

#include <algorithm>
#include <memory>
#include <new>

#include "interrupts.h"
#include "port.h"
#include "stop_delivery.h"
#include "stop_guard.h"
#include "wait.h"

namespace ptmove {

namespace {

// Events held back until the stop frame is out and the interrupts are let
// in again: a reader that takes nothing then holds up nothing that
// matters, and an interrupt still ends the program.
class HeldEvents final : public LineReporter {
 public:
  void report(const LineEvent& event) override { events_.push_back(event); }

  void tellTo(LineReporter& reporter) const {
    for (const LineEvent& event : events_) {
      reporter.report(event);
    }
  }

 private:
  std::vector<LineEvent> events_;
};

// Opens the port and sets it up, each failure reported; nullptr when it
// cannot be opened.
std::unique_ptr<Port> openPort(const PortChoice& choice, LineReporter& reporter) {
  std::unique_ptr<Port> port = makePort(choice.number, choice.address);
  if (!port->open(choice.number)) {
    reporter.report(event::PortNotOpened{port->error()});
    return nullptr;
  }
  if (!port->applyTimeouts()) {
    reporter.report(event::TimeoutsNotSet{port->error()});
  }
  if (!port->applyLineSettings(choice.baudRate)) {
    reporter.report(event::LineNotSet{port->error()});
  }
  if (choice.speedGiven && !port->setsLineSpeed()) {
    reporter.report(event::SpeedNotApplied{port->name(), choice.baudRate});
  }
  // A port that must end the process has its last words told at once.
  port->whenStuck([&reporter](bool writing) { reporter.report(event::LineStuck{writing}); });
  return port;
}

// Waits out the movement's time. A port whose device vanishes meanwhile is
// let go at once, and the wait goes on; an interrupt or the guard's end
// ends it at once.
WaitEnd waitOutTheMovement(Port& port, const Interrupts& interrupts, StopGuard& guard,
                           Deadline deadline) {
  for (;;) {
    WaitWatch watch;
    watch.interrupts = interrupts.cancellation();
    watch.port = port.isLetGo() ? nullptr : &port;
    watch.guardEnd = guard.endHandle();
    const WaitEnd end = waitUntil(deadline, watch);
    if (end == WaitEnd::kGuardEnded && !guard.ended()) {
      continue;  // an answer that came late
    }
    if (end != WaitEnd::kPortHungUp) {
      return end;
    }
    port.letGo();
  }
}

// Sends the stop frame and waits for it to leave, and reports what kept it
// from leaving and how a port that vanished came through. True when it
// left whole.
bool stopTheHead(Port& port, const Bytes& stop, Clock::time_point moved, LineReporter& reporter) {
  const StopDelivery delivery = deliverStop(port, stop);
  if (delivery.result == StopResult::kNotSent) {
    reporter.report(event::FrameNotSent{FrameRole::kStop, stop, delivery.error});
  }
  if (delivery.result == StopResult::kNotDrained) {
    reporter.report(event::StopNotDrained{delivery.error});
  }
  const bool stopped = delivery.result == StopResult::kSent;
  if (delivery.loss) {
    const PortLoss& loss = *delivery.loss;
    event::PortVanished vanished;
    vanished.port = port.name();
    vanished.into = loss.at - moved;
    vanished.asTheStopLeft = loss.asTheStopLeft;
    vanished.stopped = stopped;
    if (delivery.result == StopResult::kPortNotBack) {
      vanished.waitedFor = kReopenFor;
      vanished.why = delivery.error;
    } else {
      vanished.backAfter = *loss.reopened - loss.at;
    }
    reporter.report(vanished);
  }
  return stopped;
}

// Lets the interrupts in again after the commands; an interrupt that came
// is told and ends the process as it would have.
void endIfInterrupted(Interrupts& interrupts, LineReporter& reporter) {
  interrupts.release();
  if (interrupts.interrupted()) {
    reporter.report(event::Interrupted{interrupts.name(), false, false});
    interrupts.endProcessIfInterrupted();
  }
}

}  // namespace

void sendMove(const MoveRequest& request, LineReporter& reporter) {
  const std::unique_ptr<Port> port = openPort(request.port, reporter);
  if (!port) {
    return;
  }

  // From the movement frame on, the head must be stopped whatever happens:
  // an interrupt is caught and ends the wait (or a write held up by the
  // line) instead of the program, and the guard sends the stop frame if
  // this process dies. The guard starts last, right before the frame:
  // after a fork every page this process writes is copied, and the fewer
  // the sooner the frame.
  Interrupts interrupts;
  StopGuard guard(*port, request.stop);
  if (!guard.watching()) {
    reporter.report(event::GuardNotStarted{guard.error()});
  }
  HeldEvents held;
  bool stopped = false;
  try {
    const Clock::time_point moved = Clock::now();
    writeFrame(*port, request.frame, FrameRole::kMovement, interrupts.cancellation(), held);
    const WaitEnd end =
        waitOutTheMovement(*port, interrupts, guard,
                           Deadline::afterMilliseconds(waitMilliseconds(request.durationSeconds)));
    // The stop frame, whole, whatever became of the movement frame or the
    // port: a partial or skipped stop would leave the head moving.
    stopped = stopTheHead(*port, request.stop, moved, held);
    if (end == WaitEnd::kGuardEnded) {
      held.report(event::GuardDied{guard.processId(), Clock::now() - moved, stopped});
    }
  } catch (const std::bad_alloc&) {
    guard.abandon();  // the guard sends the stop frame, with its own memory
    throw;
  }
  guard.dismiss();
  port->close();
  interrupts.release();
  held.tellTo(reporter);
  if (interrupts.interrupted()) {
    reporter.report(event::Interrupted{interrupts.name(), true, stopped});
  }
  interrupts.endProcessIfInterrupted();
}

CommandResult sendCommands(const CommandRequest& request, LineReporter& reporter) {
  CommandResult result;
  const std::unique_ptr<Port> port = openPort(request.port, reporter);
  if (!port) {
    return result;
  }
  // An interrupt ends a write held up by the line, the wait for a reply or
  // for the head to arrive, at once; the run then ends as that interrupt
  // would have.
  Interrupts interrupts;
  for (const Bytes& frame : request.frames) {
    if (interrupts.interrupted()) {
      break;
    }
    writeFrame(*port, frame, FrameRole::kCommand, interrupts.cancellation(), reporter);
  }
  if (request.questions && !interrupts.interrupted()) {
    PositionQueries queries(*port, interrupts, *request.questions, reporter);
    if (request.readsPosition) {
      // Both axes are asked even when the pan goes unanswered: each gets
      // its report.
      std::optional<std::uint16_t> angles[2];
      for (Angle angle : {Angle::kPan, Angle::kTilt}) {
        std::optional<std::uint16_t>& answer = angles[angle == Angle::kPan ? 0 : 1];
        answer = queries.ask(angle);
        if (interrupts.interrupted()) {
          break;
        }
        if (queries.unanswered()) {
          reporter.report(*queries.unanswered());
        }
      }
      if (angles[0] && angles[1]) {
        result.position = Position{*angles[0], *angles[1]};
      }
    }
    if (request.arrival && !interrupts.interrupted()) {
      const ArrivalWait wait = awaitArrival(queries, *request.arrival, interrupts);
      result.arrived = wait.arrived;
      result.position = wait.last;
      if (!wait.last && queries.unanswered() && !interrupts.interrupted()) {
        reporter.report(*queries.unanswered());
      }
    }
  }
  std::size_t bytes = 0;
  for (const Bytes& frame : request.frames) {
    bytes = std::max(bytes, frame.size());
  }
  if (request.questions) {
    bytes = std::max(
        {bytes, request.questions->pan.bytes.size(), request.questions->tilt.bytes.size()});
  }
  if (!port->drain(Deadline::after(port->limitFor(2 * bytes)))) {
    reporter.report(event::OutputDiscarded{port->error()});
  }
  port->close();
  endIfInterrupted(interrupts, reporter);
  return result;
}

}  // namespace ptmove
