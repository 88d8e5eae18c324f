// POSIX serial ports: COM<n> is the device named by PTMOVE_COM<n>, or
// /dev/ttyS<n-1>. Exclusive use is an flock on the device plus the
// terminal's exclusive mode, as other serial programs expect.

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <thread>

#include "serial/custom_speed.h"
#include "serial/serial_port.h"

namespace ptmove {

namespace {

// The interrupt that cut the wait short, or 0: set by the signal handler.
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void onInterrupt(int signal) {
  interruptSignal = signal;
}

// Our handler is in place for `signal`: it was not ignored before the wait.
bool handled(int signal) {
  struct sigaction current {};
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == onInterrupt;
}

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// How long closing waits for written bytes to leave: 14 bytes take 2.8 s
// at 50 bit/s, the slowest standard speed.
constexpr std::chrono::milliseconds kDrainLimit{3000};

struct SpeedName {
  std::int32_t baud;
  speed_t code;
};

// The standard speeds this platform defines (0 is left out: it hangs up).
constexpr SpeedName kSpeeds[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

const SpeedName* findSpeed(std::int32_t baud) {
  for (const SpeedName& speed : kSpeeds) {
    if (speed.baud == baud) {
      return &speed;
    }
  }
  return nullptr;
}

// Raw 8N1 without flow control on top of `t`. The speed bits and the read
// timeouts stay as they are: the speed is set on its own.
void makeRawEightNOne(termios& t) {
  tcflag_t cleared = CSIZE | CSTOPB | PARENB | PARODD;
#ifdef CMSPAR
  cleared |= CMSPAR;
#endif
#ifdef CRTSCTS
  cleared |= CRTSCTS;
#endif
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = (t.c_cflag & ~cleared) | CS8 | CREAD | CLOCAL | HUPCL;
}

bool isRawEightNOne(const termios& t) {
  constexpr tcflag_t kLineBits = CSIZE | PARENB | CSTOPB
#ifdef CRTSCTS
                                 | CRTSCTS
#endif
      ;
  return (t.c_cflag & kLineBits) == CS8 && (t.c_oflag & OPOST) == 0 &&
         (t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP)) == 0 &&
         (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0;
}

// Sets the line to raw 8N1 at `baud`. The rest of the settings are applied
// even when the speed is refused, so the frames still leave unaltered.
bool setLine(int fd, std::int32_t baud) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    return false;
  }
  makeRawEightNOne(t);
  const SpeedName* speed = findSpeed(baud);
  if (speed != nullptr) {
    cfsetispeed(&t, speed->code);
    cfsetospeed(&t, speed->code);
  }
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    return false;
  }
  // tcsetattr succeeds when any part was applied: read back what holds.
  termios now{};
  if (tcgetattr(fd, &now) != 0 || !isRawEightNOne(now)) {
    return false;
  }
  if (speed != nullptr) {
    return cfgetospeed(&now) == speed->code && cfgetispeed(&now) == speed->code;
  }
  return baud > 0 && setCustomSpeed(fd, static_cast<std::uint32_t>(baud));
}

// Lets the line ignore the modem's carrier, so nothing waits for it.
void ignoreCarrier(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    t.c_cflag |= CLOCAL;
    tcsetattr(fd, TCSANOW, &t);
  }
}

bool heldExclusivelyByOthers(int fd) {
#ifdef TIOCGEXCL
  int exclusive = 0;
  return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
  (void)fd;
  return false;
#endif
}

// Waits until the terminal's output queue is empty, for at most `limit`,
// then lets tcdrain wait out the hardware. Output that does not move in
// time is discarded, so that neither this nor closing can hang.
void drainWithin(int fd, std::chrono::milliseconds limit) {
#ifdef TIOCOUTQ
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
      return;  // not a terminal, or it has vanished
    }
    if (queued <= 0) {
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      tcflush(fd, TCOFLUSH);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
#else
  (void)limit;
#endif
  while (tcdrain(fd) != 0 && errno == EINTR) {
  }
}

}  // namespace

struct InterruptibleWait::Saved {
  struct sigaction previous[std::size(kInterrupts)];
};

std::string portDeviceName(std::int32_t portNumber) {
  if (portNumber < 1) {
    return "";
  }
  const std::string variable = "PTMOVE_COM" + std::to_string(portNumber);
  if (const char* configured = std::getenv(variable.c_str())) {
    return configured;
  }
  return "/dev/ttyS" + std::to_string(portNumber - 1);
}

