// The POSIX stop guard: a forked child in a process group of its own. It
// keeps only the port and two pipes from the program, holds the interrupts
// off, and blocks reading what the program tells it. "done" lets it go
// quietly; "lose" makes it let go of the port, which it answers with
// "lost", so that the program can open the device again; the pipe's end
// without "done" means the program died mid-movement, and the guard sends
// the stop frame. It watches the port meanwhile, and lets go of it at once
// when it hangs up, so that a returning USB adapter gets its name back. A
// fault inside the program sends them first from a handler on an alternate
// stack.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "interrupts.h"
#include "stop_delivery.h"
#include "stop_guard.h"
#include "system_message.h"

namespace ptmove {

namespace {

// What the program and its guard tell each other, four bytes each.
constexpr std::size_t kSaying = 4;
constexpr char kDone[kSaying] = {'d', 'o', 'n', 'e'};  // the movement is over
constexpr char kLose[kSaying] = {'l', 'o', 's', 'e'};  // let go of the port
constexpr char kLost[kSaying] = {'l', 'o', 's', 't'};  // the guard has let go

// How long the program waits for the guard to have let go of the port.
constexpr std::chrono::seconds kAnswerWithin{1};

constexpr int kFaults[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// What the fault handler sends, and where: prebuilt, so that it only
// writes. The one state here that a signal handler must reach.
struct FaultStop {
  Port* volatile port = nullptr;
  std::uint8_t stop[64] = {};  // more than any protocol's stop frame
  std::size_t size = 0;
  struct sigaction previous[std::size(kFaults)];
  stack_t previousStack;
};
FaultStop faultStop;

// The handler's own stack, so that it runs even when the fault is a
// stack overflow.
alignas(16) char faultStack[64 * 1024];

extern "C" void onFault(int signal) {
  Port* const port = faultStop.port;
  faultStop.port = nullptr;
  if (port != nullptr) {
    // What the line does not take now, the guard sends after.
    port->writeFromSignalHandler(faultStop.stop, faultStop.size);
  }
  // Then the fault takes its course as it would have: the action before
  // ours (the default, or a sanitizer's report) once this returns.
  for (std::size_t i = 0; i < std::size(kFaults); ++i) {
    if (kFaults[i] == signal) {
      sigaction(signal, &faultStop.previous[i], nullptr);
    }
  }
  raise(signal);
}

void catchFaults(Port& port, const Bytes& stop) {
  faultStop.size = std::min(stop.size(), sizeof faultStop.stop);
  std::copy_n(stop.begin(), faultStop.size, faultStop.stop);
  stack_t stack{};
  stack.ss_sp = faultStack;
  stack.ss_size = sizeof faultStack;
  sigaltstack(&stack, &faultStop.previousStack);
  struct sigaction handler {};
  handler.sa_handler = onFault;
  sigemptyset(&handler.sa_mask);
  handler.sa_flags = SA_ONSTACK;
  for (std::size_t i = 0; i < std::size(kFaults); ++i) {
    sigaction(kFaults[i], &handler, &faultStop.previous[i]);
  }
  faultStop.port = &port;
}

void stopCatchingFaults() {
  faultStop.port = nullptr;
  for (std::size_t i = 0; i < std::size(kFaults); ++i) {
    sigaction(kFaults[i], &faultStop.previous[i], nullptr);
  }
  sigaltstack(&faultStop.previousStack, nullptr);
}

// Reads one saying of `kSaying` bytes from `fd`; false at its end or when
// it fails.
bool hear(int fd, char (&said)[kSaying]) {
  std::size_t got = 0;
  while (got < kSaying) {
    const ssize_t n = read(fd, said + got, kSaying - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

// The guard's life, in the forked child.
[[noreturn]] void keepWatch(Port& port, const Bytes& stop, int told, int answer) {
  setpgid(0, 0);  // out of the terminal's reach: Ctrl+C goes to the program
  // Held off for the guard's whole life, in one call while the program's
  // movement frame goes out: the interrupts, which must not end it; a
  // reader gone (SIGPIPE); and, since in a process group of its own the
  // guard is a background job of a port that is a controlling terminal,
  // the signal that would stop it at a terminal call (SIGTTOU).
  sigset_t held;
  sigemptyset(&held);
  for (int signal : terminatingSignals()) {
    sigaddset(&held, signal);
  }
  sigaddset(&held, SIGPIPE);
  sigaddset(&held, SIGTTOU);
  sigprocmask(SIG_SETMASK, &held, nullptr);
  // Nothing of the program's but the port and the pipes: whoever reads the
  // program's output sees it end when the program ends.
  port.keepOnlyThisAnd(told, answer);
  port.setFollower(nullptr);  // the program's follower is the program's

  for (;;) {
    // A port let go is not watched.
    const WatchEnd end = port.watch(Deadline::never(), {}, told);
    if (end == WatchEnd::kHungUp) {
      port.letGo();
    }
    if (end != WatchEnd::kOther) {
      continue;
    }
    char said[kSaying];
    if (!hear(told, said)) {
      break;  // the program died mid-movement
    }
    if (std::memcmp(said, kDone, kSaying) == 0) {
      _exit(0);
    }
    if (std::memcmp(said, kLose, kSaying) != 0) {
      break;
    }
    port.letGo();
    const ssize_t answered = write(answer, kLost, kSaying);
    (void)answered;  // a program that is gone needs no answer
  }
  deliverStop(port, stop);
  port.close();
  _exit(0);
}

// The guard as the program holds it: its process and the program's ends
// of the two pipes, or why it could not be started.
struct ForkedGuard {
  pid_t pid = -1;
  int tell = -1;
  int hear = -1;
  std::string error;
};

ForkedGuard forkGuard(Port& port, const Bytes& stop) {
  ForkedGuard guard;
  // No end may reach a program started later: one holding the write end of
  // `toGuard` would keep the guard from seeing this process die. The
  // guard's end of `fromGuard` closes when the guard dies.
  int toGuard[2];
  int fromGuard[2];
  if (pipe2(toGuard, O_CLOEXEC) != 0) {
    guard.error = "cannot start the stop guard: " + systemMessage(errno);
    return guard;
  }
  if (pipe2(fromGuard, O_CLOEXEC) != 0) {
    guard.error = "cannot start the stop guard: " + systemMessage(errno);
    ::close(toGuard[0]);
    ::close(toGuard[1]);
    return guard;
  }
  const pid_t child = fork();
  const int forkError = errno;
  if (child == 0) {
    ::close(toGuard[1]);
    ::close(fromGuard[0]);
    keepWatch(port, stop, toGuard[0], fromGuard[1]);
  }
  ::close(toGuard[0]);
  ::close(fromGuard[1]);
  if (child < 0) {
    guard.error = "cannot start the stop guard: " + systemMessage(forkError);
    ::close(toGuard[1]);
    ::close(fromGuard[0]);
    return guard;
  }
  setpgid(child, child);  // as the child does, whichever runs first
  guard.pid = child;
  guard.tell = toGuard[1];
  guard.hear = fromGuard[0];
  return guard;
}

// Whether process `pid`, a child, has ended, without reaping it.
bool hasEnded(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
         info.si_pid == pid;
}

}  // namespace

StopGuard::StopGuard(Port& port, const Bytes& stop) : port_(port) {
  ForkedGuard guard = forkGuard(port, stop);
  // The fault handler is the program's alone: installed once the guard is
  // forked, it is never the guard's.
  catchFaults(port, stop);
  catchingFaults_ = true;
  if (guard.pid < 0) {
    error_ = guard.error;
    return;
  }
  guard_ = guard.pid;
  tell_ = guard.tell;
  hear_ = guard.hear;
  watching_ = true;
  port_.setFollower([this] { letGoToo(); });
}

StopGuard::~StopGuard() {
  dismiss();
}

void StopGuard::letGoToo() {
  // A guard that died already is not written to: the pipe has no reader.
  if (!watching_ || hasEnded(guard_) || write(tell_, kLose, kSaying) != kSaying) {
    return;
  }
  // Until it says it has let go, or it ends.
  pollfd watch = {hear_, POLLIN, 0};
  const timespec timeout = toTimespec(kAnswerWithin);
  char said[kSaying];
  if (ppoll(&watch, 1, &timeout, nullptr) == 1) {
    hear(hear_, said);
  }
}

// Lets the guard go: with "done" it leaves quietly, without it it sends the
// stop frame. Either way it is gone, and reaped, when this returns.
void StopGuard::release(bool done) {
  if (watching_) {
    port_.setFollower(nullptr);
    if (done && !hasEnded(guard_)) {
      const ssize_t said = write(tell_, kDone, kSaying);
      (void)said;  // a guard that is gone cannot send anything either
    }
    ::close(tell_);
    ::close(hear_);
    int status = 0;
    while (waitpid(guard_, &status, 0) < 0 && errno == EINTR) {
    }
    watching_ = false;
  }
  if (catchingFaults_) {
    stopCatchingFaults();
    catchingFaults_ = false;
  }
}

void StopGuard::dismiss() {
  release(true);
}

void StopGuard::abandon() {
  release(false);
}

bool StopGuard::ended() {
  if (!watching_) {
    return true;
  }
  pollfd watch = {hear_, POLLIN, 0};
  char said[kSaying];
  while (poll(&watch, 1, 0) == 1 && (watch.revents & POLLIN) != 0) {
    if (!hear(hear_, said)) {
      return true;
    }
  }
  return hasEnded(guard_);
}

NativeHandle StopGuard::endHandle() const {
  return watching_ ? hear_ : kNoHandle;
}

unsigned long StopGuard::processId() const {
  return static_cast<unsigned long>(guard_);
}

bool runAsStopGuard() {
  return false;
}

}  // namespace ptmove
