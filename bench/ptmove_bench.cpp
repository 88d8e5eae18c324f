// Measures how quickly and how precisely a movement happens on the wire,
// on a pseudo-terminal: the start latency (process start to the movement
// frame complete on the wire) and the duration error (time between the
// movement and the stop frame, less the requested wait); and how long a
// position report takes against ptsim's head answering at once. Both builds of
// ptmove, the dynamically linked one of the Debian package and the static
// one of the release tarball, are measured beside the floor, a minimal C
// writer, and beside a pyserial script and, when present, ptmove.exe under
// Wine. The runs are interleaved, one of each program in turn, so that
// whatever else the machine does weighs on all of them alike.
//
//   ptmove_bench [--runs N]

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame_decoder.h"
#include "program_runner.h"
#include "receivers.h"

namespace {

using ptmove::PtyPair;
using ptmove::testsupport::ProgramRun;
using ptmove::testsupport::ProgramUnderTest;
using ptmove::testsupport::RunOptions;

struct Subject {
  std::string name;
  ProgramUnderTest program;
  std::function<std::vector<std::string>(const std::string& seconds)> args;
  bool reportsPosition = false;  // a build of ptmove
};

// The minimal C writer's place among the subjects: the floor.
constexpr std::size_t kFloor = 1;

struct Stats {
  std::size_t runs = 0;
  double median = 0.0;
  double p90 = 0.0;
  double max = 0.0;
};

Stats statsOf(std::vector<double> values) {
  Stats stats;
  stats.runs = values.size();
  if (values.empty()) {
    return stats;
  }
  std::sort(values.begin(), values.end());
  const auto rank = [&](double fraction) {
    const std::size_t index = static_cast<std::size_t>(fraction * values.size() + 0.999999);
    return values[std::min(values.size(), std::max<std::size_t>(index, 1)) - 1];
  };
  stats.median = values.size() % 2 == 1
                     ? values[values.size() / 2]
                     : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
  stats.p90 = rank(0.9);
  stats.max = values.back();
  return stats;
}

// One run; false when the two frames did not arrive.
bool measure(const Subject& subject, const std::string& seconds, double& startLatency,
             double& durationError) {
  PtyPair pty;
  RunOptions options;
  options.ports = {{1, pty.slavePath()}};
  options.wire = &pty;
  const ProgramRun run = subject.program.run(subject.args(seconds), options);
  if (run.exitStatus != 0 || run.wire.size() < 14) {
    return false;
  }
  startLatency = run.wireSeconds[6];
  durationError = run.wireSeconds[13] - run.wireSeconds[6] - std::stod(seconds);
  return true;
}

// ptsim's head, answering what the program sends as soon as the runner
// reads it.
std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> ptsimHead() {
  struct Head {
    ptmove::FrameDecoder decoder;
    ptmove::Receivers receivers;
    std::size_t read = 0;  // of the wire
  };
  auto head = std::make_shared<Head>();
  return [head](const std::vector<std::uint8_t>& wire) {
    std::vector<std::uint8_t> answer;
    for (const ptmove::DecodedItem& item :
         head->decoder.feed(wire.data() + head->read, wire.size() - head->read, 0.0)) {
      if (item.isFrame) {
        const ptmove::Received received = item.read();
        if (const auto reply = head->receivers.receive(received, 0.0, *item.protocol)) {
          const ptmove::CommandFrame frame = item.protocol->frame(received.address, *reply);
          answer.insert(answer.end(), frame.begin(), frame.end());
        }
      }
    }
    head->read = wire.size();
    return answer;
  };
}

// One position report: process start to the program's end; false when it
// did not read the position.
bool measureReport(const Subject& subject, double& seconds) {
  PtyPair pty;
  RunOptions options;
  options.ports = {{1, pty.slavePath()}};
  options.wire = &pty;
  options.answer = ptsimHead();
  const ProgramRun run = subject.program.run({"-com", "1", "-pos"}, options);
  seconds = run.endSeconds;
  return run.exitStatus == 0 && run.out.find("Posizione pan 0.00 gradi") != std::string::npos;
}

bool executable(const std::string& path) {
  return access(path.c_str(), X_OK) == 0;
}

void printRow(const std::string& name, const Stats& stats, const Stats& reference) {
  if (stats.runs == 0) {
    std::printf("  %-26s  failed to run\n", name.c_str());
    return;
  }
  const double ratio = reference.median != 0.0 ? stats.median / reference.median : 0.0;
  std::printf("  %-26s %4zu %9.3f %9.3f %9.3f %9.2fx\n", name.c_str(), stats.runs,
              stats.median * 1000, stats.p90 * 1000, stats.max * 1000, ratio);
}

// The rows, each with its median's ratio to the floor's (the second row).
void printTable(const char* title, const std::vector<Subject>& subjects,
                const std::vector<Stats>& stats) {
  std::printf("%s\n  %-26s %4s %9s %9s %9s %10s\n", title, "program", "runs", "median", "p90",
              "max", "/ floor");
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    printRow(subjects[i].name, stats[i], stats[kFloor]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 20;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: ptmove_bench [--runs N]\n");
      return 2;
    }
  }
  const auto moveRight = [](const std::string& seconds) {
    return std::vector<std::string>{"-com", "1", "-dir", "r", "-t", seconds};
  };
  std::vector<Subject> subjects = {
      {"ptmove (.deb, dynamic)", ProgramUnderTest({}, PTMOVE_PATH), moveRight, true},
      {"minimal C writer", ProgramUnderTest({}, MINIMAL_WRITER_PATH),
       [](const std::string& seconds) { return std::vector<std::string>{seconds}; }},
      {"ptmove (.tar.gz, static)", ProgramUnderTest({}, PTMOVE_STATIC_PATH), moveRight, true},
  };
  if (std::system("/usr/bin/python3 -c 'import serial' >/dev/null 2>&1") == 0) {
    subjects.push_back({"python3 + pyserial", ProgramUnderTest({}, "/usr/bin/python3"),
                        [](const std::string& seconds) {
                          return std::vector<std::string>{PYSERIAL_SCRIPT, seconds};
                        }});
  } else {
    std::printf("(pyserial not found: apt-get install python3-serial to compare with it)\n");
  }
  std::string winePrefix;
  if (executable(WINE_PATH) && executable(WINDOWS_PTMOVE_PATH)) {
    char folder[] = "/tmp/ptmove-bench-wine-XXXXXX";
    if (mkdtemp(folder) != nullptr) {
      winePrefix = std::string(folder) + "/prefix";
      const std::string start = std::string(WINE_PREFIX_SCRIPT) + " start " + WINE_PATH + " " +
                                winePrefix + " >/dev/null";
      if (std::system(start.c_str()) == 0) {
        subjects.push_back({"ptmove.exe under Wine",
                            ProgramUnderTest({WINE_PATH}, WINDOWS_PTMOVE_PATH, winePrefix),
                            moveRight, true});
      }
    }
  }

