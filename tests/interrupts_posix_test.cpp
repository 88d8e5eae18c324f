#include <pthread.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "interrupts.h"
#include "wait.h"

namespace ptmove {
namespace {

using Clock = std::chrono::steady_clock;

void (*handlerOf(int signal))(int) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return current.sa_handler;
}

// Waits `milliseconds` for nothing but the interrupts.
WaitEnd waitFor(const Interrupts& interrupts, std::uint64_t milliseconds) {
  WaitWatch watch;
  watch.interrupts = interrupts.cancellation();
  return waitUntil(Deadline::afterMilliseconds(milliseconds), watch);
}

// Sends `signal` to the calling thread after `delay`, from another thread.
std::thread signalLater(int signal, std::chrono::milliseconds delay) {
  const pthread_t target = pthread_self();
  return std::thread([=] {
    std::this_thread::sleep_for(delay);
    pthread_kill(target, signal);
  });
}

TEST(InterruptsPosixTest, InterruptEndsTheWaitAtOnce) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN + 3}) {
    Interrupts wait;
    const Clock::time_point start = Clock::now();
    std::thread sender = signalLater(signal, std::chrono::milliseconds(100));
    EXPECT_EQ(waitFor(wait, 60'000), WaitEnd::kInterrupted) << signal;
    sender.join();
    EXPECT_TRUE(wait.interrupted());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << signal;
  }
}

TEST(InterruptsPosixTest, InterruptBeforeTheWaitIsNotLost) {
  Interrupts wait;
  raise(SIGTERM);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(waitFor(wait, 60'000), WaitEnd::kInterrupted);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST(InterruptsPosixTest, KeepsWhatWasIgnoredOrBlockedAndRestoresTheRest) {
  signal(SIGHUP, SIG_IGN);
  signal(SIGINT, SIG_DFL);
  sigset_t usr2;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &usr2, nullptr);
  {
    Interrupts wait;
    std::thread hangUp = signalLater(SIGHUP, std::chrono::milliseconds(20));
    std::thread user = signalLater(SIGUSR2, std::chrono::milliseconds(40));
    EXPECT_EQ(waitFor(wait, 200), WaitEnd::kElapsed)
        << "neither an ignored nor a blocked signal ends the wait";
    hangUp.join();
    user.join();
    EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
    EXPECT_EQ(handlerOf(SIGUSR2), SIG_DFL);
    EXPECT_NE(handlerOf(SIGINT), SIG_DFL);
    EXPECT_FALSE(wait.interrupted());
  }
  EXPECT_EQ(handlerOf(SIGINT), SIG_DFL);
  EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
  signal(SIGHUP, SIG_DFL);
  signal(SIGUSR2, SIG_IGN);  // drop the pending one before unblocking
  pthread_sigmask(SIG_UNBLOCK, &usr2, nullptr);
  signal(SIGUSR2, SIG_DFL);
}

TEST(InterruptsPosixTest, EachWaitStartsUninterrupted) {
  {
    Interrupts first;
    raise(SIGINT);
    first.release();
    EXPECT_TRUE(first.interrupted()) << "one that came before release is not lost";
  }
  Interrupts second;
  EXPECT_FALSE(second.interrupted());
  EXPECT_EQ(waitFor(second, 1), WaitEnd::kElapsed);
}

TEST(InterruptsPosixTest, EndsTheProcessAsTheSignalWould) {
  EXPECT_EXIT(
      {
        Interrupts wait;
        raise(SIGTERM);
        waitFor(wait, 60'000);
        wait.endProcessIfInterrupted();
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EXIT(
      {
        Interrupts wait;
        waitFor(wait, 1);
        wait.endProcessIfInterrupted();
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace ptmove
