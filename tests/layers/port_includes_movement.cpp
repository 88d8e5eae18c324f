// Must not build: the port layer cannot see the movement layer above it.
#include "transmission.h"
