// On Windows the C++ runtime's own console streams serve.

#include <iostream>

#include "console_stream.h"

namespace ptmove {

struct Console::Streams {};

Console::Console() = default;

Console::~Console() = default;

std::ostream& Console::out() {
  return std::cout;
}

std::ostream& Console::err() {
  return std::cerr;
}

}  // namespace ptmove
