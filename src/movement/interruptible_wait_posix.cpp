// POSIX interrupts: the terminating signals are caught by a handler that
// only records which one came, and are kept blocked for the whole movement.
// The wait takes them with sigtimedwait, and port writes let them in only
// inside ppoll, so none can slip between a check and a blocking call.

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>  // sigabbrev_np

#include "interruptible_wait.h"

namespace ptmove {

namespace {

// The first signal caught during the movement, or 0: set by the handler.
volatile sig_atomic_t caughtSignal = 0;

extern "C" void onInterrupt(int signal) {
  if (caughtSignal == 0) {
    caughtSignal = signal;
  }
}

std::vector<int> listTerminatingSignals() {
  std::vector<int> signals = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGUSR1, SIGUSR2,
                              SIGALRM, SIGPROF, SIGVTALRM, SIGXCPU, SIGXFSZ};
#ifdef SIGPOLL
  signals.push_back(SIGPOLL);  // SIGIO on Linux
#elif defined(SIGIO)
  signals.push_back(SIGIO);
#endif
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
    signals.push_back(signal);
  }
#endif
  return signals;
}

// Records a caught signal that is waiting, blocked, to be taken.
void takePending(const sigset_t& caught) {
  const timespec now{};
  const int signal = sigtimedwait(&caught, nullptr, &now);
  if (signal > 0 && caughtSignal == 0) {
    caughtSignal = signal;
  }
}

}  // namespace

const std::vector<int>& terminatingSignals() {
  static const std::vector<int> signals = listTerminatingSignals();
  return signals;
}

struct InterruptibleWait::Saved {
  std::vector<std::pair<int, struct sigaction>> previous;  // the signals we catch
  sigset_t candidates;                                     // those blocked, to be caught
  sigset_t caught;                                         // those caught: not ignored
  sigset_t outside;                                        // the mask before they were blocked
  bool catching = false;
  bool released = false;
};

InterruptibleWait::InterruptibleWait() : saved_(std::make_unique<Saved>()) {
  caughtSignal = 0;
  sigemptyset(&saved_->caught);
  // Blocked at once, so that none can end the program from here on; those
  // held off by whoever started us stay so. The handlers come when first
  // needed (catchBlocked): a signal that comes before waits for them,
  // blocked, and the movement frame does not wait for the dozens of calls
  // they take.
  sigemptyset(&saved_->candidates);
  sigset_t blockedAtStart;
  pthread_sigmask(SIG_SETMASK, nullptr, &blockedAtStart);
  for (int signal : terminatingSignals()) {
    if (sigismember(&blockedAtStart, signal) == 0) {
      sigaddset(&saved_->candidates, signal);
    }
  }
  pthread_sigmask(SIG_BLOCK, &saved_->candidates, &saved_->outside);
}

InterruptibleWait::~InterruptibleWait() {
  release();
}

// Installs the catcher for every blocked candidate but those that were
// ignored (nohup, a background job), which are put back as they were.
void InterruptibleWait::catchBlocked() const {
  if (saved_->catching) {
    return;
  }
  saved_->catching = true;
  struct sigaction catcher {};
  catcher.sa_handler = onInterrupt;
  sigemptyset(&catcher.sa_mask);
  catcher.sa_flags = 0;  // no SA_RESTART: a blocked call returns early
  for (int signal : terminatingSignals()) {
    // One call both installs the catcher and tells what was there.
    struct sigaction previous {};
    if (sigismember(&saved_->candidates, signal) != 1 ||
        sigaction(signal, &catcher, &previous) != 0) {
      continue;
    }
    if (previous.sa_handler == SIG_IGN) {
      sigaction(signal, &previous, nullptr);
      continue;
    }
    saved_->previous.emplace_back(signal, previous);
    sigaddset(&saved_->caught, signal);
  }
}

