// What the stop guard does the same way on every platform.

#include "stop_guard.h"

namespace ptmove {

void sendStopFrames(SerialPort& port, const StopFrames& stops) {
  for (const CommandFrame& frame : stops) {
    port.write(frame.data(), frame.size());
  }
  port.drain();
  port.close();
}

}  // namespace ptmove
