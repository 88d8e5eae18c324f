#include "transmission.h"

#include <chrono>
#include <cmath>
#include <limits>
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

// Waits out the movement, letting go of the port at once if its device
// vanishes meanwhile. Returns when the port was lost, or Clock's epoch.
Clock::time_point waitWatchingThePort(InterruptibleWait& wait, SerialPort& port, StopGuard& guard,
                                      std::uint64_t milliseconds) {
  const Clock::time_point start = Clock::now();
  if (port.vanished()) {
    guard.followPort();
    wait.wait(milliseconds);
    return start;
  }
  if (wait.wait(milliseconds, &port) != WaitEnd::kPortVanished) {
    return Clock::time_point{};
  }
  const Clock::time_point lost = Clock::now();
  port.letGo();
  guard.followPort();
  const auto elapsed = static_cast<std::uint64_t>(since(start, lost).count());
  wait.wait(milliseconds > elapsed ? milliseconds - elapsed : 0);
  return lost;
}

// Sends the stop frames, each frame the port did not take reported as
// writeFrame does, and says how a port that vanished came through.
bool stopTheHead(SerialPort& port, const StopFrames& stops, Clock::time_point moved,
                 Clock::time_point lost, std::ostream& out, std::ostream& diagnostics) {
  const StopDelivery delivery =
      deliverStops(port, stops, [&](const CommandFrame& frame, const std::string& why) {
        out << "WriteFile failed" << std::endl;
        diagnose(diagnostics, "stop frame " + frameText(frame) + " not sent whole: " + why);
      });
  if (!delivery.reopened && !delivery.gaveUp) {
    return delivery.sent;
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
  diagnose(diagnostics, vanished + "; opened again " + seconds(since(lost, delivery.reopenedAt)) +
                            " later; " +
                            (delivery.sent ? "the stop frames were sent"
                                           : "the stop frames could not be sent whole"));
  return delivery.sent;
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
  const Clock::time_point moved = Clock::now();
  writeFrame(port, request.frame, "movement frame", out, diagnostics, &wait);
  const Clock::time_point lost =
      waitWatchingThePort(wait, port, guard, waitMilliseconds(request.durationSeconds));
  // Every stop frame, whole, whatever became of the movement frame or the
  // port: a partial or skipped stop would leave the head moving.
  bool stopped = stopTheHead(port, stops, moved, lost, out, diagnostics);
  guard.followPort();
  if (!port.vanished() && !port.drain()) {
    out << "WriteFile failed" << std::endl;
    diagnose(diagnostics, port.error() + ": the stop frames were discarded");
    stopped = false;
  }
  guard.dismiss();
  port.close();
  if (wait.interrupted()) {
    diagnose(diagnostics,
             "interrupted by " + wait.interruptName() + " during the movement; " +
                 (stopped ? "the stop frames were sent" : "the stop frames could not be sent"));
  }
  wait.endProcessIfInterrupted();
}

}  // namespace ptmove
