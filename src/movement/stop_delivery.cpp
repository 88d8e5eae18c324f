#include "stop_delivery.h"

#include <algorithm>
#include <thread>

namespace ptmove {

namespace {

using Clock = std::chrono::steady_clock;

// Opens the vanished port again, every kReopenEvery until `giveUpAt`.
bool openAgain(SerialPort& port, Clock::time_point giveUpAt) {
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

StopDelivery deliverStops(SerialPort& port, const StopFrames& stops,
                          const StopFrameFailed& failed) {
  StopDelivery delivery;
  Clock::time_point giveUpAt{};
  bool counting = false;
  for (;;) {
    if (port.vanished()) {
      // From the first time the loss meets the stop: at the stop time, or
      // later when a stop write finds it.
      if (!counting) {
        delivery.lossMet = Clock::now();
        giveUpAt = delivery.lossMet + kReopenFor;
        counting = true;
      } else if (Clock::now() + kReopenEvery <= giveUpAt) {
        std::this_thread::sleep_for(kReopenEvery);  // it vanished again at once
      }
      if (Clock::now() > giveUpAt || !openAgain(port, giveUpAt)) {
        delivery.gaveUp = true;
        delivery.reopenError = port.error();
        return delivery;
      }
      delivery.reopened = true;
      delivery.reopenedAt = Clock::now();
    }
    // One bound for all the stop frames and their drain together: the
    // frames' time on the wire plus two seconds.
    std::size_t bytes = 0;
    for (const CommandFrame& frame : stops) {
      bytes += frame.size();
    }
    const Clock::time_point deadline = Clock::now() + port.limitFor(bytes);
    const auto left = [&deadline] {
      return std::max(
          std::chrono::milliseconds::zero(),
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    };
    bool whole = true;
    for (const CommandFrame& frame : stops) {
      if (port.write(frame.data(), frame.size(), nullptr, SerialPort::OnError::kRetry, left()) ==
          frame.size()) {
        continue;
      }
      whole = false;
      if (port.vanished()) {
        break;  // all of them again, on the device that comes back
      }
      if (failed) {
        failed(frame, port.error());
      }
    }
    if (!port.vanished()) {
      delivery.sent = whole;
      delivery.drained = whole && port.drain(left());
      if (whole && !delivery.drained) {
        delivery.drainError = port.error();
      }
      return delivery;
    }
  }
}

}  // namespace ptmove
