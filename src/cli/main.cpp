// ptmove: moves a Pelco D pan-tilt head in one direction for a given time.

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "run.h"
#include "stop_guard.h"
#include "transmission.h"

int main(int argc, char** argv) {
  if (ptmove::runAsStopGuard()) {
    return 0;  // this run was another's stop guard, started by it
  }
#ifdef SIGPIPE
  // A reader that closed our output must not kill us between the movement
  // frame and the stop frame; failed console writes are simply lost.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  std::vector<std::string> args;
  args.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) {
    args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  }
  return ptmove::runProgram(args, std::cout, std::cerr, ptmove::sendMove);
}
