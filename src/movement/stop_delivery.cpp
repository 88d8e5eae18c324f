#include "stop_delivery.h"

#include <thread>

namespace ptmove {

namespace {

// Opens the vanished port again, every kReopenEvery until `giveUpAt`.
bool openAgain(Port& port, Clock::time_point giveUpAt) {
  for (;;) {
    if (port.reopen()) {
      return true;
    }
    if (Clock::now() + kReopenEvery > giveUpAt) {
      return false;
    }
    std::this_thread::sleep_for(kReopenEvery);
  }
}

std::size_t bytesOf(const StopFrames& stops) {
  std::size_t bytes = 0;
  for (const CommandFrame& frame : stops) {
    bytes += frame.size();
  }
  return bytes;
}

}  // namespace

StopDelivery deliverStops(Port& port, const StopFrames& stops, const StopFrameFailed& failed) {
  StopDelivery delivery;
  // From the first time the loss meets the stop: at the stop time, or
  // later when a stop write finds it.
  std::optional<Clock::time_point> giveUpAt;
  for (;;) {
    if (port.isLetGo()) {
      if (!delivery.loss) {
        delivery.loss = PortLoss{*port.letGoAt(), std::nullopt, false};
      }
      if (!giveUpAt) {
        giveUpAt = Clock::now() + kReopenFor;
      } else if (Clock::now() + kReopenEvery <= *giveUpAt) {
        std::this_thread::sleep_for(kReopenEvery);  // it vanished again at once
      }
      if (Clock::now() > *giveUpAt || !openAgain(port, *giveUpAt)) {
        delivery.result = StopResult::kPortNotBack;
        delivery.error = port.error();
        return delivery;
      }
      delivery.loss->reopened = Clock::now();
    }
    const Deadline deadline = Deadline::after(port.limitFor(bytesOf(stops)));
    bool whole = true;
    for (const CommandFrame& frame : stops) {
      if (port.write(frame.data(), frame.size(), deadline, {}, Port::OnError::kRetry) ==
          frame.size()) {
        continue;
      }
      whole = false;
      if (port.isLetGo()) {
        break;  // all of them again, on the device that comes back
      }
      if (failed) {
        failed(frame, port.error());
      }
    }
    if (port.isLetGo()) {
      continue;
    }
    if (!whole) {
      delivery.result = StopResult::kNotSent;
      return delivery;
    }
    if (!port.drain(deadline)) {
      delivery.result = StopResult::kNotDrained;
      delivery.error = port.error();
      return delivery;
    }
    // A device unplugged as the frames went out may have taken them and
    // dropped them; the hang-up that tells comes a little later.
    if (port.hungUp(Deadline::after(kHangUpWatch))) {
      port.letGo();
      if (!delivery.loss) {
        delivery.loss = PortLoss{*port.letGoAt(), std::nullopt, true};
      }
      continue;
    }
    delivery.result = StopResult::kSent;
    return delivery;
  }
}

}  // namespace ptmove
