// ptsim, the virtual head, run as users run it: around ptmove or any
// other command.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "program_runner.h"

namespace ptmove::testsupport {
namespace {

// ptsim's output with the pseudo-terminal's name, the timings and where
// the heads ended up masked.
std::string masked(const std::string& out) {
  std::string text = std::regex_replace(out, std::regex("/dev/pts/[0-9]+"), "PTY");
  text = std::regex_replace(text, std::regex("ended at pan [0-9.]+, tilt [0-9.]+"),
                            "ended at pan A, tilt A");
  return std::regex_replace(text, std::regex("[0-9]+\\.[0-9]{3} s"), "T s");
}

const std::string kEndedAtRest =
    "ended at pan A, tilt A degrees, zoom 0 %, focus 50 %, iris 50 %\n";

// The words that run one of the built programs: an emulator's, when the
// programs are built for another machine.
std::vector<std::string> launcher() {
  std::istringstream text(PTMOVE_TEST_LAUNCHER);
  std::vector<std::string> words;
  for (std::string word; text >> word;) {
    words.push_back(word);
  }
  return words;
}

ProgramUnderTest ptsim() {
  return ProgramUnderTest(launcher(), PTSIM_PATH);
}

// ptsim's arguments, with ptmove run through the launcher.
std::vector<std::string> launched(const std::vector<std::string>& args) {
  std::vector<std::string> result;
  for (const std::string& arg : args) {
    if (arg == PTMOVE_PATH) {
      const std::vector<std::string> words = launcher();
      result.insert(result.end(), words.begin(), words.end());
    }
    result.push_back(arg);
  }
  return result;
}

TEST(PtsimTest, DecodesWhatACommandSends) {
  const struct {
    std::vector<std::string> args;
    int exitStatus;
    std::string out;
  } cases[] = {
      {{"--", PTMOVE_PATH, "-com", "1", "-dir", "r", "-t", "0.2"},
       0,
       "ptsim: COM1 is PTY (PTMOVE_COM1)\n"
       "\nBrandeggio in movimento  \n\n"
       "  line: 2400 bit/s, 8 data bits, no parity, 1 stop bit\n"
       "  T s  FF 01 00 02 3F 00 42  receiver 1: pan right, speed 63\n"
       "  T s  FF 01 00 00 00 00 01  receiver 1: stop\n"
       "summary:\n"
       "  receiver 1: pan right, speed 63 for T s\n"
       "  receiver 1: " +
           kEndedAtRest},
      {{"-com", "4", "--", PTMOVE_PATH, "-com", "COM4", "-br", "9600", "-ch", "05", "-dir", "u",
        "-vel", "50", "-t", "0"},
       0,
       "ptsim: COM4 is PTY (PTMOVE_COM4)\n"
       "\nBrandeggio in movimento  \n\n"
       "  line: 9600 bit/s, 8 data bits, no parity, 1 stop bit\n"
       "  T s  FF 05 00 08 00 1F 2C  receiver 5: tilt up, speed 31\n"
       "  T s  FF 05 00 00 00 00 05  receiver 5: stop\n"
       "summary:\n"
       "  receiver 5: tilt up, speed 31 for T s\n  receiver 5: " +
           kEndedAtRest},
      // The line settings again when a run changes them; any other COM
      // number is refused and named, never a real port.
      {{"-com", "2", "--", "sh", "-c",
        "\"$@\" -com 2 -stop && \"$@\" -com 2 -br 9600 -stop && \"$@\" -com 1 -pos >/dev/null",
        "sh", PTMOVE_PATH},
       0,
       "ptsim: COM2 is PTY (PTMOVE_COM2)\n"
       "\nArresto del brandeggio\n\n"
       "  line: 2400 bit/s, 8 data bits, no parity, 1 stop bit\n"
       "  T s  FF 01 00 00 00 00 01  receiver 1: stop\n"
       "\nArresto del brandeggio\n\n"
       "  line: 9600 bit/s, 8 data bits, no parity, 1 stop bit\n"
       "  T s  FF 01 00 00 00 00 01  receiver 1: stop\n"
       "ptsim: COM1 was asked for, but COM2 is the one simulated: the port was refused\n"
       "summary:\n"
       "  COM1 was asked for, not the simulated COM2\n"
       "  receiver 1: stop (it was not moving)\n"
       "  receiver 1: " +
           kEndedAtRest},
      {{"--", "sh", "-c", "printf '\\015\\012\\377\\001\\000\\000\\000\\000\\001' >$PTMOVE_COM1"},
       0,
       "ptsim: COM1 is PTY (PTMOVE_COM1)\n"
       "  line: 38400 bit/s, 8 data bits, no parity, 1 stop bit (output processing on: bytes may "
       "be altered)\n"
       "  T s  0D 0D 0A  not a frame: skipped\n"
       "  T s  FF 01 00 00 00 00 01  receiver 1: stop\n"
       "summary:\n"
       "  receiver 1: stop (it was not moving)\n"
       "  receiver 1: " +
           kEndedAtRest},
      {{"-ack", "-echo", "-late", "0.2", "--", PTMOVE_PATH, "-com", "1", "-pos"},
       0,
       "ptsim: COM1 is PTY (PTMOVE_COM1)\n"
       "\nLettura della posizione del brandeggio\n\n"
       "  line: 2400 bit/s, 8 data bits, no parity, 1 stop bit\n"
       "  T s  FF 01 00 51 00 00 52  receiver 1: where is pan?\n"
       "  T s  FF 01 00 59 00 00 5A  receiver 1 answers: pan is at 0.00 degrees\n"
       "  T s  FF 01 00 53 00 00 54  receiver 1: where is tilt?\n"
       "  T s  FF 01 00 5B 00 00 5C  receiver 1 answers: tilt is at 0.00 degrees\n"
       "Posizione pan 0.00 gradi, tilt 0.00 gradi\n"
       "summary:\n"
       "  receiver 1: " +
           kEndedAtRest},
      {{"--", "sh", "-c", "exit 3"},
       3,
       "ptsim: COM1 is PTY (PTMOVE_COM1)\nsummary:\n  nothing was sent\n"},
  };
  const ProgramUnderTest program = ptsim();
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const ProgramRun run = program.run(launched(c.args));
    EXPECT_EQ(run.exitStatus, c.exitStatus);
    EXPECT_EQ(masked(run.out), c.out);
  }
}

TEST(PtsimTest, UsageOnRequestOrWithoutACommand) {
  const std::string usage =
      "usage: ptsim [-com N] [-late SECONDS | -silent] [-ack] [-echo] -- COMMAND [ARGS...]\n";
  const ProgramRun help = ptsim().run({"-h"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_EQ(help.out.rfind(usage, 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  const ProgramRun missing = ptsim().run({"-com", "1"});
  EXPECT_EQ(missing.exitStatus, 2);
  EXPECT_EQ(missing.err, usage);
}

}  // namespace
}  // namespace ptmove::testsupport
