// Windows connections through Winsock: a non-blocking socket that is not
// inherited, with Nagle's delay off so that each frame leaves at once.
// Waits are select() in slices of 10 ms, so that an interrupt cuts them
// short without an event tied to the socket. A guard process gets its own
// duplicate of the socket (WSADuplicateSocket), described as text.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>

#include "connection.h"
#include "host_lookup.h"
#include "system_message.h"

namespace ptmove {

namespace {

constexpr std::chrono::milliseconds kSlice{10};

SOCKET asSocket(std::uintptr_t value) {
  return static_cast<SOCKET>(value);
}

bool makeNonBlocking(SOCKET socket) {
  u_long on = 1;
  return ioctlsocket(socket, FIONBIO, &on) == 0;
}

// Whether `socket` is ready to send or to receive by `deadline`: select in
// slices, checking the interrupt between them.
bool ready(SOCKET socket, bool toSend, Deadline deadline, Cancellation cancellation) {
  for (;;) {
    fd_set wanted;
    fd_set failed;
    FD_ZERO(&wanted);
    FD_ZERO(&failed);
    FD_SET(socket, &wanted);
    FD_SET(socket, &failed);
    const auto slice = std::chrono::ceil<std::chrono::microseconds>(
        std::min<Clock::duration>(deadline.left(), kSlice));
    timeval timeout = {static_cast<long>(slice.count() / 1000000),
                       static_cast<long>(slice.count() % 1000000)};
    if (select(0, toSend ? nullptr : &wanted, toSend ? &wanted : nullptr, &failed, &timeout) > 0) {
      return true;
    }
    if (cancellation.requested() || deadline.passed()) {
      return false;
    }
  }
}

bool isClosedError(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAENOTCONN ||
         error == WSAESHUTDOWN || error == WSAENOTSOCK;
}

}  // namespace

Connection::~Connection() {
  close();
  if (started_) {
    WSACleanup();
  }
}

bool Connection::connect(const std::string& host, const std::string& service, Deadline deadline,
                         std::string& error) {
  close();
  const Clock::duration bound = deadline.left();
  if (!started_) {
    WSADATA data;
    const int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
      error = "cannot use the network: " + systemMessage(static_cast<unsigned long>(started));
      return false;
    }
    started_ = true;
  }
  AddressList addresses;
  if (!lookUp(host, service, deadline, addresses, error)) {
    return false;
  }
  int last = WSAETIMEDOUT;
  for (const addrinfo* address = addresses.first(); address != nullptr && !deadline.passed();
       address = address->ai_next) {
    const SOCKET socket = WSASocketW(address->ai_family, address->ai_socktype, address->ai_protocol,
                                     nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
      last = WSAGetLastError();
      continue;
    }
    makeNonBlocking(socket);
    last = 0;
    if (::connect(socket, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
      last = WSAGetLastError();
      if (last == WSAEWOULDBLOCK) {
        last = WSAETIMEDOUT;
        if (ready(socket, true, deadline, {})) {
          int failure = 0;
          int size = sizeof failure;
          getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size);
          last = failure;
        }
      }
    }
    if (last == 0) {
      const BOOL on = TRUE;
      setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
      socket_ = static_cast<std::uintptr_t>(socket);
      return true;
    }
    closesocket(socket);
  }
  error = last == WSAETIMEDOUT ? "the server did not answer within " + seconds(bound)
                               : systemMessage(static_cast<unsigned long>(last));
  return false;
}

bool Connection::isOpen() const {
  return asSocket(socket_) != INVALID_SOCKET;
}

Transfer Connection::send(const std::uint8_t* data, std::size_t size) {
  const int n = ::send(asSocket(socket_), reinterpret_cast<const char*>(data),
                       static_cast<int>(std::min<std::size_t>(size, 0x10000)), 0);
  if (n >= 0) {
    return {Transfer::kMoved, static_cast<std::size_t>(n), ""};
  }
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) {
    return {Transfer::kWouldBlock, 0, ""};
  }
  return {isClosedError(error) ? Transfer::kClosed : Transfer::kFailed, 0,
          systemMessage(static_cast<unsigned long>(error))};
}

