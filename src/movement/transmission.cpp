#include "transmission.h"

#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>

#include "frame_decoder.h"
#include "interrupts.h"
#include "port.h"
#include "serial_port.h"
#include "stop_delivery.h"
#include "stop_guard.h"
#include "wait.h"

namespace ptmove {

namespace {

// One line on the diagnostic stream, in the form command-line tools use.
void diagnose(std::ostream& diagnostics, const std::string& text) {
  diagnostics << "ptmove: " << text << std::endl;
}

// Where the program's console text goes: its fixed messages, named after
// the Windows calls that report them (scripts written for the Windows
// program read them, the same on every platform), and the reasons.
struct Console {
  std::ostream& out;
  std::ostream& diagnostics;
};

// Opens the port and sets it up, each failure reported; nullptr when it
// cannot be opened.
std::unique_ptr<Port> openPort(const Console& console, std::int32_t portNumber,
                               std::int32_t baudRate) {
  std::unique_ptr<Port> port = makePort();
  if (!port->open(portNumber)) {
    console.out << "Failed to open port" << std::endl;
    diagnose(console.diagnostics, port->error());
    return nullptr;
  }
  if (!port->applyTimeouts()) {
    console.out << "SetCommTimeouts failed" << std::endl;
    diagnose(console.diagnostics, port->error());
  }
  if (!port->applyLineSettings(baudRate)) {
    console.out << "SetCommState failed" << std::endl;
    diagnose(console.diagnostics, port->error());
  }
  return port;
}

// Writes one frame by its bound; an interrupt cuts short a write held up by
// the line. A frame not written whole gets the fixed message and a
// diagnostic line.
void writeFrame(Port& port, const CommandFrame& frame, const Interrupts& interrupts,
                const Console& console) {
  if (port.write(frame.data(), frame.size(), Deadline::after(port.limitFor(frame.size())),
                 interrupts.cancellation(), Port::OnError::kGiveUp) == frame.size()) {
    return;
  }
  console.out << "WriteFile failed" << std::endl;
  diagnose(console.diagnostics,
           "movement frame " + hexBytes(frame) + " not sent whole: " + port.error());
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

// What became of the stop frames, for the diagnostics: "were sent".
const char* fate(bool stopped) {
  return stopped ? "the stop frames were sent" : "the stop frames could not be sent";
}

// Sends the stop frames and waits for them to leave, each frame the port
// did not take reported as writeFrame does, and says how a port that
// vanished came through. True when they left whole.
bool stopTheHead(Port& port, const StopFrames& stops, Clock::time_point moved,
                 const Console& console) {
  const StopDelivery delivery =
      deliverStops(port, stops, [&](const CommandFrame& frame, const std::string& why) {
        console.out << "WriteFile failed" << std::endl;
        diagnose(console.diagnostics, "stop frame " + hexBytes(frame) + " not sent whole: " + why);
      });
  if (delivery.result == StopResult::kNotDrained) {
    console.out << "WriteFile failed" << std::endl;
    diagnose(console.diagnostics, delivery.error + ": the stop frames were discarded");
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
    console.out << "WriteFile failed" << std::endl;
    diagnose(console.diagnostics, vanished + " and was not back within " + seconds(kReopenFor) +
                                      " of the stop (" + delivery.error +
                                      "); the stop frames could not be sent");
    return false;
  }
  const std::string sent =
      loss.asTheStopLeft
          ? (stopped ? "the stop frames were sent again"
                     : "the stop frames could not be sent again whole")
          : (stopped ? "the stop frames were sent" : "the stop frames could not be sent whole");
  diagnose(console.diagnostics,
           vanished + "; opened again " + seconds(*loss.reopened - loss.at) + " later; " + sent);
  return stopped;
}

// Reads the head's replies to the position queries, skipping whatever else
// the line carries: general responses, the echo of a query on a 2-wire
// line, other receivers' replies, broken frames. A reply may come in
// pieces, and with the next one.
class ReplyReader {
 public:
  ReplyReader(Port& port, const Interrupts& interrupts) : port_(port), interrupts_(interrupts) {}

  /// The angle in hundredths of a degree that receiver `address` gives for
  /// `axis` within kReplyWithin, or nothing. `arrived` collects the bytes
  /// read meanwhile, for the diagnostic.
  std::optional<std::uint16_t> read(std::uint8_t address, Axis axis,
                                    std::vector<std::uint8_t>& arrived) {
    const Deadline deadline = Deadline::after(kReplyWithin);
    for (;;) {
      while (!frames_.empty()) {
        const CommandFrame frame = frames_.front();
        frames_.erase(frames_.begin());
        if (frame[1] == address && frame[2] == 0x00 && frame[3] == positionReplyCommand(axis)) {
          return angleIn(frame);
        }
      }
      std::uint8_t buffer[64];
      const std::size_t n = port_.read(buffer, sizeof buffer, deadline, interrupts_.cancellation());
      if (n == 0) {
        return std::nullopt;
      }
      arrived.insert(arrived.end(), buffer, buffer + n);
      for (const DecodedItem& item : decoder_.feed(buffer, n, 0.0)) {
        if (item.isFrame) {
          frames_.push_back(item.frame());
        }
      }
    }
  }

 private:
  Port& port_;
  const Interrupts& interrupts_;
  FrameDecoder decoder_;
  std::vector<CommandFrame> frames_;  // decoded, not yet looked at
};

}  // namespace

std::uint64_t waitMilliseconds(float durationSeconds) {
  const double milliseconds = static_cast<double>(durationSeconds) * 1000.0;
  if (!(milliseconds > 0.0)) {
    return 0;  // negative, zero or NaN
  }
  constexpr double kLimit = 18446744073709551616.0;  // 2^64
  if (milliseconds >= kLimit) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return static_cast<std::uint64_t>(milliseconds);
}

void sendMove(std::ostream& out, std::ostream& diagnostics, const MoveRequest& request) {
  const Console console{out, diagnostics};
  out << std::endl;  // the empty line after "Brandeggio in movimento"
  const std::unique_ptr<Port> port = openPort(console, request.portNumber, request.baudRate);
  if (!port) {
    return;
  }

  // From the movement frame on, the head must be stopped whatever happens:
  // an interrupt is caught and ends the wait (or a write held up by the
  // line) instead of the program, and the guard sends the stop frames if
  // this process dies. The guard starts last, right before the frame:
  // after a fork every page this process writes is copied, and the fewer
  // the sooner the frame.
  const StopFrames stops = stopFramesFor(request.frame);
  Interrupts interrupts;
  StopGuard guard(*port, stops);
  if (!guard.watching()) {
    diagnose(diagnostics, guard.error());
  }
  // Console text from here on waits until the stop frames are out and the
  // interrupts are let in again: a reader that takes nothing then holds up
  // nothing that matters, and an interrupt still ends the program.
  std::ostringstream heldOut;
  std::ostringstream heldDiagnostics;
  const Console held{heldOut, heldDiagnostics};
  bool stopped = false;
  try {
    const Clock::time_point moved = Clock::now();
    writeFrame(*port, request.frame, interrupts, held);
    const WaitEnd end =
        waitOutTheMovement(*port, interrupts, guard,
                           Deadline::afterMilliseconds(waitMilliseconds(request.durationSeconds)));
    // Every stop frame, whole, whatever became of the movement frame or the
    // port: a partial or skipped stop would leave the head moving.
    stopped = stopTheHead(*port, stops, moved, held);
    if (end == WaitEnd::kGuardEnded) {
      diagnose(heldDiagnostics, guard.describe() + " died " + seconds(Clock::now() - moved) +
                                    " into the movement: the movement was ended at once; " +
                                    fate(stopped));
    }
  } catch (const std::bad_alloc&) {
    guard.abandon();  // the guard sends the stop frames, with its own memory
    throw;
  }
  guard.dismiss();
  port->close();
  interrupts.release();
  out << heldOut.str() << std::flush;
  diagnostics << heldDiagnostics.str() << std::flush;
  if (interrupts.interrupted()) {
    diagnose(diagnostics,
             "interrupted by " + interrupts.name() + " during the movement; " + fate(stopped));
  }
  interrupts.endProcessIfInterrupted();
}

void sendCommands(std::ostream& out, std::ostream& diagnostics, const CommandRequest& request) {
  const Console console{out, diagnostics};
  out << std::endl;  // the empty line after the action's own
  const std::unique_ptr<Port> port = openPort(console, request.portNumber, request.baudRate);
  if (!port) {
    return;
  }
  // An interrupt ends a write held up by the line, or the wait for a
  // reply, at once; the run then ends as that interrupt would have.
  Interrupts interrupts;
  ReplyReader replies(*port, interrupts);
  std::optional<std::uint16_t> angles[2];
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < request.frames.size() && !interrupts.interrupted(); ++i) {
    const CommandFrame& frame = request.frames[i];
    writeFrame(*port, frame, interrupts, console);
    bytes += frame.size();
    if (!request.readsPosition || i >= 2) {
      continue;
    }
    const Axis axis = i == 0 ? Axis::kPan : Axis::kTilt;
    std::vector<std::uint8_t> arrived;
    angles[i] = replies.read(frame[1], axis, arrived);
    if (!angles[i] && !interrupts.interrupted()) {
      diagnose(
          diagnostics,
          std::string("no reply to the ") + (axis == Axis::kPan ? "pan" : "tilt") +
              " position query " + hexBytes(frame) + " within " + seconds(kReplyWithin) + " on " +
              port->name() + ": " +
              (arrived.empty() ? "nothing came"
                               : "what came instead: " + hexBytes(arrived.data(), arrived.size())));
    }
  }
  if (!port->drain(Deadline::after(port->limitFor(bytes)))) {
    out << "WriteFile failed" << std::endl;
    diagnose(diagnostics, port->error() + ": the rest was discarded");
  }
  port->close();
  interrupts.release();
  if (interrupts.interrupted()) {
    diagnose(diagnostics, "interrupted by " + interrupts.name());
    interrupts.endProcessIfInterrupted();
  }
  if (!request.readsPosition) {
    return;
  }
  if (angles[0] && angles[1]) {
    // As text, so that neither the locale nor the stream's base after -d
    // changes it.
    out << "Posizione pan " << degreesText(*angles[0]) << " gradi, tilt " << degreesText(*angles[1])
        << " gradi" << std::endl;
  } else {
    out << "Nessuna risposta dal brandeggio" << std::endl;
  }
}

}  // namespace ptmove
