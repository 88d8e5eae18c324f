// Systems without a way to set an arbitrary rate: only standard speeds.

#include "custom_speed.h"

namespace ptmove {

bool setCustomSpeed(int /*fd*/, std::uint32_t /*baud*/) {
  return false;
}

bool readCustomSpeed(int /*fd*/, std::uint32_t& /*baud*/) {
  return false;
}

}  // namespace ptmove
