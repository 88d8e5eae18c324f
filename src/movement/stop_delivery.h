// Sends a movement's stop frames whatever became of the port, and waits for
// them to leave it. A device that vanished (a USB adapter that reset when
// the motors started, a loose cable) is opened again by its name every
// 100 ms for up to 5 s, and the frames go to the device that came back. All
// the frames and their drain share one bound, two seconds plus the frames'
// time on the wire, within which a write the system refuses is tried
// again. The program and its stop guard both end a movement this way.
#ifndef PTMOVE_MOVEMENT_STOP_DELIVERY_H_
#define PTMOVE_MOVEMENT_STOP_DELIVERY_H_

#include <chrono>
#include <functional>
#include <string>

#include "command_frame.h"
#include "serial_port.h"

namespace ptmove {

/// How often, and for how long at most, a vanished port is opened again.
constexpr std::chrono::milliseconds kReopenEvery{100};
constexpr std::chrono::milliseconds kReopenFor{5000};

struct StopDelivery {
  bool sent = false;     // every stop frame was written whole
  bool drained = false;  // and had left the port within the bound
  std::string drainError;
  bool reopened = false;                            // the port had vanished and was opened again
  bool gaveUp = false;                              // it had vanished and was not back in time
  std::chrono::steady_clock::time_point lossMet{};  // when the stop met the loss
  std::chrono::steady_clock::time_point reopenedAt{};
  std::string reopenError;  // why the last opening failed, when it gave up
};

/// Called for each stop frame that a port still there did not take whole,
/// with the port's reason.
using StopFrameFailed = std::function<void(const CommandFrame& frame, const std::string& why)>;

/// Writes `stops` to `port`, whole, opening a vanished device again first,
/// and drains the port.
StopDelivery deliverStops(SerialPort& port, const StopFrames& stops,
                          const StopFrameFailed& failed = nullptr);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_STOP_DELIVERY_H_
