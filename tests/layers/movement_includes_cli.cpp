// Must not build: the movement layer cannot see the command line above it.
#include "run.h"
