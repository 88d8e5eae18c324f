// Must not build: the protocol layer cannot see the port below the movement.
#include "serial_port.h"
