// libFuzzer target over whole command lines: the input is an argument
// vector with NUL bytes between the arguments (they cannot occur inside
// one). Each input is parsed, turned into a frame and rendered through every
// report, all in memory; no port is ever opened.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "command_frame.h"
#include "move_settings.h"
#include "option_parser.h"
#include "reports.h"
#include "run.h"
#include "transmission.h"
#include "wait.h"

namespace {

std::vector<std::string> argumentsFrom(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {"ptmove"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(current);
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = argumentsFrom(data, size);

  std::ostringstream out;
  const ptmove::Line line = {
      [](std::ostream& o, std::ostream&, const ptmove::MoveRequest& request) {
        o << ptmove::waitMilliseconds(request.durationSeconds);
        return ptmove::LineFailure::kNone;
      },
      [](std::ostream& o, std::ostream&, const ptmove::CommandRequest& request) {
        o << request.frames.size();
        // A head that answers with the first frame's data bytes.
        ptmove::CommandResult result;
        if (!request.frames.empty()) {
          const ptmove::CommandFrame& first = request.frames.front();
          result.position = ptmove::Position{ptmove::angleIn(first), first[6]};
          result.arrived = first[6] % 2 == 0;
        }
        return result;
      }};
  ptmove::runProgram(args, out, out, line);

  // Every report, whatever the run above decided to print.
  ptmove::MoveSettings settings;
  std::ostringstream reports;
  ptmove::parseCommandLine(args, settings, reports);
  const ptmove::CommandFrame frame = ptmove::buildMoveFrame(settings.frameInputs());
  if (ptmove::frameChecksum(frame) != frame[6]) {
    __builtin_trap();
  }
  const ptmove::CommandFrame stop = ptmove::stopFrameFor(frame[1]);
  if (ptmove::frameChecksum(stop) != stop[6] || stop[1] != frame[1] || stop[3] != 0) {
    __builtin_trap();
  }
  ptmove::printSettings(reports, settings, {frame});
  ptmove::printBanner(reports, settings.programWord);
  ptmove::printHelp(reports, settings.programWord);
  return 0;
}
