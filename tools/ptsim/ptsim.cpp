// ptsim: a virtual Pelco D and Pelco P pan-tilt head. It runs a command with
// PTMOVE_COM<N> pointing at a pseudo-terminal, and every other COM number
// at a trap that no run can open, decodes everything the command writes
// there, moves its receivers as they are told, answers their position
// queries, and tells what the receivers did and where they ended up.
//
//   ptsim [-com N] [-late SECONDS | -silent] [-ack] [-echo] -- COMMAND [ARGS...]

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frame_decoder.h"
#include "line_speed.h"
#include "port_traps.h"
#include "pty_pair.h"
#include "receivers.h"

namespace {

using Clock = std::chrono::steady_clock;

// The command's process, for the signal handler to pass interrupts on to.
volatile sig_atomic_t childPid = 0;

extern "C" void passOn(int signal) {
  if (childPid > 0) {
    kill(static_cast<pid_t>(childPid), signal);
  }
}

constexpr char kUsage[] =
    "usage: ptsim [-com N] [-late SECONDS | -silent] [-ack] [-echo] -- COMMAND [ARGS...]\n";
constexpr char kHelp[] =
    "Runs COMMAND with PTMOVE_COM<N> (N is 1 unless given) pointing at a\n"
    "pseudo-terminal, and decodes every Pelco D and Pelco P frame the command\n"
    "writes there: what each receiver was told, when, and which were left\n"
    "moving.\n"
    "Every other COM number leads to a port no run can open, never to a\n"
    "real one; ptsim says when the command asked for one.\n"
    "Each receiver is a virtual head that turns, travels to positions and\n"
    "presets, and answers the position queries in the protocol they came in;\n"
    "the summary says where each ended up. The exit status is the command's.\n"
    "  -late SECONDS  answer the position queries that late\n"
    "  -silent        never answer them\n"
    "  -ack           acknowledge every frame: Pelco D's general response\n"
    "                 (FF a 00 a), Pelco P's A2\n"
    "  -echo          send back every byte, as a 2-wire RS-485 adapter does\n";

struct Options {
  int com = 1;
  double late = 0.0;
  bool silent = false;
  bool ack = false;
  bool echo = false;
  std::vector<char*> command;
};

// A number from the whole of `text`, within [low, high].
bool parseNumber(const char* text, double low, double high, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && value >= low && value <= high;
}

bool parseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const bool valueFollows = i + 1 < argc;
    double value = 0.0;
    if (std::strcmp(argv[i], "-com") == 0 && valueFollows &&
        parseNumber(argv[++i], 1, 99999, value) && value == static_cast<int>(value)) {
      options.com = static_cast<int>(value);
    } else if (std::strcmp(argv[i], "-late") == 0 && valueFollows &&
               parseNumber(argv[++i], 0, 3600, value)) {
      options.late = value;
    } else if (std::strcmp(argv[i], "-silent") == 0) {
      options.silent = true;
    } else if (std::strcmp(argv[i], "-ack") == 0) {
      options.ack = true;
    } else if (std::strcmp(argv[i], "-echo") == 0) {
      options.echo = true;
    } else {
      return false;
    }
  }
  for (++i; i < argc; ++i) {
    options.command.push_back(argv[i]);
  }
  options.command.push_back(nullptr);
  return options.command.size() > 1;
}

std::string lineSettings(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    return "unknown";
  }
  const std::int32_t baud = ptmove::currentSpeed(fd);
  const std::string speed = baud > 0 ? std::to_string(baud) : "an unknown rate of";
  const int bits = (t.c_cflag & CSIZE) == CS5   ? 5
                   : (t.c_cflag & CSIZE) == CS6 ? 6
                   : (t.c_cflag & CSIZE) == CS7 ? 7
                                                : 8;
  const char* parity = (t.c_cflag & PARENB) == 0 ? "no parity"
                       : (t.c_cflag & PARODD)    ? "odd parity"
                                                 : "even parity";
  std::string text = speed + " bit/s, " + std::to_string(bits) + " data bits, " + parity + ", " +
                     ((t.c_cflag & CSTOPB) ? "2 stop bits" : "1 stop bit");
  if (t.c_oflag & OPOST) {
    text += " (output processing on: bytes may be altered)";
  }
  return text;
}

