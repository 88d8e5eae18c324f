#include "line_messages.h"

#include "command_frame.h"

namespace ptmove {

namespace {

// What became of the stop frame: "the stop frames were sent".
const char* fate(bool stopped) {
  return stopped ? "the stop frames were sent" : "the stop frames could not be sent";
}

const char* roleName(FrameRole role) {
  switch (role) {
    case FrameRole::kMovement:
      return "movement frame";
    case FrameRole::kStop:
      return "stop frame";
    case FrameRole::kQuery:
      return "position query";
    case FrameRole::kCommand:
      break;
  }
  return "command frame";
}

}  // namespace

void ConsoleReporter::failed(const char* message, RunFailure failure, const std::string& why) {
  out_ << message << std::endl;
  diagnose(why);
  note(failure);
}

void ConsoleReporter::diagnose(const std::string& text) {
  diagnostics_ << "ptmove: " << text << std::endl;
}

void ConsoleReporter::note(RunFailure failure) {
  if (first_ == RunFailure::kNone) {
    first_ = failure;
  }
}

void ConsoleReporter::report(const LineEvent& event) {
  if (const auto* e = std::get_if<event::PortNotOpened>(&event)) {
    failed("Failed to open port", RunFailure::kPortNotOpened, e->why);
  } else if (const auto* e = std::get_if<event::TimeoutsNotSet>(&event)) {
    failed("SetCommTimeouts failed", RunFailure::kLineFailed, e->why);
  } else if (const auto* e = std::get_if<event::LineNotSet>(&event)) {
    failed("SetCommState failed", RunFailure::kLineFailed, e->why);
  } else if (const auto* e = std::get_if<event::SpeedNotApplied>(&event)) {
    diagnose(e->port + " is a raw TCP port, whose server's configuration sets the line: -br " +
             std::to_string(e->baudRate) +
             " is not applied (an rfc2217:// port lets ptmove set the speed)");
  } else if (const auto* e = std::get_if<event::GuardNotStarted>(&event)) {
    diagnose(e->why);
  } else if (const auto* e = std::get_if<event::FrameNotSent>(&event)) {
    failed(
        "WriteFile failed", RunFailure::kLineFailed,
        std::string(roleName(e->role)) + " " + hexBytes(e->frame) + " not sent whole: " + e->why);
  } else if (const auto* e = std::get_if<event::StopNotDrained>(&event)) {
    failed("WriteFile failed", RunFailure::kLineFailed,
           e->why + ": the stop frames were discarded");
  } else if (const auto* e = std::get_if<event::PortVanished>(&event)) {
    const std::string vanished = e->port + " vanished " + seconds(e->into) + " into the movement" +
                                 (e->asTheStopLeft ? ", as the stop frames left it" : "");
    if (!e->backAfter) {
      failed("WriteFile failed", RunFailure::kLineFailed,
             vanished + " and was not back within " + seconds(e->waitedFor) + " of the stop (" +
                 e->why + "); the stop frames could not be sent");
      return;
    }
    const char* sent = e->asTheStopLeft
                           ? (e->stopped ? "the stop frames were sent again"
                                         : "the stop frames could not be sent again whole")
                           : (e->stopped ? "the stop frames were sent"
                                         : "the stop frames could not be sent whole");
    diagnose(vanished + "; opened again " + seconds(*e->backAfter) + " later; " + sent);
  } else if (const auto* e = std::get_if<event::GuardDied>(&event)) {
    diagnose("the stop guard (process " + std::to_string(e->guardProcess) + ") died " +
             seconds(e->into) + " into the movement: the movement was ended at once; " +
             fate(e->stopped));
  } else if (const auto* e = std::get_if<event::NoReply>(&event)) {
    diagnose(std::string("no reply to the ") + (e->angle == Angle::kPan ? "pan" : "tilt") +
             " position query " + hexBytes(e->query) + " within " + seconds(e->within) + " on " +
             e->port + ": " +
             (e->arrived.empty() ? "nothing came" : "what came instead: " + hexBytes(e->arrived)));
  } else if (const auto* e = std::get_if<event::OutputDiscarded>(&event)) {
    failed("WriteFile failed", RunFailure::kLineFailed, e->why + ": the rest was discarded");
  } else if (const auto* e = std::get_if<event::Interrupted>(&event)) {
    diagnose("interrupted by " + e->by +
             (e->duringMovement ? std::string(" during the movement; ") + fate(e->stopped) : ""));
  } else if (const auto* e = std::get_if<event::LineStuck>(&event)) {
    if (e->writing) {
      failed("WriteFile failed", RunFailure::kLineFailed,
             "the port's driver cannot cancel a write that the line does not take: ending the "
             "program");
    } else {
      diagnose("the port's driver cannot cancel a read past its time: ending the program");
    }
  }
}

}  // namespace ptmove