Transfer Connection::receive(std::uint8_t* buffer, std::size_t capacity) {
  const int n = ::recv(asSocket(socket_), reinterpret_cast<char*>(buffer),
                       static_cast<int>(std::min<std::size_t>(capacity, 0x10000)), 0);
  if (n > 0) {
    return {Transfer::kMoved, static_cast<std::size_t>(n), ""};
  }
  if (n == 0) {
    return {Transfer::kClosed, 0, "the server closed the connection"};
  }
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) {
    return {Transfer::kWouldBlock, 0, ""};
  }
  return {isClosedError(error) ? Transfer::kClosed : Transfer::kFailed, 0,
          systemMessage(static_cast<unsigned long>(error))};
}

void Connection::sendFromSignalHandler(const std::uint8_t* data, std::size_t size) const noexcept {
  for (std::size_t sent = 0; isOpen() && sent < size;) {
    const int n = ::send(asSocket(socket_), reinterpret_cast<const char*>(data + sent),
                         static_cast<int>(size - sent), 0);
    if (n <= 0) {
      return;
    }
    sent += static_cast<std::size_t>(n);
  }
}

bool Connection::waitUntil(Ready what, Deadline deadline, Cancellation cancellation) const {
  return isOpen() && ready(asSocket(socket_), what == Ready::kToSend, deadline, cancellation);
}

bool Connection::closedByPeer(Deadline until, std::vector<std::uint8_t>& arrived) const {
  // The end comes behind whatever the server sent before it.
  std::uint8_t bytes[512];
  while (isOpen() && ready(asSocket(socket_), false, until, {})) {
    const int n = ::recv(asSocket(socket_), reinterpret_cast<char*>(bytes), sizeof bytes, 0);
    if (n == 0) {
      return true;
    }
    if (n < 0) {
      const int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        return isClosedError(error);
      }
      if (until.passed()) {
        return false;
      }
      continue;
    }
    arrived.insert(arrived.end(), bytes, bytes + n);
  }
  return false;
}

std::optional<std::size_t> Connection::unacknowledged() const {
  return std::nullopt;  // Winsock does not tell on every version of Windows
}

void Connection::shutdownSending() {
  ::shutdown(asSocket(socket_), SD_SEND);
}

void Connection::close() {
  if (isOpen()) {
    closesocket(asSocket(socket_));
    socket_ = static_cast<std::uintptr_t>(INVALID_SOCKET);
  }
}

std::string Connection::duplicateFor(unsigned long processId, std::string& error) const {
  WSAPROTOCOL_INFOW info{};
  if (WSADuplicateSocketW(asSocket(socket_), processId, &info) != 0) {
    error = "cannot share the connection: " +
            systemMessage(static_cast<unsigned long>(WSAGetLastError()));
    return "";
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < sizeof info; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
    text += pair;
  }
  return text;
}

bool Connection::adopt(const std::string& text) {
  close();
  WSAPROTOCOL_INFOW info{};
  if (text.size() != 2 * sizeof info) {
    return false;
  }
  auto* bytes = reinterpret_cast<unsigned char*>(&info);
  for (std::size_t i = 0; i < sizeof info; ++i) {
    unsigned value = 0;
    if (std::sscanf(text.c_str() + 2 * i, "%2X", &value) != 1) {
      return false;
    }
    bytes[i] = static_cast<unsigned char>(value);
  }
  if (!started_) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
      return false;
    }
    started_ = true;
  }
  const SOCKET socket = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO,
                                   &info, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket == INVALID_SOCKET) {
    return false;
  }
  makeNonBlocking(socket);
  socket_ = static_cast<std::uintptr_t>(socket);
  return true;
}

}  // namespace ptmove
