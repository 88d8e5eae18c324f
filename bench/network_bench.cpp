// Measures ptmove on a port behind a serial device server: Debian's ser2net
// serving a pseudo-terminal on loopback ports, raw (tcp://) and over
// RFC 2217. The start latency (process start to the movement frame whole on
// the server's device) beside a minimal C program that connects and writes
// the same frame; the time from kill -9 of ptmove mid-movement to its stop
// frame on the device, which the guard sends on the shared connection; and
// how many of a hundred quick movements in a row (-t 0, on connections a
// few milliseconds old) had their stop frame reach the device, per round.
//
//   network_bench [--runs N] [--rounds R]

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "program_runner.h"

namespace {

using ptmove::PtyPair;
using ptmove::testsupport::ProgramRun;
using ptmove::testsupport::ProgramUnderTest;
using ptmove::testsupport::RunOptions;

using Bytes = std::vector<std::uint8_t>;

double median(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double highest(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

// ser2net on the pseudo-terminal, ended by its pid.
class Server {
 public:
  Server(const std::string& device, int raw, int telnet) {
    char folder[] = "/tmp/ptmove-network-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
      return;
    }
    folder_ = folder;
    std::ofstream config(folder_ + "/ser2net.yaml");
    config << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw << "\n  connector: serialdev,"
           << device << ",2400n81,local\n"
           << "connection: &tel\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnet
           << "\n  connector: serialdev," << device << ",2400n81,local\n";
    config.close();
    pid_ = fork();
    if (pid_ == 0) {
      const int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 1);
      dup2(quiet, 2);
      execl(SER2NET_PATH, "ser2net", "-n", "-u", "-c", (folder_ + "/ser2net.yaml").c_str(), "-P",
            (folder_ + "/pid").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  ~Server() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (!folder_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
    }
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

 private:
  std::string folder_;
  pid_t pid_ = -1;
};

Bytes frame(std::uint8_t address, std::uint8_t command2, std::uint8_t pan) {
  const std::uint8_t sum = static_cast<std::uint8_t>(address + command2 + pan);
  return {0xFF, address, 0x00, command2, pan, 0x00, sum};
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 20;
  int rounds = 1;  // 0 leaves the rounds out
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) {
      runs = std::max(1, std::atoi(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--rounds") == 0) {
      rounds = std::max(0, std::atoi(argv[i + 1]));
    }
  }
  PtyPair pty;
  const int raw = ptmove::testsupport::freeLoopbackPort();
  const int telnet = ptmove::testsupport::freeLoopbackPort();
  const Server server(pty.slavePath(), raw, telnet);
  const std::string host = "127.0.0.1";
  const std::string urls[2] = {"tcp://" + host + ":" + std::to_string(raw),
                               "rfc2217://" + host + ":" + std::to_string(telnet)};
  const ProgramUnderTest ptmove({}, PTMOVE_PATH);
  const ProgramUnderTest writer({}, MINIMAL_NET_WRITER_PATH);

  // Start latency, interleaved.
  std::vector<double> starts[2];
  for (int run = 0; run < runs; ++run) {
    for (int which = 0; which < 2; ++which) {
      RunOptions options;
      options.wire = &pty;
      options.wireBytes = 14;
      const ProgramRun result =
          which == 0 ? ptmove.run({"-com", urls[0], "-dir", "r", "-t", "0.2"}, options)
                     : writer.run({host, std::to_string(raw), "0.2"}, options);
      if (result.wire.size() >= 7) {
        starts[which].push_back(result.wireSeconds[6] * 1000.0);
      }
    }
  }
  std::printf("start latency over tcp:// through ser2net, %d runs each, in milliseconds\n", runs);
  std::printf("  ptmove            median %7.2f  max %7.2f\n", median(starts[0]),
              highest(starts[0]));
  std::printf("  minimal C writer  median %7.2f  max %7.2f\n", median(starts[1]),
              highest(starts[1]));
  std::printf("  ratio of medians  %.2fx\n\n", median(starts[0]) / median(starts[1]));

  // kill -9 mid-movement: the guard's stop frame on the device; under Wine
  // too, where the guard has a duplicate of the socket, when ptmove.exe
  // has been built (the Windows end-to-end tests build it).
  std::vector<std::pair<std::string, ProgramUnderTest>> killed = {{"", ptmove}};
  std::string winePrefix;
  if (access(WINE_PATH, X_OK) == 0 && access(WINDOWS_PTMOVE_PATH, X_OK) == 0) {
    char folder[] = "/tmp/ptmove-network-bench-wine-XXXXXX";
    if (mkdtemp(folder) != nullptr) {
      winePrefix = std::string(folder) + "/prefix";
      const std::string start = std::string(WINE_PREFIX_SCRIPT) + " start " + WINE_PATH + " " +
                                winePrefix + " >/dev/null";
      if (std::system(start.c_str()) == 0) {
        killed.push_back(
            {"ptmove.exe, Wine ", ProgramUnderTest({WINE_PATH}, WINDOWS_PTMOVE_PATH, winePrefix)});
      }
    }
  }
  std::printf("kill -9 to the stop frame on the device, %d runs each, in milliseconds\n", runs);
  for (const auto& [label, program] : killed) {
    for (int which = 0; which < 2; ++which) {
      std::vector<double> stops;
      int missed = 0;
      for (int run = 0; run < runs; ++run) {
        RunOptions options;
        options.wire = &pty;
        options.wireBytes = 14;
        options.actions = {{1.0, [](pid_t pid) { kill(pid, SIGKILL); }}};
        const ProgramRun result =
            program.run({"-com", urls[which], "-dir", "r", "-t", "30"}, options);
        if (result.wire.size() >= 14) {
          stops.push_back((result.wireSeconds[13] - 1.0) * 1000.0);
        } else {
          ++missed;
        }
      }
      std::printf("  %s%-10s median %7.2f  max %7.2f  missed %d\n", label.c_str(),
                  which == 0 ? "tcp://" : "rfc2217://", median(stops), highest(stops), missed);
    }
  }
  if (!winePrefix.empty()) {
    const std::string stop =
        std::string(WINE_PREFIX_SCRIPT) + " stop " + WINE_PATH + " " + winePrefix + " >/dev/null";
    if (std::system(stop.c_str()) != 0) {
      std::printf("(the Wine prefix %s was not removed)\n", winePrefix.c_str());
    }
  }

  // A hundred quick movements in a row, each on a new connection: every
  // movement and stop frame must reach the device.
  std::printf("\n100 movements in a row with -t 0, %d round(s) per kind\n", rounds);
  for (int which = 0; which < 2; ++which) {
    for (int round = 0; round < rounds; ++round) {
      int whole = 0;
      for (int run = 0; run < 100; ++run) {
        const std::uint8_t address = static_cast<std::uint8_t>(run % 255 + 1);
        char ch[8];
        std::snprintf(ch, sizeof ch, "%02x", address);
        RunOptions options;
        options.wire = &pty;
        options.wireBytes = 14;
        const ProgramRun result =
            ptmove.run({"-com", urls[which], "-ch", ch, "-dir", "r", "-t", "0"}, options);
        Bytes expected = frame(address, 0x02, 0x3F);
        const Bytes stop = frame(address, 0x00, 0x00);
        expected.insert(expected.end(), stop.begin(), stop.end());
        whole += result.exitStatus == 0 && result.wire == expected ? 1 : 0;
      }
      std::printf("  %-10s round %3d: %3d of 100 movements and stops on the device\n",
                  which == 0 ? "tcp://" : "rfc2217://", round + 1, whole);
      std::fflush(stdout);
    }
  }
  return 0;
}
