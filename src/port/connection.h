// A TCP connection to a serial device server, as the network port uses it:
// connecting within a bound, sends and receives that never block, waits
// that an interrupt cuts short, and what the system knows of the far end.
// SIGPIPE is never raised by it. Implemented once per platform
// (connection_posix.cpp, connection_win32.cpp).
#ifndef PTMOVE_PORT_CONNECTION_H_
#define PTMOVE_PORT_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "port.h"

namespace ptmove {

/// What a send or a receive did.
struct Transfer {
  enum Result { kMoved, kWouldBlock, kClosed, kFailed };
  Result result = kFailed;
  std::size_t count = 0;  // bytes moved
  std::string error;      // kFailed: why
};

class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// Connects to `host` (a name, or an address without brackets) at TCP
  /// port `service` by `deadline`. False with `error` saying why: an
  /// unknown host, a refusal, no answer.
  bool connect(const std::string& host, const std::string& service, Deadline deadline,
               std::string& error);

  bool isOpen() const;

  Transfer send(const std::uint8_t* data, std::size_t size);
  Transfer receive(std::uint8_t* buffer, std::size_t capacity);

  /// Sends what the system takes at once, for a fault handler: no
  /// allocation, no wait.
  void sendFromSignalHandler(const std::uint8_t* data, std::size_t size) const noexcept;

  enum class Ready { kToSend, kToReceive };
  /// Waits until the connection is ready `what` (a closed or failed one
  /// counts as ready), by `deadline` or an interrupt of `cancellation`.
  bool waitUntil(Ready what, Deadline deadline, Cancellation cancellation) const;

  /// Whether the far end has closed or reset the connection, by `until`.
  /// Windows: what arrives meanwhile is received into `arrived`, since the
  /// end can only be seen behind it.
  bool closedByPeer(Deadline until, std::vector<std::uint8_t>& arrived) const;

  /// Bytes sent that the far end has not acknowledged yet; nullopt where
  /// the system does not tell.
  std::optional<std::size_t> unacknowledged() const;

  /// Tells the far end that nothing more will be sent.
  void shutdownSending();

  /// Closes the connection.
  void close();

#ifdef _WIN32
  /// A duplicate of the connection for process `processId`, as text for
  /// adopt(); "" when it cannot be made.
  std::string duplicateFor(unsigned long processId, std::string& error) const;
  /// Takes over the duplicate that duplicateFor described.
  bool adopt(const std::string& text);
#else
  WatchEnd watch(Deadline until, Cancellation cancellation, NativeHandle other) const;
  void keepOnlyThisAnd(NativeHandle kept1, NativeHandle kept2) const;
#endif

 private:
#ifdef _WIN32
  std::uintptr_t socket_ = ~std::uintptr_t{0};  // INVALID_SOCKET
  bool started_ = false;                        // WSAStartup was called
#else
  int fd_ = -1;
#endif
};

}  // namespace ptmove

#endif  // PTMOVE_PORT_CONNECTION_H_
