// POSIX serial ports: COM<n> is the device named by PTMOVE_COM<n>, or
// /dev/ttyS<n-1>. Exclusive use is an flock on the device, held while the
// port is open; the kernel drops it with the last descriptor, however the
// run ends. The terminal's exclusive mode (TIOCEXCL) is never set: the
// kernel keeps it after a run killed while it held it, for as long as
// another process has the terminal open (a line monitor), and every later
// run would be refused, even the one that would stop the head. A port that
// another program holds in exclusive mode is refused. The device stays
// non-blocking once open, so that every write can be bounded in time.
// A device that hangs up or fails with EIO, ENODEV or ENXIO has vanished
// (an unplugged USB adapter): its descriptor is closed at once, because
// while it is open the kernel gives the returning adapter another name.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "descriptors_posix.h"
#include "line_speed.h"
#include "serial_port.h"
#include "system_message.h"
#include "uart_clock.h"

#ifdef __linux__
#include <sys/sysmacros.h>
#endif

namespace ptmove {

namespace {

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

// The first line setting that does not hold in `t`, or nullptr.
const char* settingNotHeld(const termios& t) {
  if ((t.c_cflag & CSIZE) != CS8) {
    return "8 data bits";
  }
  if ((t.c_cflag & PARENB) != 0) {
    return "no parity";
  }
  if ((t.c_cflag & CSTOPB) != 0) {
    return "one stop bit";
  }
#ifdef CRTSCTS
  if ((t.c_cflag & CRTSCTS) != 0) {
    return "no hardware flow control";
  }
#endif
  if ((t.c_iflag & (IXON | IXOFF)) != 0) {
    return "no software flow control";
  }
  if ((t.c_oflag & OPOST) != 0 || (t.c_iflag & (ICRNL | INLCR | ISTRIP)) != 0 ||
      (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) != 0) {
    return "raw bytes (no processing of line ends)";
  }
  return nullptr;
}

std::string notATerminal(int error) {
  return error == ENOTTY || error == EINVAL ? "it is not a serial port" : systemMessage(error);
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

// The program holding an flock on `path`, as "ptmove, process 1234", from
// the kernel's table of locks where the system has one; "" otherwise.
std::string lockHolder(const std::string& path) {
#ifdef __linux__
  struct stat device {};
  std::ifstream locks("/proc/locks");
  if (stat(path.c_str(), &device) != 0 || !locks) {
    return "";
  }
  // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the holder's process,
  // then the file system's device (hexadecimal) and the file's inode.
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string id, kind, mode, access, pid, file;
    if (!(fields >> id >> kind >> mode >> access >> pid >> file) || kind != "FLOCK") {
      continue;
    }
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(file.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3 ||
        major != major(device.st_dev) || minor != minor(device.st_dev) ||
        inode != static_cast<unsigned long long>(device.st_ino)) {
      continue;
    }
    std::string name;
    std::ifstream comm("/proc/" + pid + "/comm");
    if (std::getline(comm, name) && !name.empty()) {
      return name + ", process " + pid;
    }
    return "process " + pid;
  }
#else
  (void)path;
#endif
  return "";
}

// The name of group `gid` from /etc/group, or "". Read directly rather
// than through the C library's name services, which a statically linked
// program cannot load.
std::string groupName(gid_t gid) {
  std::ifstream groups("/etc/group");
  for (std::string line; std::getline(groups, line);) {
    // name:password:gid:members
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos) {
      continue;
    }
    const std::string id = line.substr(second + 1, line.find(':', second + 1) - second - 1);
    if (id == std::to_string(gid)) {
      return line.substr(0, first);
    }
  }
  return "";
}

// What to do about a device that could not be opened for `error`.
std::string openHint(int error, const std::string& path, std::int32_t portNumber) {
  const std::string variable = "PTMOVE_COM" + std::to_string(portNumber);
  switch (error) {
    case EACCES:
    case EPERM: {
      struct stat device {};
      if (stat(path.c_str(), &device) == 0 && (device.st_mode & S_IRWXG) != 0) {
        const std::string owner = groupName(device.st_gid);
        if (!owner.empty()) {
          return "; the device belongs to group " + owner + ": join it with 'sudo usermod -aG " +
                 owner + " $USER', then log in again";
        }
      }
      return "; only its owner may use it: a udev rule can give it to group dialout";
    }
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return "; set " + variable + " to the port's device, e.g. " + variable +
             "=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 "
             "(ls /dev/serial/by-id lists the adapters plugged in)";
    default:
      return "";
  }
}

std::string fileKind(mode_t mode) {
  if (S_ISREG(mode)) {
    return "a regular file";
  }
  if (S_ISDIR(mode)) {
    return "a directory";
  }
  if (S_ISSOCK(mode)) {
    return "a socket";
  }
  if (S_ISBLK(mode)) {
    return "a block device";
  }
  return "not a character device";
}

std::string inUse(const std::string& holder) {
  return "in use by another program" + (holder.empty() ? "" : " (" + holder + ")");
}

// Waits until `fd` is ready for `events` (0: only a hang-up or an error),
// `deadline` passes, or `cancellation` lets in the interrupt that ends the
// wait; the revents poll gave, 0 when none.
short waitForDevice(int fd, short events, Deadline deadline, Cancellation cancellation) {
  pollfd watch = {fd, events, 0};
  const timespec timeout = toTimespec(deadline.left());
  return ppoll(&watch, 1, &timeout, cancellation.letIn) == 1 ? watch.revents : 0;
}

// Sleeps before a refused write is tried again, 10 ms at most.
void pauseBeforeRetry(Deadline deadline) {
  std::this_thread::sleep_for(
      std::min<Clock::duration>(deadline.left(), std::chrono::milliseconds(10)));
}

// Bytes written but not yet sent by the device, or 0 when it cannot tell.
int queuedOutput(int fd) {
  int queued = 0;
#ifdef TIOCOUTQ
  if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
    return 0;  // not a terminal, or it has vanished
  }
#else
  (void)fd;
#endif
  return queued;
}

