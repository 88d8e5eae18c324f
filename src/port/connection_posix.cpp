// POSIX connections: a non-blocking socket, closed on exec, with Nagle's
// delay off so that each frame leaves at once.

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/sockios.h>
#endif

#include "connection.h"
#include "descriptors_posix.h"
#include "host_lookup.h"
#include "system_message.h"

namespace ptmove {

namespace {

#ifdef POLLRDHUP
constexpr short kFarEndClosed = POLLRDHUP;
#else
constexpr short kFarEndClosed = 0;  // only a reset, then
#endif

// Connects `fd` to `address` by `deadline`: 0, or the error.
int connectOne(int fd, const addrinfo& address, Deadline deadline) {
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) {
    return 0;
  }
  if (errno != EINPROGRESS) {
    return errno;
  }
  pollfd watch = {fd, POLLOUT, 0};
  while (!deadline.passed()) {
    const timespec timeout = toTimespec(deadline.left());
    if (ppoll(&watch, 1, &timeout, nullptr) == 1) {
      int error = 0;
      socklen_t size = sizeof error;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
      return error;
    }
  }
  return ETIMEDOUT;
}

}  // namespace

Connection::~Connection() {
  close();
}

bool Connection::connect(const std::string& host, const std::string& service, Deadline deadline,
                         std::string& error) {
  close();
  const Clock::duration bound = deadline.left();
  AddressList addresses;
  if (!lookUp(host, service, deadline, addresses, error)) {
    return false;
  }
  int last = ETIMEDOUT;
  for (const addrinfo* address = addresses.first(); address != nullptr && !deadline.passed();
       address = address->ai_next) {
    const int fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address->ai_protocol);
    if (fd < 0) {
      last = errno;
      continue;
    }
    last = connectOne(fd, *address, deadline);
    if (last == 0) {
      const int on = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      fd_ = fd;
      return true;
    }
    ::close(fd);
  }
  error = last == ETIMEDOUT ? "the server did not answer within " + seconds(bound)
                            : systemMessage(last);
  return false;
}

bool Connection::isOpen() const {
  return fd_ >= 0;
}

Transfer Connection::send(const std::uint8_t* data, std::size_t size) {
  const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) {
    return {Transfer::kMoved, static_cast<std::size_t>(n), ""};
  }
  const int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
    return {Transfer::kWouldBlock, 0, ""};
  }
  if (error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == EBADF) {
    return {Transfer::kClosed, 0, systemMessage(error)};
  }
  return {Transfer::kFailed, 0, systemMessage(error)};
}

Transfer Connection::receive(std::uint8_t* buffer, std::size_t capacity) {
  const ssize_t n = ::recv(fd_, buffer, capacity, MSG_DONTWAIT);
  if (n > 0) {
    return {Transfer::kMoved, static_cast<std::size_t>(n), ""};
  }
  if (n == 0) {
    return {Transfer::kClosed, 0, "the server closed the connection"};
  }
  const int error = errno;
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
    return {Transfer::kWouldBlock, 0, ""};
  }
  if (error == ECONNRESET || error == ENOTCONN || error == EBADF) {
    return {Transfer::kClosed, 0, systemMessage(error)};
  }
  return {Transfer::kFailed, 0, systemMessage(error)};
}

void Connection::sendFromSignalHandler(const std::uint8_t* data, std::size_t size) const noexcept {
  for (std::size_t sent = 0; fd_ >= 0 && sent < size;) {
    const ssize_t n = ::send(fd_, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) {
      return;  // it takes nothing now
    }
    sent += static_cast<std::size_t>(n);
  }
}

bool Connection::waitUntil(Ready what, Deadline deadline, Cancellation cancellation) const {
  pollfd watch = {fd_, static_cast<short>(what == Ready::kToSend ? POLLOUT : POLLIN), 0};
  const timespec timeout = toTimespec(deadline.left());
  return ppoll(&watch, 1, &timeout, cancellation.letIn) == 1;
}

bool Connection::closedByPeer(Deadline until, std::vector<std::uint8_t>& /*arrived*/) const {
  return fd_ >= 0 && watchDescriptor(fd_, kFarEndClosed, until, {}, -1) == WatchEnd::kHungUp;
}

std::optional<std::size_t> Connection::unacknowledged() const {
#ifdef SIOCOUTQ
  int queued = 0;
  if (ioctl(fd_, SIOCOUTQ, &queued) == 0 && queued >= 0) {
    return static_cast<std::size_t>(queued);
  }
#endif
  return std::nullopt;
}

void Connection::shutdownSending() {
  ::shutdown(fd_, SHUT_WR);
}

void Connection::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

WatchEnd Connection::watch(Deadline until, Cancellation cancellation, NativeHandle other) const {
  return watchDescriptor(fd_, kFarEndClosed, until, cancellation, other);
}

void Connection::keepOnlyThisAnd(NativeHandle kept1, NativeHandle kept2) const {
  closeAllBut(fd_, kept1, kept2);
}

}  // namespace ptmove
