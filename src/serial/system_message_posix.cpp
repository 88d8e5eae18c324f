#include <cstring>

#include "system_message.h"

namespace ptmove {

std::string systemMessage(unsigned long error) {
  return std::strerror(static_cast<int>(error));
}

}  // namespace ptmove