// Errors of a device that is no longer there.
bool isVanishedError(int error) {
  return error == EIO || error == ENODEV || error == ENXIO;
}

// Why the UART behind `fd` cannot make `baudRate`, or "" when it can or
// when the driver does not tell its clock.
std::string uartRefusal(int fd, std::int32_t baudRate) {
  UartRate rate;
  if (baudRate <= 0 || !uartRateFor(fd, static_cast<std::uint32_t>(baudRate), rate)) {
    return "";
  }
  const double off = percentOff(rate.bitsPerSecond, static_cast<std::uint32_t>(baudRate));
  if (off <= kMostPercentOff) {
    return "";
  }
  char text[160];
  std::snprintf(text, sizeof text,
                "cannot make %d bit/s: the nearest its clock gives is %.0f bit/s (%u / %u), "
                "%.1f %% off",
                static_cast<int>(baudRate), rate.bitsPerSecond, rate.baseRate, rate.divisor, off);
  return text;
}

}  // namespace

PortDevice portDevice(std::int32_t portNumber) {
  if (portNumber < 1) {
    return {"", ""};
  }
  const std::string variable = "PTMOVE_COM" + std::to_string(portNumber);
  if (const char* configured = std::getenv(variable.c_str())) {
    return {configured, variable};
  }
  return {"/dev/ttyS" + std::to_string(portNumber - 1),
          "the default for COM" + std::to_string(portNumber)};
}

bool SerialPort::open(std::int32_t portNumber) {
  forget(portNumber);
  const std::string com = "COM" + std::to_string(portNumber);
  const PortDevice device = portDevice(portNumber);
  if (portNumber < 1) {
    error_ = "cannot open " + com + ": there is no such port (ports are numbered from 1)";
    return false;
  }
  if (device.path.empty()) {
    error_ = "cannot open " + com + ": " + device.origin + " is set but empty; set it to the " +
             "port's device, e.g. " + device.origin + "=/dev/ttyUSB0";
    return false;
  }
  name_ = com + " (" + device.path + (device.origin.rfind("PTMOVE_", 0) == 0 ? ", from " : ", ") +
          device.origin + ")";
  return openDevice();
}

