// ptmove: moves a Pelco D or Pelco P pan-tilt head in one direction for a
// given time, or sends it one of its other commands.

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "console_stream.h"
#include "run.h"
#include "startup.h"
#include "stop_guard.h"
#include "transmission.h"

int main(int argc, char** argv) {
  if (ptmove::runAsStopGuard()) {
    return 0;  // this run was another's stop guard, started by it
  }
  ptmove::reserveMemory();
  ptmove::prepareProcess();
  try {
    ptmove::Console console;
    std::vector<std::string> args;
    args.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
    for (int i = 0; i < argc; ++i) {
      args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    ptmove::PortLine line;
    return ptmove::runProgram(args, console.out(), console.err(), line);
  } catch (const std::bad_alloc&) {
    // Without memory to say more; a movement under way was stopped by the
    // guard before this.
    std::fputs("ptmove: out of memory\n", stderr);
    return 0;
  }
}
