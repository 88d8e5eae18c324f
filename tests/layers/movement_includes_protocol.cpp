// Must not build: no protocol's bytes below the protocol layer; the movement
// layer is handed bytes.
#include "command_frame.h"
