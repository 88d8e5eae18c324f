// Sends a movement's stop frame whatever became of the port, and waits for
// it to leave. A device that vanished (a USB adapter that reset when
// the motors started, a loose cable) is opened again by its name every
// 100 ms for up to 5 s, and the frame goes to the device that came back.
// The frame and its drain share one bound, two seconds plus the frame's
// time on the wire, within which a write the system refuses is tried
// again. A device that hangs up right after the frame has left may have
// dropped it: it is opened again and the frame is sent again. The program
// and its stop guard both end a movement this way.
#ifndef PTMOVE_MOVEMENT_STOP_DELIVERY_H_
#define PTMOVE_MOVEMENT_STOP_DELIVERY_H_

#include <chrono>
#include <optional>
#include <string>

#include "line_events.h"
#include "port.h"

namespace ptmove {

/// How often, and for how long at most, a vanished port is opened again.
constexpr std::chrono::milliseconds kReopenEvery{100};
constexpr std::chrono::milliseconds kReopenFor{5000};

/// How long a port is watched for a hang-up once the stop frames have
/// left it.
constexpr std::chrono::milliseconds kHangUpWatch{30};

/// How the stop frame fared.
enum class StopResult {
  kSent,        // it was written whole and left the port
  kNotSent,     // the port, still there, did not take it whole
  kNotDrained,  // written, but still in the port at the bound: discarded
  kPortNotBack  // the port had vanished and was not back in time
};

/// A device that vanished on the way.
struct PortLoss {
  Clock::time_point at;                       // when the port let go of it
  std::optional<Clock::time_point> reopened;  // when it was opened again, last
  bool asTheStopLeft = false;                 // it hung up right after the stop frame
};

struct StopDelivery {
  StopResult result = StopResult::kSent;
  std::string error;             // why, when it was not sent
  std::optional<PortLoss> loss;  // the first loss the stop met
};

/// Writes `stop` to `port`, whole, opening a vanished device again first,
/// and drains the port.
StopDelivery deliverStop(Port& port, const Bytes& stop);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_STOP_DELIVERY_H_
