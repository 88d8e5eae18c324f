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

}  // namespace

StopDelivery deliverStop(Port& port, const Bytes& stop) {
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
    const Deadline deadline = Deadline::after(port.limitFor(stop.size()));
    if (port.write(stop.data(), stop.size(), deadline, {}, Port::OnError::kRetry) != stop.size()) {
      if (port.isLetGo()) {
        continue;  // again, on the device that comes back
      }
      delivery.result = StopResult::kNotSent;
      delivery.error = port.error();
      return delivery;
    }
    if (!port.drain(deadline)) {
      if (port.isLetGo()) {
        continue;
      }
      delivery.result = StopResult::kNotDrained;
      delivery.error = port.error();
      return delivery;
    }
    // A device unplugged as the frame went out may have taken it and
    // dropped it; the hang-up that tells comes a little later.
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