bool SerialPort::openDevice() {
  const std::string path = portDevice(portNumber_).path;
  // Non-blocking, so that opening does not wait for a modem's carrier, and
  // no write can wait longer than we let it.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    error_ = "cannot open " + name_ + ": " +
             (error == EBUSY ? inUse(lockHolder(path))
                             : systemMessage(error) + openHint(error, path, portNumber_));
    return false;
  }
  // A file named by mistake would be overwritten by the frames.
  struct stat device {};
  if (fstat(fd, &device) == 0 && !S_ISCHR(device.st_mode) && !S_ISFIFO(device.st_mode)) {
    ::close(fd);
    error_ = "cannot open " + name_ + ": it is " + fileKind(device.st_mode) +
             ", not a serial port; set PTMOVE_COM" + std::to_string(portNumber_) +
             " to the port's device";
    return false;
  }
  // Another program's port is let go at once: a plain close, with no
  // drain, flush or settings that would touch the owner's line.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    error_ = "cannot open " + name_ + ": " +
             (error == EWOULDBLOCK ? inUse(lockHolder(path)) : systemMessage(error));
    return false;
  }
  if (heldExclusivelyByOthers(fd)) {
    ::close(fd);
    error_ = "cannot open " + name_ + ": " + inUse("") + ", which holds it in exclusive mode";
    return false;
  }
  fd_ = fd;
  ignoreCarrier(fd_);
  return true;
}

bool SerialPort::applyTimeouts() {
  timeoutsApplied_ = true;
  termios t{};
  if (tcgetattr(fd_, &t) != 0) {
    error_ = "cannot set the timeouts of " + name_ + ": " + notATerminal(errno);
    return false;
  }
  // Reads wait with poll, the device stays non-blocking: these stand for
  // whoever opens the device after us with blocking reads.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 10;
  if (tcsetattr(fd_, TCSANOW, &t) != 0) {
    error_ = "cannot set the timeouts of " + name_ + ": " + systemMessage(errno);
    return false;
  }
  return true;
}

bool SerialPort::applyLineSettings(std::int32_t baudRate) {
  const std::string line = name_ + " at " + std::to_string(baudRate) + " bit/s, raw 8N1";
  lineSettingsApplied_ = true;
  baudRate_ = baudRate;
  // A rate the UART's divisor cannot make is not set at all: the line
  // would run at another rate while the driver reports the one asked.
  const std::string uartCannot = uartRefusal(fd_, baudRate);
  termios t{};
  bool lineSet = false;
  if (tcgetattr(fd_, &t) != 0) {
    error_ = "cannot set the line of " + line + ": " + notATerminal(errno);
  } else {
    // The rest of the settings are applied even when the speed is refused,
    // so the frames still leave unaltered.
    makeRawEightNOne(t);
    const SpeedName* speed = uartCannot.empty() ? findSpeed(baudRate) : nullptr;
    if (speed != nullptr) {
      cfsetispeed(&t, static_cast<speed_t>(speed->code));
      cfsetospeed(&t, static_cast<speed_t>(speed->code));
    }
    termios now{};
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
      error_ = "cannot set the line of " + line + ": " + systemMessage(errno);
    } else if (tcgetattr(fd_, &now) != 0) {
      error_ = "cannot read back the line of " + line + ": " + systemMessage(errno);
    } else if (const char* setting = settingNotHeld(now)) {
      // tcsetattr succeeds when any part was applied: read back what holds.
      error_ = "the driver of " + name_ + " did not keep " + setting;
    } else if (!uartCannot.empty()) {
      error_ = "the UART of " + name_ + " " + uartCannot + "; it keeps the speed it has" +
               speedInParentheses(currentSpeed(fd_)) + ", raw 8N1";
    } else if (baudRate <= 0) {
      error_ = std::to_string(baudRate) + " bit/s is not a line speed; " + name_ +
               " keeps the speed it has" + speedInParentheses(currentSpeed(fd_)) + ", raw 8N1";
    } else if (speed != nullptr
                   ? cfgetospeed(&now) == speed->code && cfgetispeed(&now) == speed->code
                   : setCustomSpeed(fd_, static_cast<std::uint32_t>(baudRate))) {
      lineSet = true;
    } else {
      error_ = "the driver of " + name_ + " refused " + std::to_string(baudRate) + " bit/s";
    }
  }
  bitsPerSecond_ = lineSet ? baudRate : currentSpeed(fd_);
  // Raise DTR and RTS where the device has modem lines; a pseudo-terminal
  // or a USB adapter without them simply refuses.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd_, TIOCMBIS, &lines);
  return lineSet;
}

