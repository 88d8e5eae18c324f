// What the stop guard does the same way on every platform.

#include "stop_guard.h"

#include "stop_delivery.h"

namespace ptmove {

void sendStopFrames(SerialPort& port, const StopFrames& stops) {
  deliverStops(port, stops);
  port.close();
}

}  // namespace ptmove
