#include "program_runner.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

namespace ptmove::testsupport {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Appends what `fd` has now; false once it reports end of file.
bool drainPipe(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && errno == EAGAIN;
    }
  }
}

void collectWire(PtyPair* wire, Clock::time_point start, ProgramRun& run) {
  if (wire == nullptr) {
    return;
  }
  const std::vector<std::uint8_t> bytes = wire->readAvailable();
  const double now = secondsSince(start);
  run.wire.insert(run.wire.end(), bytes.begin(), bytes.end());
  run.wireSeconds.insert(run.wireSeconds.end(), bytes.size(), now);
}

std::string withoutCarriageReturns(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      result += text[i];
    }
  }
  return result;
}

// Sets NAME=value in `environment`, replacing an earlier value unless
// `keep` says to leave one that is there.
void setVariable(std::vector<std::string>& environment, const std::string& name,
                 const std::string& value, bool keep = false) {
  const std::string prefix = name + "=";
  for (std::string& entry : environment) {
    if (entry.rfind(prefix, 0) == 0) {
      if (!keep) {
        entry = prefix + value;
      }
      return;
    }
  }
  environment.push_back(prefix + value);
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) {
    pointers.push_back(word.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

// What the child sets up before exec, all prepared before the fork.
struct ChildSetup {
  char* const* argv;
  char* const* environment;
  const RunOptions* options;
  int outFd;
  int errFd;
  const char* controllingTerminal;  // or nullptr
};

// Makes the child the session leader of `terminal` and runs the rest of the
// setup in a grandchild of a process group of its own: a background job of
// that terminal. The child waits for it and ends as it did.
void becomeBackgroundJob(const char* terminal) {
  setsid();
  const int fd = open(terminal, O_RDWR | O_NOCTTY);
  if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0) {
    _exit(125);
  }
  close(fd);
  const pid_t job = fork();
  if (job < 0) {
    _exit(125);
  }
  if (job > 0) {
    int status = 0;
    while (waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  setpgid(0, 0);
}

// Runs in the child between fork and exec. Other threads of the test may
// hold locks at fork time, so only async-signal-safe calls are made here:
// everything else was prepared before the fork.
[[noreturn]] void execChild(const ChildSetup& setup) {
  const RunOptions& options = *setup.options;
  if (setup.controllingTerminal != nullptr) {
    becomeBackgroundJob(setup.controllingTerminal);
  }
  for (int signal : options.ignoredSignals) {
    ::signal(signal, SIG_IGN);
  }
  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signal : options.blockedSignals) {
    sigaddset(&blocked, signal);
  }
  sigprocmask(SIG_BLOCK, &blocked, nullptr);
  constexpr uid_t kNobody = 65534;
  if (options.unprivileged && geteuid() == 0 &&
      (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
    _exit(126);
  }
  const rlimit noCore = {0, 0};  // a test that ends the program by SIGQUIT
  setrlimit(RLIMIT_CORE, &noCore);
  if (options.addressSpace != 0) {
    const rlimit memory = {options.addressSpace, options.addressSpace};
    setrlimit(RLIMIT_AS, &memory);
  }
  dup2(setup.outFd, STDOUT_FILENO);
  dup2(setup.errFd, STDERR_FILENO);
  if (options.nonBlockingOutput) {
    fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
  }
  const int devnull = open("/dev/null", O_RDONLY);
  dup2(devnull, STDIN_FILENO);
  for (int fd : options.closedDescriptors) {
    close(fd);
  }
  execvpe(setup.argv[0], setup.argv, setup.environment);
  _exit(127);
}

// A pipe of one page for standard output, filled but for `room` bytes.
void shrinkOutput(int writeEnd, int room) {
  constexpr int kPage = 4096;
  fcntl(writeEnd, F_SETPIPE_SZ, kPage);
  if (room < 0) {
    return;
  }
  const std::string filler(static_cast<std::size_t>(std::max(0, kPage - room)), 'x');
  const ssize_t n = write(writeEnd, filler.data(), filler.size());
  (void)n;
}

}  // namespace

ProgramUnderTest ProgramUnderTest::fromEnvironment() {
  ProgramUnderTest program;
  if (const char* path = getenv("PTMOVE_E2E_PROGRAM")) {
    program.program_ = path;
  }
  if (const char* prefix = getenv("PTMOVE_E2E_WINEPREFIX")) {
    program.winePrefix_ = prefix;
  }
  if (const char* launcher = getenv("PTMOVE_E2E_LAUNCHER")) {
    std::istringstream words(launcher);
    for (std::string word; words >> word;) {
      program.launcher_.push_back(word);
    }
  }
  return program;
}

void ProgramUnderTest::bindPorts(const std::vector<PortBinding>& ports,
                                 std::vector<std::string>& environment) const {
  for (const PortBinding& port : ports) {
    const std::string com = std::to_string(port.comNumber);
    if (underWine()) {
      const std::string link = winePrefix_ + "/dosdevices/com" + com;
      unlink(link.c_str());
      if (symlink(port.devicePath.c_str(), link.c_str()) != 0) {
        std::perror(link.c_str());
      }
    } else {
      setVariable(environment, "PTMOVE_COM" + com, port.devicePath);
    }
  }
}

ProgramRun ProgramUnderTest::run(const std::vector<std::string>& args,
                                 const RunOptions& options) const {
  PtyPair* wire = options.wire;
  std::vector<std::string> argv = options.wrapper;
  argv.insert(argv.end(), launcher_.begin(), launcher_.end());
  argv.push_back(program_);
  argv.insert(argv.end(), args.begin(), args.end());

  std::vector<std::string> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    environment.emplace_back(*variable);
  }
  if (underWine()) {
    setVariable(environment, "WINEPREFIX", winePrefix_);
    setVariable(environment, "WINEDEBUG", "-all", true);
  }
  bindPorts(options.ports, environment);
  std::vector<char*> rawArgv = pointersTo(argv);
  std::vector<char*> rawEnvironment = pointersTo(environment);

  ProgramRun run;
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
    return run;
  }
  if (options.nonBlockingOutput || options.outputRoom >= 0) {
    shrinkOutput(outPipe[1], options.outputRoom);
  }
  const std::string terminal =
      options.backgroundJobOnPort && !options.ports.empty() ? options.ports[0].devicePath : "";
  const ChildSetup setup = {rawArgv.data(), rawEnvironment.data(),
                            &options,       outPipe[1],
                            errPipe[1],     terminal.empty() ? nullptr : terminal.c_str()};
  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execChild(setup);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (child < 0) {
    std::perror("fork");
    close(outPipe[0]);
    close(errPipe[0]);
    return run;
  }
  fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
  fcntl(errPipe[0], F_SETFL, O_NONBLOCK);

  bool outOpen = options.outputRoom < 0;  // an unread output is not read
  bool errOpen = true;
  bool exited = false;
  int status = 0;
  std::size_t actionsDone = 0;
  while (outOpen || errOpen || !exited) {
    pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {-1, POLLIN, 0}};
    if (wire != nullptr) {
      fds[2].fd = wire->master();
    }
    poll(fds, 3, 5);
    const std::size_t before = run.wire.size();
    collectWire(wire, start, run);
    if (options.answer && run.wire.size() > before) {
      const std::vector<std::uint8_t> reply = options.answer(run.wire);
      if (!reply.empty() && ::write(wire->master(), reply.data(), reply.size()) < 0) {
        std::perror("answering the program");
      }
    }
    if (outOpen && secondsSince(start) >= options.outputReadDelay) {
      outOpen = drainPipe(outPipe[0], run.out);
    }
    if (errOpen) {
      errOpen = drainPipe(errPipe[0], run.err);
    }
    if (!exited && waitpid(child, &status, WNOHANG) == child) {
      exited = true;
    }
    while (!exited && actionsDone < options.actions.size() &&
           secondsSince(start) >= options.actions[actionsDone].atSeconds) {
      options.actions[actionsDone++].action(child);
    }
    if (!exited && secondsSince(start) > options.timeoutSeconds) {
      kill(child, SIGKILL);
      run.timedOut = true;
    }
    // What the program started may hold its output open for good: a run
    // that timed out is read a few seconds more, no longer.
    if (secondsSince(start) > options.timeoutSeconds + 5.0) {
      run.timedOut = true;
      outOpen = errOpen = false;
      if (!exited) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        exited = true;
      }
    }
  }
  const Clock::time_point ended = Clock::now();
  run.endSeconds = secondsSince(start);
  collectWire(wire, start, run);
  while (wire != nullptr && run.wire.size() < options.wireBytes && secondsSince(ended) < 5.0) {
    pollfd watch = {wire->master(), POLLIN, 0};
    poll(&watch, 1, 10);
    collectWire(wire, start, run);
  }
  if (wire != nullptr) {
    awaitSoleHolder(wire->slavePath(), 8.0);
  }
  close(outPipe[0]);
  close(errPipe[0]);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (underWine()) {
    run.out = withoutCarriageReturns(run.out);
  }
  return run;
}

namespace {

// Whether a process other than this one has `path` open.
bool heldByOthers(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  const std::string self = std::to_string(getpid());
  std::error_code error;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const std::string pid = process.path().filename();
    if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    std::error_code unreadable;  // a process that ended, or another user's
    for (const fs::directory_entry& fd :
         fs::directory_iterator(process.path() / "fd", unreadable)) {
      std::error_code gone;
      if (fs::read_symlink(fd.path(), gone) == path) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

void awaitSoleHolder(const std::string& path, double seconds) {
  const Clock::time_point start = Clock::now();
  while (heldByOthers(path) && secondsSince(start) < seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ProgramUnderTest::programWord() const {
  // The banner's last line is a tab, the program's word and " -h ".
  const std::string out = run({}).out;
  const std::size_t tab = out.rfind('\t');
  const std::size_t end = out.find(" -h ", tab);
  if (tab == std::string::npos || end == std::string::npos) {
    return "";
  }
  return out.substr(tab + 1, end - tab - 1);
}

int freeLoopbackPort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(probe, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
      getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(probe);
  return port;
}

}  // namespace ptmove::testsupport
