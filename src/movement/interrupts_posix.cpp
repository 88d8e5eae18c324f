// POSIX interrupts: the terminating signals are caught by a handler that
// only records which one came, and are kept blocked for the whole movement
// but inside the calls that wait (ppoll, under the mask that
// cancellation() gives), so that none can slip between a check and a
// blocking call.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "interrupts.h"
#include "system_message.h"

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

}  // namespace

const std::vector<int>& terminatingSignals() {
  static const std::vector<int> signals = listTerminatingSignals();
  return signals;
}

struct Interrupts::Saved {
  std::vector<std::pair<int, struct sigaction>> previous;  // the signals caught
  sigset_t outside;  // the mask before they were blocked, under which waits let them in
  bool released = false;
};

Interrupts::Interrupts() : saved_(std::make_unique<Saved>()) {
  caughtSignal = 0;
  // Blocked first, in one call, so that none can end the program from here
  // on; those held off by whoever started us stay so.
  sigset_t blockedAtStart;
  pthread_sigmask(SIG_SETMASK, nullptr, &blockedAtStart);
  sigset_t candidates;
  sigemptyset(&candidates);
  for (int signal : terminatingSignals()) {
    if (sigismember(&blockedAtStart, signal) == 0) {
      sigaddset(&candidates, signal);
    }
  }
  pthread_sigmask(SIG_BLOCK, &candidates, &saved_->outside);
  // Then caught, but for those that were ignored (nohup, a background
  // job), which are put back as they were.
  struct sigaction catcher {};
  catcher.sa_handler = onInterrupt;
  sigemptyset(&catcher.sa_mask);
  catcher.sa_flags = 0;  // no SA_RESTART: a blocked call returns early
  for (int signal : terminatingSignals()) {
    // One call both installs the catcher and tells what was there.
    struct sigaction previous {};
    if (sigismember(&candidates, signal) != 1 || sigaction(signal, &catcher, &previous) != 0) {
      continue;
    }
    if (previous.sa_handler == SIG_IGN) {
      sigaction(signal, &previous, nullptr);
      continue;
    }
    saved_->previous.emplace_back(signal, previous);
  }
}

Interrupts::~Interrupts() {
  release();
}

Cancellation Interrupts::cancellation() const {
  Cancellation cancellation;
  cancellation.interrupt = &caughtSignal;
  cancellation.letIn = &saved_->outside;
  return cancellation;
}

bool Interrupts::interrupted() const {
  return caughtSignal != 0;
}

std::string Interrupts::name() const {
  return interruptName(caughtSignal);
}

void Interrupts::release() {
  if (saved_->released) {
    return;
  }
  saved_->released = true;
  // The mask first, while the catcher is still in place: one that came
  // meanwhile is let in and recorded, not lost. Then the actions that were
  // there: from now on an interrupt takes its usual effect.
  pthread_sigmask(SIG_SETMASK, &saved_->outside, nullptr);
  for (const auto& [signal, action] : saved_->previous) {
    sigaction(signal, &action, nullptr);
  }
}

void Interrupts::endProcessIfInterrupted() {
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
