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

// A line that takes whatever it is handed, reports a failure and answers
// with bytes of the first frame.
class FuzzLine final : public ptmove::Line {
 public:
  void move(const ptmove::MoveRequest& request, ptmove::LineReporter& reporter) override {
    reporter.report(ptmove::event::FrameNotSent{ptmove::FrameRole::kMovement, request.frame,
                                                std::to_string(request.durationSeconds)});
  }

  ptmove::CommandResult commands(const ptmove::CommandRequest& request,
                                 ptmove::LineReporter& reporter) override {
    ptmove::CommandResult result;
    if (!request.frames.empty() && request.frames.front().size() >= 6) {
      const ptmove::Bytes& first = request.frames.front();
      result.position = ptmove::Position{static_cast<std::uint16_t>(first[4] << 8 | first[5]),
                                         first[first.size() - 1]};
      result.arrived = first.back() % 2 == 0;
    }
    if (request.questions) {
      reporter.report(ptmove::event::NoReply{ptmove::Angle::kTilt,
                                             request.questions->tilt.bytes,
                                             {},
                                             "COM1",
                                             request.questions->pan.bytes});
    }
    return result;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = argumentsFrom(data, size);

  std::ostringstream out;
  FuzzLine line;
  ptmove::runProgram(args, out, out, line);

  // Every report, whatever the run above decided to print, and each
  // protocol's frames, which must be whole.
  ptmove::MoveSettings settings;
  std::ostringstream reports;
  ptmove::parseCommandLine(args, settings, reports);
  const ptmove::Protocol& protocol = *settings.protocol;
  const ptmove::CommandFrame frame = protocol.frame(settings.receiver(), settings.movement());
  const ptmove::CommandFrame stop =
      protocol.frame(settings.receiver(), ptmove::HeadCommand::stop());
  if (!protocol.isWhole(frame) || !protocol.isWhole(stop) || !ptmove::isStop(protocol.read(stop)) ||
      protocol.read(stop).address != settings.receiver()) {
    __builtin_trap();
  }
  ptmove::printSettings(reports, settings, {frame});
  ptmove::printBanner(reports, settings.programWord);
  ptmove::printHelp(reports, settings.programWord);
  return 0;
}
