// Must not build: the serial layer cannot see the command line above it.
#include "run.h"
