#include <pthread.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "interruptible_wait.h"

namespace ptmove {
namespace {

using Clock = std::chrono::steady_clock;

void (*handlerOf(int signal))(int) {
  struct sigaction current {};
  sigaction(signal, nullptr, &current);
  return current.sa_handler;
}

// Sends `signal` to the calling thread after `delay`, from another thread.
std::thread signalLater(int signal, std::chrono::milliseconds delay) {
  const pthread_t target = pthread_self();
  return std::thread([=] {
    std::this_thread::sleep_for(delay);
    pthread_kill(target, signal);
  });
}

TEST(InterruptibleWaitPosixTest, InterruptEndsTheWaitAtOnce) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN + 3}) {
    InterruptibleWait wait;
    const Clock::time_point start = Clock::now();
    std::thread sender = signalLater(signal, std::chrono::milliseconds(100));
    EXPECT_EQ(wait.wait(60'000), WaitEnd::kInterrupted) << signal;
    sender.join();
    EXPECT_TRUE(wait.interrupted());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << signal;
  }
}

TEST(InterruptibleWaitPosixTest, InterruptBeforeTheWaitIsNotLost) {
  InterruptibleWait wait;
  raise(SIGTERM);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(wait.wait(60'000), WaitEnd::kInterrupted);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST(InterruptibleWaitPosixTest, KeepsWhatWasIgnoredOrBlockedAndRestoresTheRest) {
  signal(SIGHUP, SIG_IGN);
  signal(SIGINT, SIG_DFL);
  sigset_t usr2;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &usr2, nullptr);
  {
    InterruptibleWait wait;
    std::thread hangUp = signalLater(SIGHUP, std::chrono::milliseconds(20));
    std::thread user = signalLater(SIGUSR2, std::chrono::milliseconds(40));
    EXPECT_EQ(wait.wait(200), WaitEnd::kElapsed)
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

TEST(InterruptibleWaitPosixTest, EachWaitStartsUninterrupted) {
  {
    InterruptibleWait first;
    raise(SIGINT);
    EXPECT_TRUE(first.interrupted());
  }
  InterruptibleWait second;
  EXPECT_FALSE(second.interrupted());
  EXPECT_EQ(second.wait(1), WaitEnd::kElapsed);
}

TEST(InterruptibleWaitPosixTest, EndsTheProcessAsTheSignalWould) {
  EXPECT_EXIT(
      {
        InterruptibleWait wait;
        raise(SIGTERM);
        wait.wait(60'000);
        wait.endProcessIfInterrupted();
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EXIT(
      {
        InterruptibleWait wait;
        wait.wait(1);
        wait.endProcessIfInterrupted();
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace ptmove
