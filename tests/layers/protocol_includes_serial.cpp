// Must not build: the protocol layer cannot see the serial layer above it.
#include "serial_port.h"