// What the head writes back on the line, and when.
struct Answer {
  Clock::time_point due;
  ptmove::CommandFrame frame;
  const ptmove::Protocol* protocol;
};

// How the log names a receiver: by its address, and the protocol when it
// is not the default.
std::string receiverName(std::uint8_t address, const ptmove::Protocol& protocol) {
  std::string name = "receiver " + std::to_string(address);
  if (&protocol != &ptmove::defaultProtocol()) {
    name += std::string(" (") + protocol.name() + ")";
  }
  return name;
}

class Session {
 public:
  Session(int master, const Options& options, Clock::time_point start)
      : master_(master), options_(options), start_(start) {}

  // A COM number the command asked for that is not the simulated one.
  void askedFor(int com) {
    std::printf(
        "ptsim: COM%d was asked for, but COM%d is the one simulated: the port was "
        "refused\n",
        com, options_.com);
    std::fflush(stdout);
    if (std::find(otherPorts_.begin(), otherPorts_.end(), com) == otherPorts_.end()) {
      otherPorts_.push_back(com);
    }
  }

  // Decodes what has arrived and answers it; returns false when nothing had.
  bool read() {
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) {
      return false;
    }
    if (options_.echo) {
      send(buffer, static_cast<std::size_t>(n));
    }
    sawBytes_ = true;
    // Again whenever a run set the line up otherwise: a script at the
    // wrong speed shows.
    const std::string settings = lineSettings(master_);
    if (settings != shownSettings_) {
      shownSettings_ = settings;
      std::printf("  line: %s\n", settings.c_str());
    }
    show(decoder_.feed(buffer, static_cast<std::size_t>(n), now()));
    return true;
  }

  // Sends the late answers that are due; returns how long until the next.
  int sendDueAnswers() {
    const Clock::time_point time = Clock::now();
    while (!late_.empty() && late_.front().due <= time) {
      answer(late_.front().frame, *late_.front().protocol);
      late_.erase(late_.begin());
    }
    if (late_.empty()) {
      return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(late_.front().due - time);
    return static_cast<int>(wait.count());
  }

  void finish() {
    show(decoder_.finish(now()));
    std::printf("summary:\n");
    if (!sawBytes_) {
      std::printf("  nothing was sent\n");
    }
    for (int com : otherPorts_) {
      std::printf("  COM%d was asked for, not the simulated COM%d\n", com, options_.com);
    }
    for (const std::string& line : receivers_.summary(sinceFirstFrame(now()))) {
      std::printf("  %s\n", line.c_str());
    }
    std::fflush(stdout);
  }

 private:
  double now() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

  double sinceFirstFrame(double seconds) const {
    return firstFrame_ < 0 ? 0.0 : seconds - firstFrame_;
  }

  void show(const std::vector<ptmove::DecodedItem>& items) {
    for (const ptmove::DecodedItem& item : items) {
      if (firstFrame_ < 0 && item.isFrame) {
        firstFrame_ = item.seconds;
      }
      const double at = sinceFirstFrame(item.seconds);
      const std::string bytes = ptmove::hexBytes(item.bytes.data(), item.bytes.size());
      if (!item.isFrame) {
        std::printf("%s  %s  not a frame: skipped\n", ptmove::formatSeconds(at).c_str(),
                    bytes.c_str());
        continue;
      }
      // Each frame in its own protocol; an answer goes back in it.
      const ptmove::Protocol& protocol = *item.protocol;
      const ptmove::Received frame = item.read();
      const std::string name = receiverName(frame.address, protocol);
      std::printf("%s  %s  %s: %s\n", ptmove::formatSeconds(at).c_str(), bytes.c_str(),
                  name.c_str(), ptmove::describe(frame).c_str());
      if (options_.ack) {
        const std::vector<std::uint8_t> acknowledgement = protocol.acknowledgement(frame.address);
        send(acknowledgement.data(), acknowledgement.size());
      }
      if (const auto reply = receivers_.receive(frame, at, protocol)) {
        const ptmove::CommandFrame answerFrame = protocol.frame(frame.address, *reply);
        if (options_.silent) {
          std::printf("%s  %s does not answer\n", ptmove::formatSeconds(at).c_str(), name.c_str());
        } else if (options_.late > 0) {
          late_.push_back({Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(options_.late)),
                           answerFrame, &protocol});
        } else {
          answer(answerFrame, protocol);
        }
      }
    }
    std::fflush(stdout);
  }

  // Told before it is sent, so that the line comes before whatever the
  // command prints on reading the answer.
  void answer(const ptmove::CommandFrame& reply, const ptmove::Protocol& protocol) {
    const ptmove::Received answer = protocol.read(reply);
    std::printf("%s  %s  %s answers: %s\n", ptmove::formatSeconds(sinceFirstFrame(now())).c_str(),
                ptmove::hexBytes(reply).c_str(), receiverName(answer.address, protocol).c_str(),
                ptmove::describe(answer).c_str());
    std::fflush(stdout);
    send(reply.data(), reply.size());
  }

  void send(const std::uint8_t* bytes, std::size_t size) {
    if (::write(master_, bytes, size) != static_cast<ssize_t>(size)) {
      std::fprintf(stderr, "ptsim: cannot answer on the line: %s\n", std::strerror(errno));
    }
  }

  int master_;
  const Options& options_;
  Clock::time_point start_;
  bool sawBytes_ = false;
  std::string shownSettings_;
  std::vector<int> otherPorts_;
  double firstFrame_ = -1.0;
  ptmove::FrameDecoder decoder_;
  ptmove::Receivers receivers_;
  std::vector<Answer> late_;  // in the order they fall due
};

int exitStatusOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::printf("%s%s", kUsage, kHelp);
    return 0;
  }
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // The slave stays open here too, so the settings and the bytes outlive
  // the command's own use of the port.
  ptmove::PtyPair pty;
  if (!pty.valid()) {
    std::fprintf(stderr, "ptsim: %s\n", pty.error().c_str());
    return 1;
  }
  // A serial line does not echo what arrives on it; a pseudo-terminal does
  // until a command sets it up, and would hand the head's answers back.
  termios settings = pty.slaveSettings();
  settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  tcsetattr(pty.slave(), TCSANOW, &settings);
  const std::string variable = "PTMOVE_COM" + std::to_string(options.com);
  setenv(variable.c_str(), pty.slavePath().c_str(), 1);
  // A command believed simulated must never drive real hardware.
  ptmove::PortTraps traps(options.com);
  if (!traps.error().empty()) {
    std::fprintf(stderr, "ptsim: %s\n", traps.error().c_str());
    return 1;
  }
  std::printf("ptsim: COM%d is %s (%s)\n", options.com, pty.slavePath().c_str(), variable.c_str());
  std::fflush(stdout);

  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("ptsim: fork");
    return 1;
  }
  if (child == 0) {
    execvp(options.command[0], options.command.data());
    std::fprintf(stderr, "ptsim: cannot run %s: %s\n", options.command[0], std::strerror(errno));
    _exit(127);
  }
  childPid = child;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    ::signal(signal, passOn);
  }

  Session session(pty.master(), options, start);
  int status = 0;
  for (;;) {
    const int untilAnswer = session.sendDueAnswers();
    pollfd watch[2] = {{pty.master(), POLLIN, 0}, {traps.watch(), POLLIN, 0}};
    poll(watch, 2, untilAnswer >= 0 && untilAnswer < 20 ? untilAnswer : 20);
    for (int com : traps.sprung()) {
      session.askedFor(com);
    }
    session.read();
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) {
      break;
    }
  }
  while (session.read()) {
    // whatever the command wrote just before it ended
  }
  for (int com : traps.sprung()) {
    session.askedFor(com);
  }
  session.finish();
  return exitStatusOf(status);
}
