#include "transmission.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "frame_decoder.h"
#include "interruptible_wait.h"
#include "serial_port.h"
#include "stop_delivery.h"
#include "stop_guard.h"

namespace ptmove {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds since(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(end - start);
}

std::string frameText(const CommandFrame& frame) {
  return hexBytes(std::vector<std::uint8_t>(frame.begin(), frame.end()));
}

// One line on the diagnostic stream, in the form command-line tools use.
void diagnose(std::ostream& diagnostics, const std::string& text) {
  diagnostics << "ptmove: " << text << std::endl;
}

// Writes one frame. A frame not written whole gets the program's fixed
// message (scripts know it by its Windows name) and a diagnostic line.
bool writeFrame(SerialPort& port, const CommandFrame& frame, const char* what, std::ostream& out,
                std::ostream& diagnostics, const InterruptibleWait* interrupts = nullptr) {
  if (port.write(frame.data(), frame.size(), interrupts) == frame.size()) {
    return true;
  }
  out << "WriteFile failed" << std::endl;
  diagnose(diagnostics,
           std::string(what) + " " + frameText(frame) + " not sent whole: " + port.error());
  return false;
}

// How the wait for the movement's time ended, besides by its time.
struct MovementEnd {
  Clock::time_point lost{};  // when the port vanished, or the clock's epoch
  bool guardDied = false;    // the guard died: the movement ends at once
};

// Waits out the movement, letting go of the port at once if its device
// vanishes meanwhile, and ending it at once if the guard dies.
MovementEnd waitOutTheMovement(InterruptibleWait& wait, SerialPort& port, StopGuard& guard,
                               std::uint64_t milliseconds) {
  const Clock::time_point start = Clock::now();
  MovementEnd end;
  if (port.vanished()) {  // the movement frame's write found it gone
    end.lost = start;
    guard.followPort();
  }
  for (;;) {
    const auto elapsed = static_cast<std::uint64_t>(since(start, Clock::now()).count());
    const std::uint64_t left = milliseconds > elapsed ? milliseconds - elapsed : 0;
    const WaitEnd how =
        wait.wait(left, port.vanished() ? nullptr : &port, guard.watching() ? &guard : nullptr);
    if (how != WaitEnd::kPortVanished) {
      end.guardDied = how == WaitEnd::kGuardDied;
      return end;
    }
    end.lost = Clock::now();
    port.letGo();
    guard.followPort();
  }
}

// Sends the stop frames and waits for them to leave, each frame the port
// did not take reported as writeFrame does, and says how a port that
// vanished came through.
bool stopTheHead(SerialPort& port, const StopFrames& stops, Clock::time_point moved,
                 Clock::time_point lost, std::ostream& out, std::ostream& diagnostics) {
  const StopDelivery delivery =
      deliverStops(port, stops, [&](const CommandFrame& frame, const std::string& why) {
        out << "WriteFile failed" << std::endl;
        diagnose(diagnostics, "stop frame " + frameText(frame) + " not sent whole: " + why);
      });
  if (delivery.sent && !delivery.drained) {
    out << "WriteFile failed" << std::endl;
    diagnose(diagnostics, delivery.drainError + ": the stop frames were discarded");
  }
  const bool stopped = delivery.sent && delivery.drained;
  if (!delivery.reopened && !delivery.gaveUp) {
    return stopped;
  }
  if (lost == Clock::time_point{}) {
    lost = delivery.lossMet;  // a stop write found it
  }
  const std::string vanished =
      port.name() + " vanished " + seconds(since(moved, lost)) + " into the movement";
  if (delivery.gaveUp) {
    out << "WriteFile failed" << std::endl;
    diagnose(diagnostics, vanished + " and was not back within " + seconds(kReopenFor) +
                              " of the stop (" + delivery.reopenError +
                              "); the stop frames could not be sent");
    return false;
  }
  diagnose(diagnostics,
           vanished + "; opened again " + seconds(since(lost, delivery.reopenedAt)) + " later; " +
               (stopped ? "the stop frames were sent" : "the stop frames could not be sent whole"));
  return stopped;
}

// The movement, from its frame to the stop frames' drain, with the guard
// watching. Its console text goes to `out` and `diagnostics`, which the
// caller shows once the interrupts are let in again.
bool move(SerialPort& port, const StopFrames& stops, const MoveRequest& request,
          InterruptibleWait& wait, StopGuard& guard, std::ostream& out, std::ostream& diagnostics) {
  const Clock::time_point moved = Clock::now();
  writeFrame(port, request.frame, "movement frame", out, diagnostics, &wait);
  const MovementEnd end =
      waitOutTheMovement(wait, port, guard, waitMilliseconds(request.durationSeconds));
  // Every stop frame, whole, whatever became of the movement frame or the
  // port: a partial or skipped stop would leave the head moving.
  const bool stopped = stopTheHead(port, stops, moved, end.lost, out, diagnostics);
  guard.followPort();
  if (end.guardDied) {
    diagnose(diagnostics,
             guard.describe() + " died " + seconds(since(moved, Clock::now())) +
                 " into the movement: the movement was ended at once; " +
                 (stopped ? "the stop frames were sent" : "the stop frames could not be sent"));
  }
  return stopped;
}

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
  // The empty line after "Brandeggio in movimento", and the failure messages
  // below named after the Windows calls that report them: fixed output that
  // scripts written for the Windows program read, the same on every
  // platform. The reasons go to the diagnostic stream.
  out << std::endl;
  SerialPort port;
  if (!port.open(request.portNumber)) {
    out << "Failed to open port" << std::endl;
    diagnose(diagnostics, port.error());
    return;
  }
  if (!port.applyTimeouts()) {
    out << "SetCommTimeouts failed" << std::endl;
    diagnose(diagnostics, port.error());
  }
  if (!port.applyLineSettings(request.baudRate)) {
    out << "SetCommState failed" << std::endl;
    diagnose(diagnostics, port.error());
  }

  // From the movement frame on, the head must be stopped whatever happens:
  // the guard sends the stop frames if this process dies, and an interrupt
  // ends the wait (or a write held up by the line) instead of the program.
  // The guard starts last, right before the frame: after a fork every page
  // this process writes is copied, and the fewer the sooner the frame.
  const StopFrames stops = stopFramesFor(request.frame);
  InterruptibleWait wait;
  StopGuard guard(port, stops);
  if (!guard.watching()) {
    diagnose(diagnostics, guard.error());
  }
  // Console text from here on waits until the stop frames are out and the
  // interrupts are let in again: a reader that takes nothing then holds up
  // nothing that matters, and an interrupt still ends the program.
  std::ostringstream movementOut;
  std::ostringstream movementDiagnostics;
  bool stopped = false;
  try {
    stopped = move(port, stops, request, wait, guard, movementOut, movementDiagnostics);
  } catch (const std::bad_alloc&) {
    guard.abandon();  // the guard sends the stop frames, with its own memory
    throw;
  }
  guard.dismiss();
  port.close();
  wait.release();
  out << movementOut.str() << std::flush;
  diagnostics << movementDiagnostics.str() << std::flush;
  if (wait.interrupted()) {
    diagnose(diagnostics,
             "interrupted by " + wait.interruptName() + " during the movement; " +
                 (stopped ? "the stop frames were sent" : "the stop frames could not be sent"));
  }
  wait.endProcessIfInterrupted();
}

}  // namespace ptmove
