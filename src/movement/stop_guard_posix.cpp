// The POSIX stop guard: a forked child in a process group of its own. It
// keeps only the port and the pipes from the program, holds the interrupts
// off, and blocks reading the pipe. "done" lets it go quietly; the pipe's
// end without "done" means the program died mid-movement, and the guard
// sends the stop frames. It watches the port meanwhile, and lets go of it
// at once when it hangs up, so that a returning USB adapter gets its name
// back. A fault inside the program sends them first from a handler on an
// alternate stack.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "interruptible_wait.h"
#include "stop_guard.h"
#include "system_message.h"

namespace ptmove {

namespace {

constexpr char kDone[] = {'d', 'o', 'n', 'e'};

constexpr int kFaults[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

// What the fault handler sends: prebuilt, so that it only calls write(2).
// The one state here that a signal handler must reach.
struct FaultStop {
  volatile sig_atomic_t fd = -1;
  std::uint8_t bytes[sizeof(StopFrames::frames)] = {};
  std::size_t size = 0;
  struct sigaction previous[std::size(kFaults)];
  stack_t previousStack;
};
FaultStop faultStop;

// The handler's own stack, so that it runs even when the fault is a
// stack overflow.
alignas(16) char faultStack[64 * 1024];

extern "C" void onFault(int signal) {
  const int fd = faultStop.fd;
  faultStop.fd = -1;
  for (std::size_t sent = 0; fd >= 0 && sent < faultStop.size;) {
    const ssize_t n = write(fd, faultStop.bytes + sent, faultStop.size - sent);
    if (n <= 0) {
      break;  // the line takes nothing now: the guard tries again
    }
    sent += static_cast<std::size_t>(n);
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

void catchFaults(int fd, const StopFrames& stops) {
  faultStop.size = 0;
  for (const CommandFrame& frame : stops) {
    std::copy(frame.begin(), frame.end(), faultStop.bytes + faultStop.size);
    faultStop.size += frame.size();
  }
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
  faultStop.fd = fd;
}

void stopCatchingFaults() {
  faultStop.fd = -1;
  for (std::size_t i = 0; i < std::size(kFaults); ++i) {
    sigaction(kFaults[i], &faultStop.previous[i], nullptr);
  }
  sigaltstack(&faultStop.previousStack, nullptr);
}

// Closes descriptors first to last, those that are open.
void closeRange(int first, int last) {
  if (first > last) {
    return;
  }
#ifdef SYS_close_range
  if (syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0) == 0) {
    return;
  }
#endif
  rlimit limit{};
  const int open = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                       ? static_cast<int>(limit.rlim_cur)
                       : 65536;
  for (int fd = first; fd <= std::min(last, open - 1); ++fd) {
    ::close(fd);
  }
}

// Closes every descriptor but the three kept.
void closeAllBut(int a, int b, int c) {
  int keep[] = {a, b, c};
  std::sort(std::begin(keep), std::end(keep));
  int next = 0;
  for (int fd : keep) {
    closeRange(next, fd - 1);
    next = fd + 1;
  }
  closeRange(next, 0x7FFFFFFF);
}

// The guard's life, in the forked child.
[[noreturn]] void keepWatch(SerialPort& port, const StopFrames& stops, int done, int life) {
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
  // program's output sees it end when the program ends. The write end of
  // `life` is never written: its end tells the program the guard is gone.
  closeAllBut(port.nativeHandle(), done, life);

  char said[sizeof kDone] = {};
  std::size_t got = 0;
  while (got < sizeof said) {
    pollfd watch[2] = {{done, POLLIN, 0}, {port.nativeHandle(), 0, 0}};
    if (poll(watch, port.vanished() ? 1 : 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (!port.vanished() && (watch[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      port.letGo();
    }
    if (watch[0].revents == 0) {
      continue;
    }
    const ssize_t n = read(done, said + got, sizeof said - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (got != sizeof said || std::memcmp(said, kDone, sizeof kDone) != 0) {
    sendStopFrames(port, stops);
  }
  _exit(0);
}

// The guard as the program holds it: its process and the program's ends
// of the two pipes, or why it could not be started.
struct ForkedGuard {
  pid_t pid = -1;
  int done = -1;
  int life = -1;
  std::string error;
};

ForkedGuard forkGuard(SerialPort& port, const StopFrames& stops) {
  ForkedGuard guard;
  // No end may reach a program started later: one holding the write end of
  // `done` would keep the guard from seeing this process die.
  int done[2];
  int life[2];
  if (pipe2(done, O_CLOEXEC) != 0) {
    guard.error = "cannot start the stop guard: " + systemMessage(errno);
    return guard;
  }
  if (pipe2(life, O_CLOEXEC) != 0) {
    guard.error = "cannot start the stop guard: " + systemMessage(errno);
    ::close(done[0]);
    ::close(done[1]);
    return guard;
  }
  const pid_t child = fork();
  const int forkError = errno;
  if (child == 0) {
    ::close(done[1]);
    ::close(life[0]);
    keepWatch(port, stops, done[0], life[1]);
  }
  ::close(done[0]);
  ::close(life[1]);
  if (child < 0) {
    guard.error = "cannot start the stop guard: " + systemMessage(forkError);
    ::close(done[1]);
    ::close(life[0]);
    return guard;
  }
  setpgid(child, child);  // as the child does, whichever runs first
  guard.pid = child;
  guard.done = done[1];
  guard.life = life[0];
  return guard;
}

}  // namespace

StopGuard::StopGuard(SerialPort& port, const StopFrames& stops) : port_(port) {
  ForkedGuard guard = forkGuard(port, stops);
  // The fault handler is the program's alone: installed once the guard is
  // forked, it is never the guard's.
  catchFaults(port.nativeHandle(), stops);
  catchingFaults_ = true;
  if (guard.pid < 0) {
    error_ = guard.error;
    return;
  }
  guard_ = guard.pid;
  done_ = guard.done;
  life_ = guard.life;
  watching_ = true;
}

StopGuard::~StopGuard() {
  dismiss();
}

void StopGuard::followPort() {
  if (catchingFaults_) {
    faultStop.fd = port_.nativeHandle();
  }
}

// Lets the guard go: with "done" it leaves quietly, without it it sends the
// stop frames. Either way it is gone, and reaped, when this returns.
void StopGuard::release(bool done) {
  if (watching_) {
    int status = 0;
    // A guard that died already is not written to: the pipe has no reader.
    if (done && waitpid(guard_, &status, WNOHANG) == 0) {
      const ssize_t said = write(done_, kDone, sizeof kDone);
      (void)said;  // a guard that is gone cannot send anything either
    }
    ::close(done_);
    ::close(life_);
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

NativePortHandle StopGuard::lifeline() const {
  return watching_ ? life_ : -1;
}

std::string StopGuard::describe() const {
  return "the stop guard (process " + std::to_string(guard_) + ")";
}

bool runAsStopGuard() {
  return false;
}

}  // namespace ptmove