std::size_t SerialPort::write(const std::uint8_t* data, std::size_t size, Deadline deadline,
                              Cancellation cancellation, OnError onError) {
  const Clock::duration limit = deadline.left();
  std::size_t written = 0;
  std::string failure;
  while (written < size) {
    if (fd_ < 0) {
      failure = "the device has vanished";
      break;
    }
    const ssize_t n = ::write(fd_, data + written, size - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
      continue;
    }
    const int error = n < 0 ? errno : 0;
    if (isVanishedError(error)) {
      failure = systemMessage(error) + ": the device has vanished";
      letGo();
      break;
    }
    const bool refused = n < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR;
    if (refused && onError == OnError::kGiveUp) {
      failure = systemMessage(error);
      break;
    }
    if (cancellation.requested()) {
      failure = "cut short by " + interruptName(*cancellation.interrupt);
      break;
    }
    if (deadline.passed()) {
      failure = refused ? systemMessage(error) + ", again and again for " + seconds(limit)
                        : "the line took nothing more for " + seconds(limit);
      break;
    }
    // A refused write is tried again after a pause; otherwise the line
    // has no room yet.
    if (refused) {
      pauseBeforeRetry(deadline);
    } else {
      waitForDevice(fd_, POLLOUT, deadline, cancellation);
    }
  }
  if (written < size) {
    failedWrite(written, size, failure);
  }
  return written;
}

std::size_t SerialPort::read(std::uint8_t* buffer, std::size_t capacity, Deadline deadline,
                             Cancellation cancellation) {
  bool readable = false;  // the last wait said there was something to read
  while (fd_ >= 0 && capacity > 0) {
    const ssize_t n = ::read(fd_, buffer, capacity);
    if (n > 0) {
      return static_cast<std::size_t>(n);
    }
    const int error = n < 0 ? errno : 0;
    // A terminal that hung up reads as the end of a file.
    if (isVanishedError(error) || (n == 0 && hungUp(Deadline::after({})))) {
      error_ = "reading " + name_ + ": " +
               (error != 0 ? systemMessage(error) + ": " : std::string()) +
               "the device has vanished";
      letGo();
      return 0;
    }
    if (n < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
      error_ = "reading " + name_ + ": " + systemMessage(error);
      return 0;
    }
    if ((n == 0 && readable) || cancellation.requested() || deadline.passed()) {
      return 0;  // the end of a file that is not a terminal: nothing more comes
    }
    readable = (waitForDevice(fd_, POLLIN, deadline, cancellation) & POLLIN) != 0;
  }
  return 0;
}

void SerialPort::writeFromSignalHandler(const std::uint8_t* data, std::size_t size) noexcept {
  const int fd = fd_;
  for (std::size_t sent = 0; fd >= 0 && sent < size;) {
    const ssize_t n = ::write(fd, data + sent, size - sent);
    if (n <= 0) {
      return;  // the line takes nothing now
    }
    sent += static_cast<std::size_t>(n);
  }
}

void SerialPort::discardInput() {
  if (fd_ >= 0) {
    tcflush(fd_, TCIFLUSH);  // a device that is not a terminal has nothing kept
  }
}

bool SerialPort::hungUp(Deadline until) const {
  if (fd_ < 0) {
    return letGoAt_.has_value();
  }
  return waitForDevice(fd_, 0, until, {}) != 0;
}

void SerialPort::closeHandle() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool SerialPort::drain(Deadline deadline) {
  const Clock::duration limit = deadline.left();
  while (queuedOutput(fd_) > 0) {
    if (deadline.passed()) {
      failedDrain(limit);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // What is left is in the hardware's own buffer: let tcdrain wait it out.
  while (tcdrain(fd_) != 0 && errno == EINTR) {
  }
  return true;
}

void SerialPort::close() {
  if (fd_ < 0) {
    return;
  }
  if (queuedOutput(fd_) > 0) {
    tcflush(fd_, TCOFLUSH);  // what did not leave by now never will
  }
  closeHandle();
}

WatchEnd SerialPort::watch(Deadline until, Cancellation cancellation, NativeHandle other) const {
  // Events 0: only a hang-up or an error.
  return watchDescriptor(fd_, 0, until, cancellation, other);
}

void SerialPort::keepOnlyThisAnd(NativeHandle kept1, NativeHandle kept2) const {
  closeAllBut(fd_, kept1, kept2);
}

}  // namespace ptmove