void InterruptibleWait::release() {
  if (saved_->released) {
    return;
  }
  catchBlocked();
  saved_->released = true;
  takePending(saved_->caught);  // one caught now is told, not lost
  // Actions first, then the mask: a signal still pending now meets the
  // action it would have met without us.
  for (const auto& [signal, action] : saved_->previous) {
    sigaction(signal, &action, nullptr);
  }
  pthread_sigmask(SIG_SETMASK, &saved_->outside, nullptr);
}

WaitEnd InterruptibleWait::wait(std::uint64_t milliseconds, const SerialPort* watched,
                                const StopGuard* guard) {
  using Clock = std::chrono::steady_clock;
  // sigtimedwait keeps to the timer's usual slack. ppoll, which also
  // watches the port, may wake up to 0.2 % late (100 ms at most): it covers
  // the wait but for its last stretch, which sigtimedwait then waits out.
  const int port = watched != nullptr ? watched->nativeHandle() : -1;
  const int lifeline = guard != nullptr ? guard->lifeline() : -1;
  const Clock::time_point start = Clock::now();
  if (!saved_->catching && milliseconds > 0) {
    // The first millisecond after the movement frame goes to the driver
    // and to whatever reads the line, not to the dozens of calls that
    // install the catchers: a signal that comes meanwhile waits, blocked.
    const timespec first{0, 1'000'000};
    nanosleep(&first, nullptr);
  }
  catchBlocked();
  while (caughtSignal == 0) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    const std::uint64_t elapsedMicros = static_cast<std::uint64_t>(elapsed);
    if (elapsedMicros / 1000 >= milliseconds) {
      break;
    }
    // Microseconds left, in steps of an hour at most so nothing overflows.
    std::uint64_t left = std::min<std::uint64_t>(
        (milliseconds - elapsedMicros / 1000) * 1000 - elapsedMicros % 1000, 3'600'000'000ull);
    const std::uint64_t pollSlack = std::min<std::uint64_t>(left / 500, 100'000) + 1000;
    const bool watching = (port >= 0 || lifeline >= 0) && left > pollSlack;
    if (watching) {
      left -= pollSlack;
    }
    timespec step{};
    step.tv_sec = static_cast<time_t>(left / 1'000'000);
    step.tv_nsec = static_cast<long>(left % 1'000'000) * 1000;
    if (watching) {
      // For the port, events 0: only a hang-up or an error wakes it. The
      // guard's pipe ends, readable, when the guard dies.
      pollfd watch[2] = {{port, 0, 0}, {lifeline, POLLIN, 0}};
      if (ppoll(watch, 2, &step, &saved_->outside) > 0) {
        if (watch[1].revents != 0) {
          return WaitEnd::kGuardDied;
        }
        if ((watch[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
          return WaitEnd::kPortVanished;
        }
      }
      continue;
    }
    const int signal = sigtimedwait(&saved_->caught, nullptr, &step);
    if (signal > 0 && caughtSignal == 0) {
      caughtSignal = signal;
    }
  }
  return caughtSignal == 0 ? WaitEnd::kElapsed : WaitEnd::kInterrupted;
}

bool InterruptibleWait::interrupted() const {
  catchBlocked();
  takePending(saved_->caught);
  return caughtSignal != 0;
}

std::string InterruptibleWait::interruptName() const {
  catchBlocked();
  takePending(saved_->caught);
  const int signal = caughtSignal;
  if (signal == 0) {
    return "";
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  if (const char* abbreviation = sigabbrev_np(signal)) {
    return std::string("SIG") + abbreviation;
  }
#endif
  return "signal " + std::to_string(signal);
}

const sigset_t* InterruptibleWait::catchMask() const {
  catchBlocked();
  return &saved_->outside;
}

void InterruptibleWait::endProcessIfInterrupted() {
  catchBlocked();
  takePending(saved_->caught);
  const int signal = caughtSignal;
  if (signal == 0) {
    return;
  }
  std::fflush(nullptr);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  sigaction(signal, &defaults, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);  // not reached: the default action ends the process
}

}  // namespace ptmove