  std::printf("%d runs each, interleaved, times in milliseconds, on a pseudo-terminal\n\n", runs);
  std::vector<std::string> durations = {"0.1", "0.25", "1"};
  // latencies[subject], errors[duration][subject]
  std::vector<std::vector<double>> latencies(subjects.size());
  std::vector<std::vector<std::vector<double>>> errors(
      durations.size(), std::vector<std::vector<double>>(subjects.size()));
  // Each round starts with the next program, so that each follows every
  // other equally often: whatever one leaves behind (Wine's server at work
  // after its run) weighs on all alike.
  const auto inTurn = [&subjects](int run, std::size_t k) {
    return (k + static_cast<std::size_t>(run)) % subjects.size();
  };
  std::vector<std::vector<double>> reports(subjects.size());
  for (int run = 0; run < runs; ++run) {
    for (std::size_t k = 0; k < subjects.size(); ++k) {
      const std::size_t i = inTurn(run, k);
      double startLatency = 0.0;
      double durationError = 0.0;
      if (measure(subjects[i], "0", startLatency, durationError)) {
        latencies[i].push_back(startLatency);
      }
    }
    for (std::size_t k = 0; k < subjects.size(); ++k) {
      const std::size_t i = inTurn(run, k);
      double report = 0.0;
      if (subjects[i].reportsPosition && measureReport(subjects[i], report)) {
        reports[i].push_back(report);
      }
    }
    for (std::size_t d = 0; d < durations.size(); ++d) {
      for (std::size_t k = 0; k < subjects.size(); ++k) {
        const std::size_t i = inTurn(run, k);
        double startLatency = 0.0;
        double durationError = 0.0;
        if (measure(subjects[i], durations[d], startLatency, durationError)) {
          errors[d][i].push_back(durationError);
        }
      }
    }
  }
  std::vector<Stats> latency;
  std::vector<std::vector<Stats>> error(durations.size());
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    latency.push_back(statsOf(latencies[i]));
    for (std::size_t d = 0; d < durations.size(); ++d) {
      error[d].push_back(statsOf(errors[d][i]));
    }
  }
  printTable("start latency: process start to movement frame on the wire", subjects, latency);
  std::printf(
      "\nposition report (-pos): process start to its end, ptsim's head answering at "
      "once\n  %-26s %4s %9s %9s %9s %10s\n",
      "program", "runs", "median", "p90", "max", "- latency");
  for (std::size_t i = 0; i < subjects.size(); ++i) {
    const Stats report = statsOf(reports[i]);
    if (subjects[i].reportsPosition && report.runs > 0) {
      // Beyond the movement's start latency: the two queries and replies.
      std::printf("  %-26s %4zu %9.3f %9.3f %9.3f %10.3f\n", subjects[i].name.c_str(), report.runs,
                  report.median * 1000, report.p90 * 1000, report.max * 1000,
                  (report.median - latency[i].median) * 1000);
    }
  }
  for (std::size_t d = 0; d < durations.size(); ++d) {
    std::printf("\n");
    const std::string title =
        "duration error at -t " + durations[d] + ": movement-to-stop time less the requested wait";
    printTable(title.c_str(), subjects, error[d]);
  }
  if (!winePrefix.empty()) {
    const std::string stop =
        std::string(WINE_PREFIX_SCRIPT) + " stop " + WINE_PATH + " " + winePrefix;
    if (std::system(stop.c_str()) != 0) {
      std::printf("(could not remove the Wine prefix in %s)\n", winePrefix.c_str());
    }
  }
  return 0;
}
