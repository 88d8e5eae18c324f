// Systems that do not tell a UART's clock: the driver's own word on the
// rate is all there is.

#include "uart_clock.h"

namespace ptmove {

bool uartRateFor(int /*fd*/, std::uint32_t /*asked*/, UartRate& /*rate*/) {
  return false;
}

}  // namespace ptmove
