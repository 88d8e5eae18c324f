#include "startup.h"

namespace ptmove {

void prepareProcess() {
  // Windows hands a program no closed standard handle to take, no signal
  // mask and no job control of terminals: nothing to set.
}

}  // namespace ptmove
