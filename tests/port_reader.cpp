// Reads COM<n> through the port's read with one deadline, and prints what
// came: the program the port read tests drive on every platform.
//
//   port_reader COM MILLISECONDS   prints "FF 01 ... in 123 ms", and
//                                  "let go" on a line of its own when the
//                                  device went away

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_frame.h"
#include "port.h"

// Reading stops once this much has come: one Pelco D frame.
constexpr std::size_t kFrameBytes = 7;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: port_reader COM MILLISECONDS\n", stderr);
    return 2;
  }
  const std::unique_ptr<ptmove::Port> port = ptmove::makePort(std::atoi(argv[1]), "");
  if (!port->open(std::atoi(argv[1])) || !port->applyTimeouts() || !port->applyLineSettings(9600)) {
    std::fprintf(stderr, "%s\n", port->error().c_str());
    return 1;
  }
  const auto start = ptmove::Clock::now();
  const ptmove::Deadline deadline =
      ptmove::Deadline::afterMilliseconds(std::strtoull(argv[2], nullptr, 10));
  std::vector<std::uint8_t> read;
  std::uint8_t buffer[16];
  while (read.size() < kFrameBytes) {
    const std::size_t n = port->read(buffer, sizeof buffer, deadline, {});
    if (n == 0) {
      break;
    }
    read.insert(read.end(), buffer, buffer + n);
  }
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(ptmove::Clock::now() - start);
  std::printf("%s in %lld ms\n", ptmove::hexBytes(read.data(), read.size()).c_str(),
              static_cast<long long>(took.count()));
  if (port->isLetGo()) {
    std::printf("let go\n");
  }
  return 0;
}
