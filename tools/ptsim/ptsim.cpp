// ptsim: a virtual Pelco D pan-tilt receiver. It runs a command with
// PTMOVE_COM<N> pointing at a pseudo-terminal, decodes everything the
// command writes there, and tells what the receivers did.
//
//   ptsim [-com N] -- COMMAND [ARGS...]

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frame_decoder.h"
#include "line_speed.h"
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

constexpr char kUsage[] = "usage: ptsim [-com N] -- COMMAND [ARGS...]\n";
constexpr char kHelp[] =
    "Runs COMMAND with PTMOVE_COM<N> (N is 1 unless given) pointing at a\n"
    "pseudo-terminal, and decodes every Pelco D frame the command writes\n"
    "there: what each receiver was told, when, and which were left moving.\n"
    "The exit status is the command's.\n";

struct Options {
  int com = 1;
  std::vector<char*> command;
};

bool parseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "-com") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const long com = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || com < 1 || com > 99999) {
        return false;
      }
      options.com = static_cast<int>(com);
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

class Session {
 public:
  explicit Session(int master) : master_(master) {}

  // Decodes what has arrived; returns false when nothing had.
  bool read(Clock::time_point start) {
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) {
      return false;
    }
    const double now = std::chrono::duration<double>(Clock::now() - start).count();
    if (!sawBytes_) {
      sawBytes_ = true;
      std::printf("  line: %s\n", lineSettings(master_).c_str());
    }
    show(decoder_.feed(buffer, static_cast<std::size_t>(n), now));
    return true;
  }

  void finish(Clock::time_point start) {
    show(decoder_.finish(std::chrono::duration<double>(Clock::now() - start).count()));
    std::printf("summary:\n");
    if (!sawBytes_) {
      std::printf("  nothing was sent\n");
    }
    for (const std::string& line : receivers_.summary()) {
      std::printf("  %s\n", line.c_str());
    }
    std::fflush(stdout);
  }

 private:
  void show(const std::vector<ptmove::DecodedItem>& items) {
    for (const ptmove::DecodedItem& item : items) {
      if (firstFrame_ < 0 && item.isFrame) {
        firstFrame_ = item.seconds;
      }
      const double at = firstFrame_ < 0 ? 0.0 : item.seconds - firstFrame_;
      if (item.isFrame) {
        const ptmove::CommandFrame frame = item.frame();
        receivers_.receive(frame, at);
        std::printf("%s  %s  receiver %u: %s\n", ptmove::formatSeconds(at).c_str(),
                    ptmove::hexBytes(item.bytes.data(), item.bytes.size()).c_str(),
                    static_cast<unsigned>(frame[1]), ptmove::describeCommand(frame).c_str());
      } else {
        std::printf("%s  %s  not a frame: skipped\n", ptmove::formatSeconds(at).c_str(),
                    ptmove::hexBytes(item.bytes.data(), item.bytes.size()).c_str());
      }
    }
    std::fflush(stdout);
  }

  int master_;
  bool sawBytes_ = false;
  double firstFrame_ = -1.0;
  ptmove::FrameDecoder decoder_;
  ptmove::Receivers receivers_;
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
  const std::string variable = "PTMOVE_COM" + std::to_string(options.com);
  setenv(variable.c_str(), pty.slavePath().c_str(), 1);
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

  Session session(pty.master());
  int status = 0;
  for (;;) {
    pollfd watch = {pty.master(), POLLIN, 0};
    poll(&watch, 1, 20);
    session.read(start);
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) {
      break;
    }
  }
  while (session.read(start)) {
    // whatever the command wrote just before it ended
  }
  session.finish(start);
  return exitStatusOf(status);
}
