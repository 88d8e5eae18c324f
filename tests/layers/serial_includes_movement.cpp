// Must not build: the serial layer cannot see the movement layer above it.
#include "transmission.h"
