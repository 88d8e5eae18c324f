// A port behind a serial device server on the network (ser2net, a device
// server, a video encoder's serial port): tcp://HOST:PORT carries the
// frames as they are, and the server's own configuration sets the line;
// rfc2217://HOST:PORT speaks telnet with the COM port control option,
// which sets the line's speed and framing, and purges the server's
// buffer. A connection that the server closes or resets is a port that
// vanished: it is let go, and connected again by reopen().
#ifndef PTMOVE_PORT_NETWORK_PORT_H_
#define PTMOVE_PORT_NETWORK_PORT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "connection.h"
#include "port.h"
#include "telnet.h"

namespace ptmove {

/// A server's address as a port name gives it.
struct NetworkAddress {
  bool telnet = false;  // rfc2217://, not tcp://
  std::string host;     // a name or an address, without brackets
  std::string service;  // the TCP port, in decimal
};

/// Whether `text` names a server (it starts with tcp:// or rfc2217://, in
/// any case), well formed or not.
bool namesServer(const std::string& text);

/// The address in "tcp://HOST:PORT" or "rfc2217://HOST:PORT", HOST a
/// name, an IPv4 address or a bracketed IPv6 address; nullopt with `why`
/// when it is not one.
std::optional<NetworkAddress> parseNetworkAddress(const std::string& text, std::string& why);

class NetworkPort final : public Port {
 public:
  /// The port at `text`; `origin` names the variable it came from, or "".
  NetworkPort(std::string text, std::string origin);
  ~NetworkPort() override;
  NetworkPort(const NetworkPort&) = delete;
  NetworkPort& operator=(const NetworkPort&) = delete;

  bool open(std::int32_t portNumber) override;
  bool applyTimeouts() override { return true; }  // every read and write is bounded here
  bool applyLineSettings(std::int32_t baudRate) override;
  bool setsLineSpeed() const override { return address_ && address_->telnet; }
  std::size_t write(const std::uint8_t* data, std::size_t size, Deadline deadline,
                    Cancellation cancellation, OnError onError) override;
  std::size_t read(std::uint8_t* buffer, std::size_t capacity, Deadline deadline,
                   Cancellation cancellation) override;
  void discardInput() override;
  bool drain(Deadline deadline) override;
  std::chrono::milliseconds limitFor(std::size_t bytes) const override;
  void writeFromSignalHandler(const std::uint8_t* data, std::size_t size) noexcept override;
  bool hungUp(Deadline until) const override;
  void letGo() override;
  std::optional<Clock::time_point> letGoAt() const override { return letGoAt_; }
  bool reopen() override;
  void close() override;
  void setFollower(std::function<void()> onLetGo) override { follower_ = std::move(onLetGo); }
  void whenStuck(std::function<void(bool writing)>) override {}  // nothing here blocks
#ifdef _WIN32
  std::string handOver(void* process, unsigned long processId) override;
  /// Takes over, in a guard, the connection that handOver duplicated.
  bool adopt(int portNumber, int baudRate, bool lineSettingsApplied, const std::string& duplicate);
#else
  WatchEnd watch(Deadline until, Cancellation cancellation, NativeHandle other) const override;
  void keepOnlyThisAnd(NativeHandle kept1, NativeHandle kept2) const override;
#endif
  std::int32_t portNumber() const override {
    return portNumber_;
  }
  std::int32_t baudRate() const override {
    return baudRate_;
  }
  const std::string& name() const override {
    return name_;
  }
  const std::string& error() const override {
    return error_;
  }

 private:
  // "tcp://h:p", or "COM3 (tcp://h:p, from PTMOVE_COM3)": the port in
  // messages.
  std::string nameFor(std::int32_t portNumber) const;
  bool connectWithin(Clock::duration bound);
  // Agrees on the telnet options: false when the server did not, or ended
  // the connection (a device still in use).
  bool negotiate(Deadline deadline);
  // Receives what has come, if anything: the head's bytes into input_,
  // telnet answered. kClosed lets the port go.
  Transfer receiveSome();
  // Receives what has come, until nothing more is waiting or `deadline`
  // (a server that never stops sending): the last transfer.
  Transfer receivePending(Deadline deadline);
  // Receives until `done` holds or `deadline` passes; false when the
  // connection ended.
  bool receiveUntil(const std::function<bool()>& done, Deadline deadline);
  bool sendWhole(const ByteList& bytes, Deadline deadline);
  // Holds the connection until the server has had time to pass on what
  // was written, by `deadline`.
  void letTheServerPassItOn(Deadline deadline);

  std::string text_;    // as given
  std::string origin_;  // "PTMOVE_COM3", or ""
  std::optional<NetworkAddress> address_;
  std::string addressError_;
  std::int32_t portNumber_ = 0;
  std::string name_;
  std::int32_t baudRate_ = 0;
  bool lineSettingsApplied_ = false;
  Connection connection_;
  TelnetReader telnet_;
  ByteList input_;           // the head's bytes, not read yet
  mutable ByteList unread_;  // received while watching, not taken yet
  Clock::time_point connectedAt_;
  Clock::time_point lastWriteAt_;
  std::size_t lastWriteBytes_ = 0;
  std::optional<Clock::time_point> letGoAt_;
  bool watchesItself_ = true;  // false for a guard's copy (Windows)
  std::function<void()> follower_;
  std::string error_;
};

}  // namespace ptmove

#endif  // PTMOVE_PORT_NETWORK_PORT_H_
