// End-to-end: the built program, run as a process, against pseudo-terminals.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>

#include "emulated_calls.h"
#include "expected_texts.h"
#include "frame_decoder.h"
#include "full_device.h"
#include "program_runner.h"

namespace ptmove::testsupport {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kStop = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
const Bytes kRight = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
const std::string kMoving = "\nBrandeggio in movimento  \n\n";

Bytes then(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// The stop frame for one receiver: the checksum of a zero command is the
// address.
Bytes stopFor(std::uint8_t address) {
  return {0xFF, address, 0x00, 0x00, 0x00, 0x00, address};
}

// What standard output shows when something went wrong on the port.
bool showsFailure(const std::string& out) {
  for (const char* message : {"Failed to open port", "SetCommTimeouts failed",
                              "SetCommState failed", "WriteFile failed"}) {
    if (out.find(message) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The wire as a receiver reads it, each item timed by its last byte.
std::vector<DecodedItem> decodeWire(const ProgramRun& run) {
  FrameDecoder decoder;
  std::vector<DecodedItem> items;
  for (std::size_t i = 0; i < run.wire.size(); ++i) {
    for (DecodedItem& item : decoder.feed(&run.wire[i], 1, run.wireSeconds[i])) {
      items.push_back(item);
    }
  }
  for (DecodedItem& item : decoder.finish(run.wireSeconds.empty() ? 0 : run.wireSeconds.back())) {
    items.push_back(item);
  }
  return items;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = ProgramUnderTest::fromEnvironment();
    ASSERT_TRUE(program_.valid()) << "set PTMOVE_E2E_PROGRAM to the program to test";
  }

  // Runs and checks what every run that is not interrupted must do: exit
  // 0, and write to standard error exactly when a failure shows on
  // standard output.
  ProgramRun run(const std::vector<std::string>& args, const std::vector<PortBinding>& ports = {},
                 PtyPair* wire = nullptr) {
    RunOptions options;
    options.ports = ports;
    options.wire = wire;
    ProgramRun result = runWith(args, options, 0);
    EXPECT_EQ(result.err.empty(), !showsFailure(result.out)) << result.err;
    return result;
  }

  ProgramRun runWith(const std::vector<std::string>& args, const RunOptions& options,
                     int exitStatus) {
    ProgramRun result = program_.run(args, options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitStatus, exitStatus);
    return result;
  }

  // Runs `script` in a shell under ptsim with the options `head`, "$@"
  // standing for the program.
  ProgramRun runUnderPtsim(const std::vector<std::string>& head, const std::string& script,
                           double timeoutSeconds = 30.0) {
    RunOptions options;
    std::istringstream ptsim(PTSIM_COMMAND);
    for (std::string word; ptsim >> word;) {
      options.wrapper.push_back(word);
    }
    options.wrapper.insert(options.wrapper.end(), head.begin(), head.end());
    for (const char* word : {"--", "sh", "-c"}) {
      options.wrapper.push_back(word);
    }
    options.wrapper.push_back(script);
    options.wrapper.push_back("sh");
    options.timeoutSeconds = timeoutSeconds;
    return program_.run({}, options);
  }

  // A run under ptsim that ended well, whose output holds `says` and
  // `ended` (ptsim's log and summary) and, when given, not `never`.
  static void expectPtsimRun(const ProgramRun& run, const std::string& says,
                             const std::string& ended, const std::string& never) {
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find(says), std::string::npos) << run.out << run.err;
    EXPECT_NE(run.out.find(ended), std::string::npos) << run.out << run.err;
    if (!never.empty()) {
      EXPECT_EQ(run.out.find(never), std::string::npos) << run.out << run.err;
    }
  }

  ProgramUnderTest program_;
};

TEST_F(EndToEndTest, ConsoleTexts) {
  const std::string word = program_.programWord();
  ASSERT_FALSE(word.empty());
  const std::string help = helpText(word);
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{}, bannerText(word) + "\n"},
      {{"-h"}, "\n" + help},
      {{"-com", "1", "-dir", "r", "-t", "2", "-h"}, "\n" + help},
      {{"-com", "1", "-dir", "r", "-t", "2", "-d", "-h"},
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x01\n"
       "Direzione di movimento: destra\nTempo esecuzione comando 2 sec.\nComando inviato: \n"
       " 0xff 0x01 0x00 0x02 0x3f 0x00 0x42\n" +
           help},
      {{"-d"},
       "Porta selezionata COM0\nBaud rate 2400\nIndirizzo 0x01\nDirezione di movimento: "
       "Tempo esecuzione comando 1 sec.\nComando inviato: \n 0xff 0x01 0x00 0x00 0x00 0x00 0x01\n"},
      {{"-ch", "1FF", "-dir", "A", "-t", "0.25", "-br", "99999999999", "-d"},
       "Porta selezionata COM0\nBaud rate 2147483647\nIndirizzo 0x1ff\n"
       "Direzione di movimento: auto\n\nTempo esecuzione comando 0.25 sec.\nComando inviato: \n"
       " 0xff 0xff 0x09 0x00 0x00 0x00 0x08\n"
       "ATTENZIONE, non hai impostato i seguenti parametri\n"
       " - Non hai selezionato la porta seriale\n"},
      {{"-ch", "-100000000", "-t", " inf", "-d"},
       "Errore nell'impostare l'indirizzo della scheda\n"
       "Parametro \"-100000000\" errato. Utilizza -h per visualizzare l'help\n\n"},
      {{"-ch", " -100000000", "-t", " -nan", "-d"},
       "Porta selezionata COM0\nBaud rate 2400\nIndirizzo 0x01\nDirezione di movimento: "
       "Tempo esecuzione comando -nan sec.\nComando inviato: \n"
       " 0xff 0x01 0x00 0x00 0x00 0x00 0x01\n"
       "ATTENZIONE, non hai impostato i seguenti parametri\n"
       " - Non hai selezionato la porta seriale\n"
       " - Non hai selezionato la direzione di movimento\n"},
      {{"-ch", " -1a", "-t", "1e50", "-vel", " 0050", "-d"},
       "Porta selezionata COM0\nBaud rate 2400\nIndirizzo 0xffffffe6\nDirezione di movimento: "
       "Tempo esecuzione comando inf sec.\nComando inviato: \n"
       " 0xff 0xe6 0x00 0x00 0x00 0x00 0xe6\n"
       "ATTENZIONE, non hai impostato i seguenti parametri\n"
       " - Non hai selezionato la porta seriale\n"
       " - Non hai selezionato la direzione di movimento\n"},
      {{"-t", "1e-40", "-dir", "u", "-d"},
       "Porta selezionata COM0\nBaud rate 2400\nIndirizzo 0x01\nDirezione di movimento: su\n"
       "Tempo esecuzione comando 9.99995e-41 sec.\nComando inviato: \n"
       " 0xff 0x01 0x00 0x08 0x00 0x3f 0x48\n"
       "ATTENZIONE, non hai impostato i seguenti parametri\n"
       " - Non hai selezionato la porta seriale\n"},
      {{"-t", " -1e50", "-d"},
       "Porta selezionata COM0\nBaud rate 2400\nIndirizzo 0x01\nDirezione di movimento: "
       "Tempo esecuzione comando -inf sec.\nComando inviato: \n"
       " 0xff 0x01 0x00 0x00 0x00 0x00 0x01\n"
       "ATTENZIONE, non hai impostato i seguenti parametri\n"
       " - Non hai selezionato la porta seriale\n"
       " - Non hai selezionato la direzione di movimento\n"},
      {{"-dir", "r", "-t", "2"},
       "\nATTENZIONE, non hai impostato i seguenti parametri\n"
       " - Non hai selezionato la porta seriale\n"},
      {{"-com", "1", "-dir", "r", "-t", "2", "-br"},
       "Errore nell'impostare il Baud Rate della porta seriale\n\n"},
      {{"-com", "1", "-t", "2", "-dir", "x"},
       "Direzione non riconusciuta\n\nATTENZIONE, non hai impostato i seguenti parametri\n"
       " - Non hai selezionato la direzione di movimento\n"},
      {{"-vel", "101"},
       "Errore nell'impostare la velocita del brandeggio.\nDeve essere compresa tra 0 e 100\n"
       "Parametro \"101\" errato. Utilizza -h per visualizzare l'help\n\n"},
      {{"-xyz"}, "Parametro \"-xyz\" errato. Utilizza -h per visualizzare l'help\n\n"},
      {{"", "-d"}, "Parametro \"\" errato. Utilizza -h per visualizzare l'help\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run(c.args).out, c.out);
  }
}

TEST_F(EndToEndTest, MovesOnThePort) {
  const struct {
    std::vector<std::string> args;
    int com;
    speed_t speed;
    std::string out;
    Bytes wire;
  } cases[] = {
      {{"-com", "1", "-dir", "r", "-t", "0"}, 1, B2400, kMoving, then(kRight, kStop)},
      {{"-COM", "2", "-DIR", "R", "-T", "0.001"}, 2, B2400, kMoving, then(kRight, kStop)},
      {{"-com", "COM3", "-br", "9600", "-ch", "0A", "-dir", "d", "-t", "0"},
       3,
       B9600,
       kMoving,
       then({0xFF, 0x0A, 0x00, 0x10, 0x00, 0x3F, 0x59}, stopFor(0x0A))},
      {{"-com", "com12", "-br", "115200", "-dir", "u", "-vel", "50", "-t", "0", "-d"},
       12,
       B115200,
       "Porta selezionata COM12\nBaud rate 115200\nIndirizzo 0x01\nDirezione di movimento: su\n"
       "Tempo esecuzione comando 0 sec.\nComando inviato: \n"
       " 0xff 0x01 0x00 0x08 0x00 0x1f 0x28\n" +
           kMoving.substr(1),
       then({0xFF, 0x01, 0x00, 0x08, 0x00, 0x1F, 0x28}, kStop)},
      {{"-com", "4", "-ch", "05", "-dir", "a", "-t", "0"},
       4,
       B2400,
       kMoving,
       then({0xFF, 0x05, 0x09, 0x00, 0x00, 0x00, 0x0E}, stopFor(0x05))},
      {{"-com", "1", "-ch", "1FF", "-dir", "r", "-t", " -1"},
       1,
       B2400,
       kMoving,
       then({0xFF, 0xFF, 0x00, 0x02, 0x3F, 0x00, 0x40}, stopFor(0xFF))},
      {{"-ch", "-dir", "r", "-com", "3", "-t", " nan"},
       3,
       B2400,
       "Errore nell'impostare l'indirizzo della scheda\n" + kMoving,
       then({0xFF, 0xF3, 0x00, 0x02, 0x3F, 0x00, 0x34}, stopFor(0xF3))},
      {{"-com", "1", "-ch", "01", "-dir", "r", "-t", "0"}, 1, B2400, kMoving, then(kRight, kStop)},
      {{"-com", "1", "-dir", "r", "-dir", "-d", "-t", "0"},
       1,
       B2400,
       "Direzione non riconusciuta\nPorta selezionata COM1\nBaud rate 2400\nIndirizzo 0x01\n"
       "Direzione di movimento: Tempo esecuzione comando 0 sec.\nComando inviato: \n"
       " 0xff 0x01 0x00 0x02 0x3f 0x00 0x42\n" +
           kMoving.substr(1),
       then(kRight, kStop)},
      {{"-com", "1", "-br", "0", "-dir", "l", "-t", "0"},
       1,
       0,
       kMoving + "SetCommState failed\n",
       then({0xFF, 0x01, 0x00, 0x04, 0x3F, 0x00, 0x44}, kStop)},
      {{"-com", "1", "-ch", "0A", "-dir", "UR", "-vel", "50", "-t", "0", "-d"},
       1,
       B2400,
       "Porta selezionata COM1\nBaud rate 2400\nIndirizzo 0x0a\n"
       "Direzione di movimento: su e destra\nTempo esecuzione comando 0 sec.\n"
       "Comando inviato: \n 0xff 0x0a 0x00 0x0a 0x1f 0x1f 0x52\n" +
           kMoving.substr(1),
       then({0xFF, 0x0A, 0x00, 0x0A, 0x1F, 0x1F, 0x52}, stopFor(0x0A))},
      {{"-com", "1", "-dir", "zo", "-t", "0"},
       1,
       B2400,
       kMoving,
       then({0xFF, 0x01, 0x00, 0x40, 0x00, 0x00, 0x41}, kStop)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    PtyPair pty;
    const ProgramRun result = run(c.args, {{c.com, pty.slavePath()}}, &pty);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.wire, c.wire);
    const termios t = pty.slaveSettings();
    if (c.speed != 0) {
      EXPECT_EQ(cfgetospeed(&t), c.speed);
      EXPECT_EQ(cfgetispeed(&t), c.speed);
    }
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  }
}

TEST_F(EndToEndTest, StopFrameFollowsTheWait) {
  for (const char* seconds : {"0.3", "0.7"}) {
    SCOPED_TRACE(seconds);
    const double wait = std::stod(seconds);
    PtyPair pty;
    const std::vector<DecodedItem> items =
        decodeWire(run({"-com", "1", "-dir", "u", "-t", seconds}, {{1, pty.slavePath()}}, &pty));
    ASSERT_EQ(items.size(), 2u);
    ASSERT_TRUE(items[0].isFrame && items[1].isFrame);
    EXPECT_EQ(describe(items[0].read()), "tilt up, speed 63");
    EXPECT_EQ(describe(items[1].read()), "stop");
    const double gap = items[1].seconds - items[0].seconds;
    EXPECT_GE(gap, wait - 0.05);  // the reader may wake late for the first frame
    EXPECT_LT(gap, wait + 1.0);
  }
}

TEST_F(EndToEndTest, PortsThatCannotBeUsed) {
  const std::string failed = kMoving + "Failed to open port\n";
  const std::string notTerminal = kMoving + "SetCommTimeouts failed\nSetCommState failed\n";
  const std::string writesFail = notTerminal + "WriteFile failed\nWriteFile failed\n";
  const struct {
    std::vector<std::string> args;
    std::vector<PortBinding> ports;
    std::string out;
  } cases[] = {
      {{"-com", "9", "-dir", "r", "-t", "0"}, {{9, "/nonexistent/ttyUSB9"}}, failed},
      {{"-com", "0", "-dir", "r", "-t", "0"}, {}, failed},
      {{"-com", " -3", "-dir", "r", "-t", "0"}, {}, failed},
      {{"-com", "5", "-dir", "r", "-t", "0"}, {{5, nullDevice()}}, notTerminal},
      {{"-com", "5", "-dir", "r", "-t", "0"}, {{5, fullDevice()}}, writesFail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run(c.args, c.ports).out, c.out);
    // -e: sysexits.h's word for what failed.
    RunOptions options;
    options.ports = c.ports;
    std::vector<std::string> args = c.args;
    args.push_back("-e");
    EXPECT_EQ(runWith(args, options, c.out == failed ? 69 : 74).out, c.out);
  }
}

// Each failure adds one line to standard error saying why and what to do;
// standard output stays as it always was.
TEST_F(EndToEndTest, SaysWhyOnStandardError) {
  PtyPair locked;
  const int holder = open(locked.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  PtyPair rootOnly;
  // Root-only, and the program runs as nobody; a user's own pty is closed
  // to its owner.
  ASSERT_EQ(chmod(rootOnly.slavePath().c_str(), geteuid() == 0 ? 0600 : 0), 0);
  PtyPair clean;
  const std::string failed = kMoving + "Failed to open port\n";
  const struct {
    const char* what;
    PortBinding port;
    bool unprivileged;
    std::string out;
    std::vector<std::string> saysNatively;  // empty: not for Windows programs
    std::vector<std::string> saysUnderWine;
  } cases[] = {
      {"absent device",
       {9, "/nonexistent/ttyUSB9"},
       false,
       failed,
       {"cannot open COM9 (/nonexistent/ttyUSB9, from PTMOVE_COM9): No such file",
        "PTMOVE_COM9=/dev/serial/by-id/"},
       {"cannot open COM9: "}},
      {"no permission",
       {9, rootOnly.slavePath()},
       true,
       failed,
       {"cannot open COM9 (" + rootOnly.slavePath() + ", from PTMOVE_COM9): Permission denied"},
       {}},
      {"busy port",
       {9, locked.slavePath()},
       false,
       failed,
       {"in use by another program (", "process " + std::to_string(getpid()) + ")"},
       {}},
      {"not a terminal",
       {9, nullDevice()},
       false,
       kMoving + "SetCommTimeouts failed\nSetCommState failed\n",
       {"cannot set the timeouts of COM9 (" + nullDevice() +
            ", from PTMOVE_COM9): it is not a "
            "serial port",
        "cannot set the line of COM9 (" + nullDevice() + ", from PTMOVE_COM9) at 2400 bit/s"},
       {"cannot set the timeouts of COM9: ", "refused 2400 bit/s"}},
      {"clean run", {9, clean.slavePath()}, false, kMoving, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string>& says = program_.underWine() ? c.saysUnderWine : c.saysNatively;
    if (says.empty() && c.out != kMoving) {
      continue;  // nothing to compare with under Wine
    }
    RunOptions options;
    options.ports = {c.port};
    options.unprivileged = c.unprivileged;
    const ProgramRun result = runWith({"-com", "9", "-dir", "r", "-t", "0"}, options, 0);
    EXPECT_EQ(result.out, c.out);
    for (const std::string& text : says) {
      EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
    }
    // One line per failure, each starting with the program's name.
    const std::size_t lines = std::count(result.err.begin(), result.err.end(), '\n');
    EXPECT_EQ(lines, std::count(c.out.begin(), c.out.end(), '\n') - 3) << result.err;
    for (std::size_t at = 0; at < result.err.size(); at = result.err.find('\n', at) + 1) {
      EXPECT_EQ(result.err.compare(at, 8, "ptmove: "), 0) << result.err;
    }
  }
  close(holder);
}

TEST_F(EndToEndTest, PosixProgramLeavesAPortLockedByAnother) {
  if (program_.underWine()) {
    GTEST_SKIP() << "Wine does not see POSIX locks; a second run covers busy ports there";
  }
  PtyPair pty;
  const int holder = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  ProgramRun result = run({"-com", "1", "-dir", "r", "-t", "0"}, {{1, pty.slavePath()}}, &pty);
  EXPECT_EQ(result.out, kMoving + "Failed to open port\n");
  EXPECT_TRUE(result.wire.empty());

  flock(holder, LOCK_UN);
  if (callMissing(holder, TIOCGEXCL)) {
    close(holder);
    GTEST_SKIP() << "TIOCGEXCL answers ENOSYS here (qemu-user): exclusive mode cannot be told";
  }
  ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
  result = run({"-com", "1", "-dir", "r", "-t", "0"}, {{1, pty.slavePath()}}, &pty);
  EXPECT_EQ(result.out, kMoving + "Failed to open port\n");
  EXPECT_TRUE(result.wire.empty());
  ioctl(holder, TIOCNXCL);
  close(holder);

  result = run({"-com", "1", "-dir", "r", "-t", "0"}, {{1, pty.slavePath()}}, &pty);
  EXPECT_EQ(result.wire, then(kRight, kStop)) << "usable once released";
}

TEST_F(EndToEndTest, SecondRunOnAMovingPortSendsNothing) {
  PtyPair pty;
  const std::vector<PortBinding> ports = {{1, pty.slavePath()}};
  auto first = std::async(std::launch::async, [&] {
    return run({"-com", "1", "-dir", "r", "-t", "1.5"}, ports, &pty);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto start = std::chrono::steady_clock::now();
  const ProgramRun second = run({"-com", "1", "-dir", "l", "-t", "0"}, ports);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1))
      << "a refused run lets the port go at once";
  EXPECT_EQ(second.out, kMoving + "Failed to open port\n");
  const ProgramRun moved = first.get();
  EXPECT_EQ(moved.out, kMoving);
  EXPECT_EQ(moved.wire, then(kRight, kStop));
}

// Whatever ends the program mid-movement, the receiver that moved is
// stopped: interrupts by the program itself, SIGKILL by its stop guard.
// Windows programs under Wine know only SIGKILL among these (their Ctrl+C
// is tested below).
TEST_F(EndToEndTest, StopsTheHeadWhateverEndsTheProgram) {
  const Bytes moveFive = {0xFF, 0x05, 0x00, 0x02, 0x3F, 0x00, 0x46};
  for (int signal : {SIGKILL, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) {
    if (program_.underWine() && signal != SIGKILL) {
      continue;
    }
    SCOPED_TRACE(signal);
    PtyPair pty;
    RunOptions options;
    options.ports = {{1, pty.slavePath()}};
    options.wire = &pty;
    options.wireBytes = 21;
    options.actions = {{1.0, [signal](pid_t pid) { kill(pid, signal); }}};
    const ProgramRun result =
        runWith({"-com", "1", "-ch", "05", "-dir", "r", "-t", "30"}, options, 128 + signal);
    EXPECT_EQ(result.out, kMoving);
    ASSERT_EQ(result.wire, then(moveFive, stopFor(0x05)));
    EXPECT_LT(result.wireSeconds.back(), 1.0 + 1.0) << "stop frames soon after the signal";
    if (signal != SIGKILL) {
      EXPECT_NE(result.err.find("during the movement; the stop frames were sent"),
                std::string::npos)
          << result.err;
    }
  }
}

// The processes a process started, from the kernel's list.
std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::FILE* list = std::fopen(
      ("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children").c_str(), "r");
  if (list != nullptr) {
    for (int child = 0; std::fscanf(list, "%d", &child) == 1;) {
      children.push_back(child);
    }
    std::fclose(list);
  }
  return children;
}

// The program's stop guard: natively its child; under Wine, which starts
// it apart from the program, the other ptmove.exe there is (the tests of the
// Windows program run one at a time).
std::vector<pid_t> guardsOf(pid_t pid, bool underWine) {
  if (!underWine) {
    return childrenOf(pid);
  }
  std::vector<pid_t> guards;
  for (const auto& process : std::filesystem::directory_iterator("/proc")) {
    const pid_t other = std::atoi(process.path().filename().c_str());
    std::string name;  // its argument 0
    std::ifstream cmdline(process.path() / "cmdline");
    std::getline(cmdline, name, '\0');
    const std::string exe = "ptmove.exe";
    if (other > 0 && other != pid && name.size() >= exe.size() &&
        name.compare(name.size() - exe.size(), exe.size(), exe) == 0) {
      guards.push_back(other);
    }
  }
  return guards;
}

// Kills the program's stop guard alone, or the guard and the program.
std::function<void(pid_t)> killGuard(bool andProgram, bool underWine) {
  return [andProgram, underWine](pid_t pid) {
    for (pid_t guard : guardsOf(pid, underWine)) {
      kill(guard, SIGKILL);
    }
    if (andProgram) {
      kill(pid, SIGKILL);
    }
  };
}

// A guard that dies ends the movement at once; a kill of both may win the
// race to the head, but never leaves the port unusable for the next run.
TEST_F(EndToEndTest, WatchesItsGuard) {
  const struct {
    const char* what;
    bool andProgram;
    bool lineFull;  // the frame's write waits for room when the kills come
    int exitStatus;
  } cases[] = {{"the guard killed", false, false, 0},
               {"guard and program killed", true, false, 128 + SIGKILL},
               {"both killed inside a write", true, true, 128 + SIGKILL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyPair pty;  // holds the terminal open, as a monitor of the line would
    RunOptions options;
    options.ports = {{1, pty.slavePath()}};
    options.wire = c.lineFull ? nullptr : &pty;
    if (c.lineFull) {
      termios raw = pty.slaveSettings();
      cfmakeraw(&raw);
      tcsetattr(pty.slave(), TCSANOW, &raw);
      fcntl(pty.slave(), F_SETFL, fcntl(pty.slave(), F_GETFL) | O_NONBLOCK);
      // Until the line takes nothing more, even once the kernel has moved
      // what it took on to the reader's side.
      const std::vector<std::uint8_t> filler(4096, 0x00);
      for (bool tookSome = true; tookSome;) {
        tookSome = false;
        while (write(pty.slave(), filler.data(), filler.size()) > 0) {
          tookSome = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    // Late enough for the Windows program's guard to be there.
    options.actions = {{1.0, killGuard(c.andProgram, program_.underWine())}};
    const ProgramRun killed =
        runWith({"-com", "1", "-dir", "r", "-t", "30"}, options, c.exitStatus);
    while (!pty.readAvailable().empty()) {
      // room on the line again for the next run
    }
    if (!c.andProgram) {
      ASSERT_EQ(killed.wire, then(kRight, kStop));
      EXPECT_LT(killed.wireSeconds.back(), 1.0 + 1.0) << "the stop at once";
      EXPECT_NE(killed.err.find("the movement was ended at once"), std::string::npos) << killed.err;
    }
    int exclusive = 0;
    if (!callMissing(pty.slave(), TIOCGEXCL)) {  // qemu-user cannot tell
      ASSERT_EQ(ioctl(pty.slave(), TIOCGEXCL, &exclusive), 0);
      EXPECT_EQ(exclusive, 0) << "the terminal is not left in exclusive mode";
    }
    const ProgramRun next = run({"-com", "1", "-dir", "l", "-t", "0"}, options.ports, &pty);
    EXPECT_EQ(next.out, kMoving) << "the next run opens the port: " << next.err;
  }
}

// Output that cannot leave (flow suspended by another holder of the line)
// holds no write for long: each frame gets its time on the wire plus two
// seconds, and an interrupt ends the wait for it at once.
TEST_F(EndToEndTest, PosixProgramEndsWhenOutputIsSuspended) {
  if (program_.underWine()) {
    GTEST_SKIP() << "Wine cannot cancel a Windows program's blocked serial write";
  }
  // One bound for the stop frame and its drain together, whichever
  // receiver moved.
  const struct {
    const char* address;
    const char* seconds;
    int signal;
    double endsBefore;
    int framesNotSent;
  } cases[] = {{"01", "30", SIGINT, 0.5 + 2.1 + 1.0, 2},
               {"01", "0", 0, 2.1 + 2.1 + 1.0, 2},
               {"05", "0", 0, 2.1 + 2.1 + 1.0, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " " + std::to_string(c.signal));
    PtyPair pty;
    pty.suspendOutput();
    RunOptions options;
    options.ports = {{1, pty.slavePath()}};
    options.wire = &pty;
    if (c.signal != 0) {
      options.actions = {{0.5, [&c](pid_t pid) { kill(pid, c.signal); }}};
    }
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun result = runWith({"-com", "1", "-ch", c.address, "-dir", "r", "-t", c.seconds},
                                      options, c.signal == 0 ? 0 : 128 + c.signal);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::duration<double>(c.endsBefore));
    std::string failures;
    for (int i = 0; i < c.framesNotSent; ++i) {
      failures += "WriteFile failed\n";
    }
    EXPECT_EQ(result.out, kMoving + failures);
    EXPECT_TRUE(result.wire.empty());
  }
}

// Wine turns SIGINT into the console's Ctrl+C event for Windows programs.
TEST_F(EndToEndTest, WindowsProgramStopsTheHeadOnCtrlC) {
  if (!program_.underWine()) {
    GTEST_SKIP() << "for the Windows program under Wine";
  }
  PtyPair pty;
  RunOptions options;
  options.ports = {{1, pty.slavePath()}};
  options.wire = &pty;
  options.actions = {{1.0, [](pid_t pid) { kill(pid, SIGINT); }}};
  const ProgramRun result = program_.run({"-com", "1", "-dir", "r", "-t", "30"}, options);
  EXPECT_FALSE(result.timedOut);
  EXPECT_NE(result.exitStatus, 0) << "ends as interrupted";
  EXPECT_EQ(result.out, kMoving);
  ASSERT_EQ(result.wire, then(kRight, kStop));
  EXPECT_LT(result.wireSeconds.back(), 1.0 + 2.0) << "stop frame soon after Ctrl+C";
}

TEST_F(EndToEndTest, PosixProgramKeepsIgnoringAnIgnoredHangUp) {
  if (program_.underWine()) {
    GTEST_SKIP() << "Wine does not pass POSIX signals on to Windows programs";
  }
  PtyPair pty;
  RunOptions options;
  options.ports = {{1, pty.slavePath()}};
  options.wire = &pty;
  options.ignoredSignals = {SIGHUP};
  options.actions = {{0.2, [](pid_t pid) { kill(pid, SIGHUP); }}};
  const ProgramRun result = runWith({"-com", "1", "-dir", "r", "-t", "0.6"}, options, 0);
  ASSERT_EQ(result.wire, then(kRight, kStop));
  EXPECT_GE(result.wireSeconds[7] - result.wireSeconds[6], 0.55);
}

// The head's other commands: their line, their frames, no stop; and the
// position report against a head that answers among other bytes, in
// pieces, or not at all.
TEST_F(EndToEndTest, CarriesOutTheHeadsOtherCommands) {
  const Bytes panQuery = {0xFF, 0x01, 0x00, 0x51, 0x00, 0x00, 0x52};
  const Bytes tiltQuery = {0xFF, 0x01, 0x00, 0x53, 0x00, 0x00, 0x54};
  const Bytes panReply = {0xFF, 0x01, 0x00, 0x59, 0x30, 0x39, 0xC3};
  const Bytes tiltReply = {0xFF, 0x01, 0x00, 0x5B, 0x03, 0xE8, 0x47};
  const Bytes general = {0xFF, 0x01, 0x00, 0x01};
  // Pelco P: the queries, a receiver's acknowledgement, a reply with a bad
  // checksum, and the replies.
  const Bytes panQueryP = {0xA0, 0x01, 0x00, 0x51, 0x00, 0x00, 0xAF, 0x5F};
  const Bytes tiltQueryP = {0xA0, 0x01, 0x00, 0x53, 0x00, 0x00, 0xAF, 0x5D};
  const Bytes panReplyP = {0xA0, 0x01, 0x00, 0x59, 0x30, 0x39, 0xAF, 0x5E};
  const Bytes brokenP = {0xA0, 0x01, 0x00, 0x59, 0x00, 0x00, 0xAF, 0x00};
  const Bytes tiltReplyP = {0xA0, 0x01, 0x00, 0x5B, 0x03, 0xE8, 0xAF, 0xBE};
  const auto headFor = [](Bytes panAsked, Bytes tiltAsked, Bytes afterPan, Bytes afterTilt) {
    return [=](const Bytes& wire) {
      const auto endsWith = [&wire](const Bytes& query) {
        return wire.size() >= query.size() &&
               std::equal(query.begin(), query.end(), wire.end() - query.size());
      };
      return endsWith(panAsked) ? afterPan : endsWith(tiltAsked) ? afterTilt : Bytes();
    };
  };
  const auto head = [&](Bytes afterPan, Bytes afterTilt) {
    return headFor(panQuery, tiltQuery, afterPan, afterTilt);
  };
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::function<Bytes(const Bytes&)> answer;
    std::string out;
    Bytes wire;
  } cases[] = {
      {"a preset",
       {"-com", "1", "-ch", "0A", "-preset", "3"},
       nullptr,
       "\nBrandeggio verso il preset 3\n\n",
       {0xFF, 0x0A, 0x00, 0x07, 0x00, 0x03, 0x14}},
      {"a position",
       {"-com", "1", "-pan", "123.45", "-tilt", "10"},
       nullptr,
       "\nBrandeggio verso la posizione impostata\n\n",
       then({0xFF, 0x01, 0x00, 0x4B, 0x30, 0x39, 0xB5},
            {0xFF, 0x01, 0x00, 0x4D, 0x03, 0xE8, 0x39})},
      {"where the head is, among a general response and the echo",
       {"-com", "1", "-pos"},
       head(then(then(general, panQuery), panReply), tiltReply),
       "\nLettura della posizione del brandeggio\n\nPosizione pan 123.45 gradi, tilt 10.00 gradi\n",
       then(panQuery, tiltQuery)},
      {"a head that does not answer",
       {"-com", "1", "-pos"},
       nullptr,
       "\nLettura della posizione del brandeggio\n\nNessuna risposta dal brandeggio\n",
       then(panQuery, tiltQuery)},
      {"a Pelco P head, among its acknowledgement and a reply with a bad checksum",
       {"-com", "1", "-proto", "p", "-pos"},
       headFor(panQueryP, tiltQueryP, then(then({0xA2}, brokenP), panReplyP), tiltReplyP),
       "\nLettura della posizione del brandeggio\n\nPosizione pan 123.45 gradi, tilt 10.00 gradi\n",
       then(panQueryP, tiltQueryP)},
      {"a Pelco P preset",
       {"-com", "1", "-proto", "P", "-ch", "0A", "-setpreset", "3"},
       nullptr,
       "\nMemorizzazione del preset 3\n\n",
       {0xA0, 0x0A, 0x00, 0x03, 0x00, 0x03, 0xAF, 0x05}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyPair pty;
    RunOptions options;
    options.ports = {{1, pty.slavePath()}};
    options.wire = &pty;
    options.answer = c.answer;
    const ProgramRun result = runWith(c.args, options, 0);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.wire, c.wire);
  }
}

// Scripts against ptsim, the virtual head: a diagonal as the head takes
// it, and where the head is after going to a position or a preset, read
// as heads answer: at once, among general responses and the echo of the
// queries, late, or not at all. What a script trusts: no stale reply taken
// for an answer, a second receiver on the line left alone, a plain stop,
// the wait for the head to arrive, and the exit status.
TEST_F(EndToEndTest, ReadsWherePtsimsHeadIs) {
  const struct {
    const char* what;
    std::vector<std::string> head;  // ptsim's options
    std::string script;             // "$@" runs the program
    std::string says;
    std::string ended;
    std::string never = "";  // what the output must not hold
  } cases[] = {
      {"after a position",
       {},
       "\"$@\" -com 1 -pan 123.45 -tilt 10 && sleep 1 && \"$@\" -com 1 -pos",
       "Posizione pan 123.45 gradi, tilt 10.00 gradi\n",
       "ended at pan 123.45, tilt 10.00 degrees"},
      {"back at a preset, among general responses and the echo, a little late",
       {"-ack", "-echo", "-late", "0.3"},
       "\"$@\" -com 1 -pan 90 && sleep 0.5 && \"$@\" -com 1 -setpreset 5 && "
       "\"$@\" -com 1 -pan 200 && \"$@\" -com 1 -preset 5 && sleep 1 && \"$@\" -com 1 -pos",
       "Posizione pan 90.00 gradi, tilt 0.00 gradi\n",
       "preset 5 at pan 90.00, tilt 0.00 degrees"},
      {"a diagonal",
       {},
       "\"$@\" -com 1 -dir UR -t 0.3",
       kMoving,
       "receiver 1: tilt up, speed 63, pan right, speed 63 for 0."},
      {"a head that does not answer",
       {"-silent"},
       "\"$@\" -com 1 -pos",
       "Nessuna risposta dal brandeggio\n",
       "ended at pan 0.00, tilt 0.00 degrees"},
      {"replies that came too late for a query are not the next one's",
       {"-late", "2.5"},
       "\"$@\" -com 1 -pos; sleep 1.6; \"$@\" -com 1 -pan 200; sleep 1; \"$@\" -com 1 -pos",
       "Nessuna risposta dal brandeggio\n",
       "ended at pan 200.00",
       "Posizione pan"},
      {"a second receiver on the line",
       {},
       "\"$@\" -com 1 -pan 180 && \"$@\" -com 1 -ch 05 -dir u -t 0.1 && sleep 1 && "
       "\"$@\" -com 1 -pos",
       "Posizione pan 180.00 gradi, tilt 0.00 gradi\n",
       "receiver 5: tilt up",
       "receiver 1: stop"},
      {"a plain stop",
       {},
       "\"$@\" -com 1 -ch 3 -stop -d",
       "Azione: arresto\nComando inviato: \n 0xff 0x03 0x00 0x00 0x00 0x00 0x03\n"
       "Arresto del brandeggio\n",
       "FF 03 00 00 00 00 03  receiver 3: stop",
       "Direzione"},
      {"arrived at a position",
       {},
       "\"$@\" -e -com 1 -pan 200 -tilt 20 -wait 5; echo \"status $?\"",
       "Brandeggio arrivato: pan 200.00 gradi, tilt 20.00 gradi\nstatus 0\n",
       "ended at pan 200.00, tilt 20.00 degrees"},
      {"arrived at a preset",
       {"-ack"},
       "\"$@\" -com 1 -pan 90 -wait 5 && \"$@\" -com 1 -setpreset 5 && \"$@\" -com 1 -pan 300 && "
       "\"$@\" -e -com 1 -preset 5 -wait 5; echo \"status $?\"",
       "Brandeggio arrivato: pan 90.00 gradi, tilt 0.00 gradi\nstatus 0\n",
       "ended at pan 90.00, tilt 0.00 degrees"},
      {"not arrived in time",
       {"-late", "0.3"},
       "\"$@\" -e -com 1 -pan 180 -wait 0.1; echo \"status $?\"",
       "status 75\n",
       "receiver 1: go to pan 180.00 degrees",
       "Brandeggio arrivato"},
      {"no answer while waiting",
       {"-silent"},
       "\"$@\" -e -com 1 -preset 2 -wait 1; echo \"status $?\"",
       "Nessuna risposta dal brandeggio\nstatus 76\n",
       "receiver 1: go to preset 2"},
      {"Pelco P: a diagonal, and the stop to the receiver that moved",
       {},
       "\"$@\" -com 1 -proto p -ch 3 -dir ur -t 0.3 -d",
       "Comando inviato: \n 0xa0 0x03 0x00 0x0a 0x3f 0x3f 0xaf 0x06\n",
       "receiver 3 (Pelco P): tilt up, speed 63, pan right, speed 63 for 0.",
       "receiver 1"},
      {"Pelco P: a position waited for and read back, among acknowledgements and the echo",
       {"-ack", "-echo", "-late", "0.3"},
       "\"$@\" -e -com 1 -proto p -pan 45 -tilt 30 -wait 5; echo \"status $?\"; "
       "\"$@\" -com 1 -proto p -pos",
       "Brandeggio arrivato: pan 45.00 gradi, tilt 30.00 gradi\nstatus 0\n",
       "Posizione pan 45.00 gradi, tilt 30.00 gradi\n"},
      {"Pelco P: the lens and a preset",
       {},
       "\"$@\" -com 1 -proto p -dir zi -t 0.4 && \"$@\" -com 1 -proto p -setpreset 7 && "
       "\"$@\" -com 1 -proto p -pan 100 && \"$@\" -e -com 1 -proto p -preset 7 -wait 5; "
       "echo \"status $?\"",
       "Brandeggio arrivato: pan 0.00 gradi, tilt 0.00 gradi\nstatus 0\n",
       "receiver 1 (Pelco P): zoom tele for 0."},
      {"no port for the position",
       {},
       "\"$@\" -e -pos; echo \"status $?\"",
       "ATTENZIONE, non hai impostato i seguenti parametri\n - Non hai selezionato la porta "
       "seriale\nstatus 64\n",
       "nothing was sent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Wine finds COM1 through its prefix's link, which is made to point at
    // ptsim's pseudo-terminal.
    const std::string link =
        program_.underWine() ? "ln -sfn \"$PTMOVE_COM1\" \"$WINEPREFIX/dosdevices/com1\" && " : "";
    expectPtsimRun(runUnderPtsim(c.head, link + c.script), c.says, c.ended, c.never);
  }
}

// A port whose device vanishes mid-movement (an unplugged USB adapter) is
// let go at once and opened again by its name for the stop. The port is a
// link, as /dev/serial/by-id names are: the first pseudo-terminal is hung up
// as an unplugged adapter is, and the device that comes back is a second.
// The link is changed in one step before the device goes, and for a device
// gone for good the Windows program's link names one that cannot be opened
// (a pseudo-terminal left locked): Wine would open the machine's own
// /dev/ttyS0 in place of a COM port whose link dangles.
TEST_F(EndToEndTest, OpensAVanishedPortAgain) {
  const struct {
    const char* what;
    bool comesBack;
    std::string out;
    std::string says;
  } cases[] = {
      {"comes back", true, kMoving, "opened again "},
      {"gone for good", false, kMoving + "WriteFile failed\n",
       "and was not back within 5.0 s of the stop"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyPair first;
    PtyPair second;
    const int locked = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(locked >= 0 && grantpt(locked) == 0);
    const std::string lockedPath = ptsname(locked);
    const std::string link = testing::TempDir() + "ptmove-e2e-port-" + std::to_string(getpid());
    const auto pointLinkAt = [&link](const std::string& device) {
      const std::string next = link + ".next";
      unlink(next.c_str());
      return symlink(device.c_str(), next.c_str()) == 0 && rename(next.c_str(), link.c_str()) == 0;
    };
    ASSERT_TRUE(pointLinkAt(first.slavePath()));
    RunOptions options;
    options.ports = {{1, link}};
    options.wire = &first;
    // Late enough for the Windows program's movement frame to be out.
    options.actions = {{1.0, [&](pid_t) {
                          if (c.comesBack || program_.underWine()) {
                            EXPECT_TRUE(pointLinkAt(c.comesBack ? second.slavePath() : lockedPath));
                          } else {
                            unlink(link.c_str());
                          }
                          if (!first.hangUp()) {
                            first.closeMaster();  // all an unprivileged user can do
                          }
                        }}};
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun result = runWith({"-com", "1", "-dir", "r", "-t", "2"}, options, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2 + 6)) << "no hang";
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.wire, kRight);
    EXPECT_EQ(second.readAvailable(), c.comesBack ? kStop : Bytes());
    EXPECT_NE(result.err.find("COM1"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" vanished "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    unlink(link.c_str());
    close(locked);
  }
}

// What a caller's environment does to the program: closed standard
// descriptors, interrupts blocked in the inherited mask, a terminal that
// stops a background job, a standard output that is non-blocking or that
// nobody reads.
TEST_F(EndToEndTest, PosixProgramStandsItsCallersEnvironment) {
  if (program_.underWine()) {
    GTEST_SKIP() << "POSIX descriptors, signal masks and job control";
  }
  const std::string huge(131071, 'x');
  const struct {
    const char* what;
    std::vector<std::string> args;
    RunOptions options;
    bool suspendLine;
    int exitStatus;
    std::string out;  // "-" when not read
    Bytes wire;
  } cases[] = {
      {"stderr closed",
       {"-com", "1", "-br", "0", "-dir", "r", "-t", "0"},
       [] {
         RunOptions o;
         o.closedDescriptors = {2};
         return o;
       }(),
       false,
       0,
       kMoving + "SetCommState failed\n",
       then(kRight, kStop)},
      {"all three closed",
       {"-com", "1", "-br", "0", "-dir", "r", "-t", "0"},
       [] {
         RunOptions o;
         o.closedDescriptors = {0, 1, 2};
         return o;
       }(),
       false,
       0,
       "",
       then(kRight, kStop)},
      {"SIGTERM blocked by the parent",
       {"-com", "1", "-dir", "r", "-t", "30"},
       [] {
         RunOptions o;
         o.blockedSignals = {SIGTERM, SIGINT, SIGHUP};
         o.actions = {{0.5, [](pid_t pid) { kill(pid, SIGTERM); }}};
         return o;
       }(),
       false,
       128 + SIGTERM,
       kMoving,
       then(kRight, kStop)},
      {"a background job of the port",
       {"-com", "1", "-dir", "r", "-t", "0"},
       [] {
         RunOptions o;
         o.backgroundJobOnPort = true;
         return o;
       }(),
       false,
       0,
       kMoving,
       then(kRight, kStop)},
      {"non-blocking output",
       {"-d", huge},
       [] {
         RunOptions o;
         o.nonBlockingOutput = true;
         return o;
       }(),
       false,
       0,
       "Parametro \"" + huge + "\" errato. Utilizza -h per visualizzare l'help\n\n",
       {}},
      {"output nobody reads, a line that takes nothing",
       {"-com", "1", "-dir", "r", "-t", "0"},
       [] {
         RunOptions o;
         o.outputRoom = static_cast<int>(kMoving.size());
         o.actions = {{5.0, [](pid_t pid) { kill(pid, SIGTERM); }}};
         return o;
       }(),
       true,
       128 + SIGTERM,
       "-",
       {}},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.what);
    PtyPair pty;
    if (c.suspendLine) {
      pty.suspendOutput();
    }
    c.options.ports = {{1, pty.slavePath()}};
    c.options.wire = &pty;
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun result = runWith(c.args, c.options, c.exitStatus);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(7));
    if (c.out != "-") {
      EXPECT_TRUE(result.out == c.out) << result.out.substr(0, 200);
    }
    EXPECT_EQ(result.wire, c.wire) << "nothing but the frames on the line";
  }
}

// Short of memory anywhere in its start, the program ends with what it
// could print, or "out of memory" on standard error, never with an abort;
// a movement frame that went out is followed by the stop frame.
TEST_F(EndToEndTest, PosixProgramShortOfMemoryNeverAborts) {
  const auto runWithin = [this](std::size_t kibibytes) {
    PtyPair pty;
    RunOptions options;
    options.ports = {{1, pty.slavePath()}};
    options.wire = &pty;
    options.addressSpace = kibibytes * 1024;
    return program_.run({"-com", "1", "-dir", "r", "-t", "0"}, options);
  };
  if (program_.underWine() || runWithin(64 * 1024).wire != then(kRight, kStop)) {
    GTEST_SKIP() << "the program needs more than 64 MiB of address space here "
                    "(Wine, an emulator or a sanitizer)";
  }
  for (std::size_t kibibytes = 1024; kibibytes <= 8192; kibibytes += 128) {
    SCOPED_TRACE(kibibytes);
    const ProgramRun result = runWithin(kibibytes);
    EXPECT_NE(result.exitStatus, 128 + SIGABRT) << result.err;
    if (!result.wire.empty()) {
      EXPECT_EQ(result.wire, then(kRight, kStop));
    }
  }
}

// A file named as the port by mistake is refused, and left as it was.
TEST_F(EndToEndTest, RefusesAFileAsThePort) {
  const std::string notes = testing::TempDir() + "ptmove-e2e-notes-" + std::to_string(getpid());
  {
    std::FILE* file = std::fopen(notes.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("notes\n", file);
    std::fclose(file);
  }
  const ProgramRun result = run({"-com", "1", "-dir", "r", "-t", "0"}, {{1, notes}});
  EXPECT_EQ(result.out, kMoving + "Failed to open port\n");
  EXPECT_NE(result.err.find(", not a serial port"), std::string::npos) << result.err;
  std::FILE* file = std::fopen(notes.c_str(), "r");
  ASSERT_NE(file, nullptr);
  char kept[16] = {};
  EXPECT_STREQ(std::fgets(kept, sizeof kept, file), "notes\n") << "the file is left alone";
  std::fclose(file);
  unlink(notes.c_str());
}

TEST_F(EndToEndTest, DurationEdges) {
  const struct {
    const char* seconds;
    double minGap;
    double maxGap;
  } cases[] = {
      {" -1", 0.0, 0.15}, {" nan", 0.0, 0.15},   {" -inf", 0.0, 0.15},
      {"0", 0.0, 0.15},   {"0.0005", 0.0, 0.15}, {"0.7", 0.65, 1.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    PtyPair pty;
    const ProgramRun result =
        run({"-com", "1", "-dir", "r", "-t", c.seconds}, {{1, pty.slavePath()}}, &pty);
    EXPECT_EQ(result.out, kMoving);
    ASSERT_EQ(result.wire, then(kRight, kStop));
    const double gap = result.wireSeconds[7] - result.wireSeconds[6];
    EXPECT_GE(gap, c.minGap);
    EXPECT_LT(gap, c.maxGap);
  }
}

TEST_F(EndToEndTest, AnyBytesInArguments) {
  std::vector<std::string> words = {"\x01\x02", "\x7f", "%s%n%x", "\\"};
  if (!program_.underWine()) {
    // Non-ASCII bytes go through code pages on Windows.
    words.insert(words.end(), {"\xc3\xa8", "\xff\xfe"});
  }
  for (const std::string& word : words) {
    EXPECT_EQ(run({"-d", word}).out,
              "Parametro \"" + word + "\" errato. Utilizza -h per visualizzare l'help\n\n");
    EXPECT_EQ(run({"-t", "2", "-dir", word}).out,
              "Direzione non riconusciuta\n\nATTENZIONE, non hai impostato i seguenti parametri\n"
              " - Non hai selezionato la porta seriale\n"
              " - Non hai selezionato la direzione di movimento\n");
  }
}

TEST_F(EndToEndTest, HugeAndManyArguments) {
  // The longest single argument Linux passes, or what fits a Windows
  // command line.
  const std::string huge(program_.underWine() ? 30000 : 131071, 'x');
  EXPECT_TRUE(run({"-d", huge}).out ==
              "Parametro \"" + huge + "\" errato. Utilizza -h per visualizzare l'help\n\n");
  std::vector<std::string> many;
  const int pairs = program_.underWine() ? 2000 : 5000;
  for (int i = 0; i < pairs; ++i) {
    many.insert(many.end(), {"-ch", std::to_string(i)});
  }
  many.insert(many.end(), {"-d"});
  const std::string out = run(many).out;
  // The last -ch wins; its decimal-looking digits are read as hexadecimal.
  EXPECT_NE(out.find("Indirizzo 0x" + std::to_string(pairs - 1) + "\n"), std::string::npos)
      << out.substr(0, 200);
}

// Heads behind Debian's ser2net, started inside ptsim on its
// pseudo-terminal with a configuration written for the run: $RAW
// (tcp://) and $TEL (rfc2217://) on free loopback ports, the raw one
// handed to whichever client connects last. `serve` (re)starts it and
// waits until it listens; it is ended by its pid ($s).
TEST_F(EndToEndTest, DrivesHeadsBehindASerialServer) {
#ifndef SER2NET_PATH
  GTEST_SKIP() << "ser2net not found";
#else
  // ser2net listens with SO_REUSEPORT: two servers on one port share its
  // clients, and a server opens its device by name on each connection. So
  // one run of this test at a time (its builds run it side by side), on
  // three different ports.
  const int lock = open("/tmp/ptmove-e2e-ser2net.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_TRUE(lock >= 0 && flock(lock, LOCK_EX) == 0);
  const int raw = freeLoopbackPort();
  int tel = freeLoopbackPort();
  int idle = freeLoopbackPort();  // a server of the test's own, or nothing
  for (int tries = 0; (tel == raw || idle == raw || idle == tel) && tries < 100; ++tries) {
    tel = freeLoopbackPort();
    idle = freeLoopbackPort();
  }
  char listening[32];  // its line in /proc/net/tcp once it listens
  std::snprintf(listening, sizeof listening, ":%04X 00000000:0000 0A", raw);
  const std::string serve =
      "d=$(mktemp -d) && RAW=tcp://127.0.0.1:" + std::to_string(raw) +
      " && TEL=rfc2217://127.0.0.1:" + std::to_string(tel) +
      " && IDLE=tcp://127.0.0.1:" + std::to_string(idle) +
      " && printf 'connection: &raw\\n  accepter: tcp,127.0.0.1,%s\\n  connector: "
      "serialdev,%s,2400n81,local\\n  options:\\n    kickolduser: true\\nconnection: &tel\\n  "
      "accepter: telnet(rfc2217),tcp,127.0.0.1,%s\\n  connector: serialdev,%s,2400n81,local\\n' " +
      std::to_string(raw) + " \"$PTMOVE_COM1\" " + std::to_string(tel) +
      " \"$PTMOVE_COM1\" > \"$d/ser2net.yaml\" && "
      "serve() { ! grep -q '" +
      std::string(listening) +
      "' /proc/net/tcp || exit 99; " SER2NET_PATH
      " -n -u -c \"$d/ser2net.yaml\" -P \"$d/pid\" >/dev/null 2>&1 & "
      "s=$!; i=0; until grep -q '" +
      std::string(listening) +
      "' /proc/net/tcp || [ $i -ge 100 ]; do sleep 0.05; i=$((i+1)); done; } && "
      "trap 'kill -9 $s; rm -rf \"$d\"' EXIT && serve\n";
  // A server that takes connections and never reads, or never accepts.
  const std::string idleServer =
      "python3 -c 'import socket,sys,time; s=socket.socket(); "
      "s.bind((\"127.0.0.1\"," +
      std::to_string(idle) +
      ")); s.listen(0); "
      "c=[socket.create_connection((\"127.0.0.1\"," +
      std::to_string(idle) + ")) for _ in range(int(sys.argv[1]))]; time.sleep(12)' ";
  const struct {
    const char* what;
    std::string script;  // "$@" runs the program
    std::string says;
    std::string ended;
    std::string never = "";  // what the output must not hold
  } cases[] = {
      {"raw: frames with FF in them, stopped; a speed it cannot set",
       "\"$@\" -com $RAW -br 9600 -ch ff -dir r -t 0.3 2>&1",
       "is a raw TCP port, whose server's configuration sets the line: -br 9600 is not applied",
       "receiver 255: pan right, speed 63 for 0.", "left moving"},
      {"rfc2217: the speed set, every FF doubled on the way",
       "\"$@\" -com $TEL -br 9600 -ch ff -dir ul -t 0.3 -d",
       "Porta selezionata rfc2217://127.0.0.1:",
       "line: 9600 bit/s, 8 data bits, no parity, 1 stop bit", "Failed"},
      {"each action, on both kinds, read back among telnet's own bytes",
       "\"$@\" -com $TEL -pan 100 -tilt 10 -wait 5 && \"$@\" -com $RAW -setpreset 4 && "
       "\"$@\" -com $TEL -pan 200 && \"$@\" -com $RAW -preset 4 -wait 5 && "
       "\"$@\" -com $TEL -ch ff -stop && \"$@\" -com $TEL -pos && \"$@\" -com $RAW -pos",
       "Brandeggio arrivato: pan 100.00 gradi, tilt 10.00 gradi\n",
       "Posizione pan 100.00 gradi, tilt 10.00 gradi\nsummary:\n  receiver 1: ended at pan 100.00, "
       "tilt 10.00 degrees, zoom 0 %, focus 50 %, iris 50 %\n  receiver 1: preset 4 at pan 100.00",
       "Nessuna risposta"},
      {"killed mid-movement: its guard stops the head on the connection",
       "\"$@\" -com $TEL -ch 5 -dir r -t 30 & p=$!; sleep 1; kill -9 $p; sleep 1; "
       "\"$@\" -com $RAW -ch 6 -dir l -t 30 & p=$!; sleep 1; kill -9 $p; sleep 1",
       kMoving, "receiver 6: pan left, speed 63 for ", "left moving"},
      {"the server restarted, then a client taking the port over, mid-movement",
       std::string(
           "\"$@\" -com $TEL -ch 7 -dir d -t 2 & p=$!; sleep 0.5; kill -9 $s; sleep 0.5; ") +
           "serve; wait $p; \"$@\" -com $RAW -ch 8 -dir u -t 2 & p=$!; sleep 0.5; " +
           "python3 -c 'import socket,time; socket.create_connection((\"127.0.0.1\"," +
           std::to_string(raw) + ")); time.sleep(0.3)'; wait $p",
       kMoving, "receiver 8: tilt up, speed 63 for ", "left moving"},
      {"a server that never reads, one that never accepts, and a port nobody serves",
       idleServer + "0 & q=$!; sleep 0.5; \"$@\" -com $IDLE -dir r -t 0.1; kill -9 $q; " +
           idleServer +
           "1 & q=$!; sleep 0.5; \"$@\" -e -com $IDLE -dir r -t 0.1; echo \"status "
           "$?\"; kill -9 $q; sleep 0.2; \"$@\" -e -com $IDLE -stop; echo \"status $?\"",
       kMoving + kMoving + "Failed to open port\nstatus 69\n\nArresto del brandeggio\n\n" +
           "Failed to open port\nstatus 69\n",
       "nothing was sent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expectPtsimRun(runUnderPtsim({}, serve + c.script, 60), c.says, c.ended, c.never);
  }
  close(lock);
#endif
}

}  // namespace
}  // namespace ptmove::testsupport