SerialPort::~SerialPort() {
  close();
}

bool SerialPort::open(std::int32_t portNumber) {
  close();
  const std::string path = portDeviceName(portNumber);
  if (path.empty()) {
    return false;
  }
  // Non-blocking, so that opening does not wait for a modem's carrier.
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    return false;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0 || heldExclusivelyByOthers(fd_)) {
    close();
    return false;
  }
  exclusive_ = ioctl(fd_, TIOCEXCL) == 0;
  ignoreCarrier(fd_);
  const int flags = fcntl(fd_, F_GETFL);
  if (flags == -1 || fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    close();
    return false;
  }
  return true;
}

bool SerialPort::applyTimeouts() {
  termios t{};
  if (tcgetattr(fd_, &t) != 0) {
    return false;
  }
  // We never read; a read would return after 1 s without data.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 10;
  return tcsetattr(fd_, TCSANOW, &t) == 0;
}

bool SerialPort::applyLineSettings(std::int32_t baudRate) {
  const bool lineSet = setLine(fd_, baudRate);
  // Raise DTR and RTS where the device has modem lines; a pseudo-terminal
  // or a USB adapter without them simply refuses.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd_, TIOCMBIS, &lines);
  return lineSet;
}

std::size_t SerialPort::write(const std::uint8_t* data, std::size_t size) {
  std::size_t written = 0;
  while (written < size) {
    const ssize_t n = ::write(fd_, data + written, size - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return written;
}

void SerialPort::close() {
  if (fd_ < 0) {
    return;
  }
  drainWithin(fd_, kDrainLimit);
  if (exclusive_) {
    ioctl(fd_, TIOCNXCL);  // the terminal may outlive us (a pty's master)
    exclusive_ = false;
  }
  ::close(fd_);
  fd_ = -1;
}

InterruptibleWait::InterruptibleWait() : saved_(std::make_unique<Saved>()) {
  interruptSignal = 0;
  for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
    struct sigaction current {};
    sigaction(kInterrupts[i], nullptr, &current);
    saved_->previous[i] = current;
    if (current.sa_handler == SIG_IGN) {
      continue;  // started ignoring it (nohup, a background job): keep it so
    }
    struct sigaction catcher {};
    catcher.sa_handler = onInterrupt;
    sigemptyset(&catcher.sa_mask);
    catcher.sa_flags = 0;  // no SA_RESTART: a blocked call returns early
    sigaction(kInterrupts[i], &catcher, nullptr);
  }
}

InterruptibleWait::~InterruptibleWait() {
  for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
    sigaction(kInterrupts[i], &saved_->previous[i], nullptr);
  }
}

bool InterruptibleWait::wait(std::uint64_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  // The interrupts are blocked and taken with sigtimedwait, so one that
  // arrives just before the wait begins cannot be missed; one that came
  // earlier still went through the handler. sigtimedwait also keeps to the
  // timer's usual slack, where select-style waits add 0.1 % of the time.
  sigset_t interrupts;
  sigemptyset(&interrupts);
  for (int signal : kInterrupts) {
    sigaddset(&interrupts, signal);
  }
  sigset_t outside;
  pthread_sigmask(SIG_BLOCK, &interrupts, &outside);
  const Clock::time_point start = Clock::now();
  while (interruptSignal == 0) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    const std::uint64_t elapsedMicros = static_cast<std::uint64_t>(elapsed);
    if (elapsedMicros / 1000 >= milliseconds) {
      break;
    }
    // Microseconds left, in steps of an hour at most so nothing overflows.
    const std::uint64_t left = std::min<std::uint64_t>(
        (milliseconds - elapsedMicros / 1000) * 1000 - elapsedMicros % 1000, 3'600'000'000ull);
    timespec step{};
    step.tv_sec = static_cast<time_t>(left / 1'000'000);
    step.tv_nsec = static_cast<long>(left % 1'000'000) * 1000;
    const int signal = sigtimedwait(&interrupts, nullptr, &step);
    if (signal > 0 && handled(signal)) {
      interruptSignal = signal;
    }
  }
  pthread_sigmask(SIG_SETMASK, &outside, nullptr);
  return interruptSignal == 0;
}

bool InterruptibleWait::interrupted() const {
  return interruptSignal != 0;
}

void InterruptibleWait::endProcessIfInterrupted() {
  const int signal = interruptSignal;
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
