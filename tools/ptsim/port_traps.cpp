#include "port_traps.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

extern char** environ;

namespace ptmove {

namespace {

// At least this many numbers are trapped, whatever /dev holds now.
constexpr int kFewestTrapped = 32;

// The number that ends `text` after `prefix` ("ttyS3" after "ttyS": 3), or
// -1 when the rest is not a plain number.
int numberAfter(const char* text, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  if (std::strncmp(text, prefix, length) != 0 || text[length] == '\0') {
    return -1;
  }
  int number = 0;
  for (const char* digit = text + length; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || number > 100000) {
      return -1;
    }
    number = number * 10 + (*digit - '0');
  }
  return number;
}

// The COM numbers a command might reach a device by: 1 to the highest
// /dev/ttyS<n-1> there is, and those set in the environment.
std::set<int> numbersToTrap() {
  int highest = kFewestTrapped;
  if (DIR* dev = opendir("/dev")) {
    while (const dirent* entry = readdir(dev)) {
      highest = std::max(highest, numberAfter(entry->d_name, "ttyS") + 1);
    }
    closedir(dev);
  }
  std::set<int> numbers;
  for (int n = 1; n <= highest; ++n) {
    numbers.insert(n);
  }
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text(*variable);
    const int n = numberAfter(text.substr(0, text.find('=')).c_str(), "PTMOVE_COM");
    if (n >= 1) {
      numbers.insert(n);
    }
  }
  return numbers;
}

std::string failure(const std::string& what) {
  return "cannot keep the command off the real ports: " + what + ": " + std::strerror(errno);
}

}  // namespace

PortTraps::PortTraps(int simulated) {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ptsim-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    error_ = failure("mkdtemp " + folder);
    return;
  }
  folder_ = folder;
  const std::string trap = folder_ + "/trap";
  if (mkfifo(trap.c_str(), 0600) != 0) {
    error_ = failure("mkfifo " + trap);
    return;
  }
  links_.push_back(trap);
  // Held open for reading and writing, so that no open of it waits, and
  // locked, so that ptmove finds it taken.
  fifo_ = ::open(trap.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fifo_ < 0 || flock(fifo_, LOCK_EX | LOCK_NB) != 0) {
    error_ = failure("lock " + trap);
    return;
  }
  for (int n : numbersToTrap()) {
    if (n == simulated) {
      continue;
    }
    const std::string name = "COM" + std::to_string(n);
    const std::string link = folder_ + "/" + name;
    if (::link(trap.c_str(), link.c_str()) != 0) {
      error_ = failure("link " + link);
      return;
    }
    links_.push_back(link);
    setenv(("PTMOVE_" + name).c_str(), link.c_str(), 1);
  }
  // Watched once ptsim's own opening is over.
  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ < 0 || inotify_add_watch(watch_, folder_.c_str(), IN_OPEN) < 0) {
    error_ = failure("inotify " + folder_);
  }
}

PortTraps::~PortTraps() {
  for (const std::string& link : links_) {
    unlink(link.c_str());
  }
  if (!folder_.empty()) {
    rmdir(folder_.c_str());
  }
  for (int fd : {fifo_, watch_}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

std::vector<int> PortTraps::sprung() {
  std::vector<int> numbers;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = watch_ >= 0 ? read(watch_, buffer, sizeof buffer) : -1;
    if (n <= 0) {
      break;
    }
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      const int number = event->len > 0 ? numberAfter(event->name, "COM") : -1;
      if (number >= 1) {
        numbers.push_back(number);
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  // Whatever a command wrote into a trap goes nowhere.
  char discard[4096];
  while (fifo_ >= 0 && read(fifo_, discard, sizeof discard) > 0) {
  }
  return numbers;
}

}  // namespace ptmove
