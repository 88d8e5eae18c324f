// Which kind of port a run gets.

#include "port.h"

#include <cstdlib>
#include <vector>

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

#ifdef _WIN32
std::unique_ptr<Port> takeOverPort(const std::string& text) {
  // "com|number|speed|handle" or
  // "net|number|speed|settings applied|origin|duplicate|address".
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t bar = text.find('|'); bar != std::string::npos && fields.size() < 6;
       bar = text.find('|', start)) {
    fields.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
  fields.push_back(text.substr(start));
  const auto number = [&](std::size_t i) { return std::atoi(fields[i].c_str()); };
  if (fields.size() == 4 && fields[0] == "com") {
    auto port = std::make_unique<SerialPort>();
    port->adopt(reinterpret_cast<NativeHandle>(std::strtoull(fields[3].c_str(), nullptr, 10)),
                number(1), number(2));
    return port;
  }
  if (fields.size() == 7 && fields[0] == "net") {
    auto port = std::make_unique<NetworkPort>(fields[6], fields[4]);
    if (port->adopt(number(1), number(2), fields[3] == "1", fields[5])) {
      return port;
    }
  }
  return nullptr;
}
#endif

}  // namespace ptmove
