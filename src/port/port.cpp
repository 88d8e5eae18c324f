// Which kind of port a run gets.

#include "port.h"

#include <cstdlib>

#include "network_port.h"
#include "serial_port.h"

namespace ptmove {

std::unique_ptr<Port> makePort(std::int32_t portNumber, const std::string& address) {
  if (!address.empty()) {
    return std::make_unique<NetworkPort>(address, "");
  }
  // PTMOVE_COM<n> may point a port number that scripts use at a server.
  const std::string variable = "PTMOVE_COM" + std::to_string(portNumber);
  const char* configured = portNumber >= 1 ? std::getenv(variable.c_str()) : nullptr;
  if (configured != nullptr && namesServer(configured)) {
    return std::make_unique<NetworkPort>(configured, variable);
  }
  return std::make_unique<SerialPort>();
}

}  // namespace ptmove
