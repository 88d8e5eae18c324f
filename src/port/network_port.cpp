// What a network port does the same way on every platform; the socket
// itself is connection_*.cpp.

#include "network_port.h"

#include <algorithm>
#include <thread>

#include "ascii.h"
#include "serial_port.h"
#include "system_message.h"

namespace ptmove {

namespace {

// Connecting is bounded as a write is; connecting again after the server
// went away, which happens every 100 ms for a while, more tightly.
constexpr std::chrono::seconds kConnectWithin{2};
constexpr std::chrono::seconds kReconnectWithin{1};
constexpr std::chrono::milliseconds kReopenPause{100};

// How long a server has to answer a negotiation, a line setting or a
// purge. One that does not answer in time is not waited for again, and
// does not stop the run.
constexpr std::chrono::seconds kAnswerWithin{1};

// A server opens its device when a client connects, and hands on at once
// what the device had kept meanwhile (replies to an earlier run, sent
// while nobody held the line): measured with ser2net, up to 45 ms after
// the connection. Input is not taken as fresh before this age.
constexpr std::chrono::milliseconds kServerSettles{100};

// A server passes what it received to its device in the turns of its loop
// that follow, and drops what it has not passed yet when the client's end
// of the connection comes (ser2net: read, end of file, connection torn
// down, the frame never written). So a connection is held open this long
// after the last write, plus the bytes' time on the line for a server that
// does not wait for its device to send them, and never closed before the
// server has settled (above).
constexpr std::chrono::milliseconds kHandOver{50};
constexpr std::chrono::milliseconds kServerReleases{20};

// The scheme's length, with "://", or 0.
std::size_t schemeLength(const std::string& text) {
  for (const char* scheme : {"tcp://", "rfc2217://"}) {
    if (startsWithIgnoreCase(text, scheme)) {
      return std::char_traits<char>::length(scheme);
    }
  }
  return 0;
}

ByteList bigEndian(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

std::uint32_t fromBigEndian(const ByteList& bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i) {
    value = value << 8 | bytes[i];
  }
  return value;
}

// The time `bytes` take on a line at `bitsPerSecond` (the slowest common
// speed, 1200 bit/s, when it is not known), at 10 bits a byte.
std::chrono::milliseconds lineTime(std::size_t bytes, std::int32_t bitsPerSecond) {
  const std::int64_t speed = bitsPerSecond > 0 ? bitsPerSecond : 1200;
  return std::chrono::milliseconds((static_cast<std::int64_t>(bytes) * 10 * 1000 + speed - 1) /
                                   speed);
}

// What a server said in words, for a message: "Port's device already in
// use", its line ends and other control bytes left out.
std::string printable(const ByteList& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    if (byte >= 0x20 && byte < 0x7F && text.size() < 80) {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

}  // namespace

bool namesServer(const std::string& text) {
  return schemeLength(text) > 0;
}

std::optional<NetworkAddress> parseNetworkAddress(const std::string& text, std::string& why) {
  const std::size_t scheme = schemeLength(text);
  if (scheme == 0) {
    why = "it is not a tcp:// or rfc2217:// address";
    return std::nullopt;
  }
  NetworkAddress address;
  address.telnet = toAsciiLower(text[0]) == 'r';
  const std::string rest = text.substr(scheme);
  std::size_t colon = std::string::npos;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos || close == 1) {
      why = "an IPv6 address goes in brackets, e.g. rfc2217://[::1]:4001";
      return std::nullopt;
    }
    address.host = rest.substr(1, close - 1);
    colon = close + 1 < rest.size() && rest[close + 1] == ':' ? close + 1 : std::string::npos;
  } else {
    colon = rest.rfind(':');
    address.host = rest.substr(0, colon);
    if (address.host.find(':') != std::string::npos) {
      why = "an IPv6 address goes in brackets, e.g. rfc2217://[::1]:4001";
      return std::nullopt;
    }
  }
  address.service = colon == std::string::npos ? "" : rest.substr(colon + 1);
  const bool digitsOnly = !address.service.empty() && address.service.size() <= 5 &&
                          std::all_of(address.service.begin(), address.service.end(), isAsciiDigit);
  if (address.host.empty() || !digitsOnly || std::stol(address.service) < 1 ||
      std::stol(address.service) > 65535) {
    why = "it needs a host and a TCP port from 1 to 65535, e.g. tcp://192.168.1.50:4001";
    return std::nullopt;
  }
  return address;
}

NetworkPort::NetworkPort(std::string text, std::string origin)
    : text_(std::move(text)), origin_(std::move(origin)) {
  address_ = parseNetworkAddress(text_, addressError_);
}

NetworkPort::~NetworkPort() {
  close();
}

std::string NetworkPort::nameFor(std::int32_t portNumber) const {
  return origin_.empty()
             ? text_
             : "COM" + std::to_string(portNumber) + " (" + text_ + ", from " + origin_ + ")";
}

bool NetworkPort::open(std::int32_t portNumber) {
  close();
  portNumber_ = portNumber;
  baudRate_ = 0;
  lineSettingsApplied_ = false;
  letGoAt_.reset();
  error_.clear();
  name_ = nameFor(portNumber);
  if (!address_) {
    error_ = "cannot open " + name_ + ": " + addressError_;
    return false;
  }
  return connectWithin(kConnectWithin);
}

bool NetworkPort::connectWithin(Clock::duration bound) {
  const Deadline deadline = Deadline::after(bound);
  for (;;) {
    std::string why;
    input_.clear();
    unread_.clear();
    lastWriteBytes_ = 0;
    if (!connection_.connect(address_->host, address_->service, deadline, why)) {
      error_ = "cannot open " + name_ + ": " + why;
      return false;
    }
    connectedAt_ = Clock::now();
    lastWriteAt_ = connectedAt_;
    if (!address_->telnet || negotiate(deadline)) {
      return true;
    }
    connection_.close();
    // A server still letting go of its device after the last client (a
    // script's command before this one) says so and ends the connection at
    // once: tried again while the bound allows.
    if (deadline.left() < kReopenPause) {
      error_ = "cannot open " + name_ + ": " + error_;
      return false;
    }
    std::this_thread::sleep_for(kReopenPause);
  }
}

bool NetworkPort::negotiate(Deadline deadline) {
  telnet_ = TelnetReader();
  if (!sendWhole(telnet_.opening(), deadline) ||
      !receiveUntil([this] { return telnet_.comPortAgreed().has_value(); },
                    Deadline::after(kAnswerWithin))) {
    return false;
  }
  // What came with the answer, up to a refusal and the connection's end.
  const Transfer last = receivePending(Deadline::after(kAnswerWithin));
  if (last.result == Transfer::kClosed || last.result == Transfer::kFailed) {
    error_ = "the server ended the connection" +
             (input_.empty() ? std::string() : ", saying \"" + printable(input_) + "\"");
    return false;
  }
  input_.clear();
  return true;
}

bool NetworkPort::applyLineSettings(std::int32_t baudRate) {
  lineSettingsApplied_ = true;
  baudRate_ = baudRate;
  if (!address_->telnet) {
    return true;  // the server's configuration sets the line
  }
  const std::string line = name_ + " at " + std::to_string(baudRate) + " bit/s, raw 8N1";
  if (baudRate <= 0) {
    // Over RFC 2217, 0 would ask the server for its speed.
    error_ = std::to_string(baudRate) + " bit/s is not a line speed; " + name_ +
             " keeps the speed its server set";
    return false;
  }
  if (telnet_.comPortAgreed() == false) {
    error_ = "cannot set the line of " + line +
             ": the server refused COM port control (RFC 2217); its configuration sets the line";
    return false;
  }
  using namespace telnet;
  ByteList commands = comPortCommand(kSetBaudRate, bigEndian(static_cast<std::uint32_t>(baudRate)));
  for (const ByteList& command :
       {comPortCommand(kSetDataSize, {8}), comPortCommand(kSetParity, {kParityNone}),
        comPortCommand(kSetStopSize, {kOneStopBit}), comPortCommand(kSetControl, {kNoFlowControl}),
        comPortCommand(kSetControl, {kDtrOn}), comPortCommand(kSetControl, {kRtsOn})}) {
    commands.insert(commands.end(), command.begin(), command.end());
  }
  if (!sendWhole(commands, Deadline::after(limitFor(commands.size())))) {
    error_ = "cannot set the line of " + line + ": " + error_;
    return false;
  }
  // The speed, the data bits, the parity and the stop bits each come back
  // as the server set them. The control lines may not (ser2net does not
  // answer for a device that has none), and are not waited for.
  std::optional<std::uint32_t> speed;
  std::optional<std::uint8_t> dataSize, parity, stopSize;
  const bool open = receiveUntil(
      [&] {
        for (const ComPortReply& reply : telnet_.takeReplies()) {
          const std::uint8_t value = reply.value.empty() ? 0 : reply.value[0];
          switch (reply.command) {
            case kSetBaudRate:
              speed = fromBigEndian(reply.value);
              break;
            case kSetDataSize:
              dataSize = value;
              break;
            case kSetParity:
              parity = value;
              break;
            case kSetStopSize:
              stopSize = value;
              break;
            default:
              break;
          }
        }
        return speed && dataSize && parity && stopSize;
      },
      Deadline::after(kAnswerWithin));
  if (!open) {
    error_ = "cannot set the line of " + line + ": " + error_;
    return false;
  }
  if (speed && *speed != static_cast<std::uint32_t>(baudRate)) {
    error_ = "the server of " + name_ + " set its line to " + std::to_string(*speed) +
             " bit/s when asked for " + std::to_string(baudRate) + " bit/s";
    return false;
  }
  const char* notKept = dataSize && *dataSize != 8             ? "8 data bits"
                        : parity && *parity != kParityNone     ? "no parity"
                        : stopSize && *stopSize != kOneStopBit ? "one stop bit"
                                                               : nullptr;
  if (notKept != nullptr) {
    error_ = "the server of " + name_ + " did not keep " + notKept;
    return false;
  }
  return true;
}

bool NetworkPort::sendWhole(const ByteList& bytes, Deadline deadline) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const Transfer transfer = connection_.send(bytes.data() + sent, bytes.size() - sent);
    if (transfer.result == Transfer::kMoved) {
      sent += transfer.count;
      continue;
    }
    if (transfer.result != Transfer::kWouldBlock) {
      error_ = transfer.error;
      return false;
    }
    if (deadline.passed()) {
      error_ = "the server took nothing for " + seconds(kAnswerWithin);
      return false;
    }
    connection_.waitUntil(Connection::Ready::kToSend, deadline, {});
  }
  return true;
}

Transfer NetworkPort::receiveSome() {
  std::uint8_t bytes[512];
  Transfer transfer;
  if (!unread_.empty()) {
    transfer = {Transfer::kMoved, std::min(unread_.size(), sizeof bytes), ""};
    std::copy_n(unread_.begin(), transfer.count, bytes);
    unread_.erase(unread_.begin(), unread_.begin() + static_cast<std::ptrdiff_t>(transfer.count));
  } else {
    transfer = connection_.receive(bytes, sizeof bytes);
  }
  if (transfer.result != Transfer::kMoved) {
    return transfer;
  }
  if (!address_->telnet) {
    input_.insert(input_.end(), bytes, bytes + transfer.count);
    return transfer;
  }
  ByteList answer;
  telnet_.take(bytes, transfer.count, input_, answer);
  if (!answer.empty()) {
    sendWhole(answer, Deadline::after(kAnswerWithin));
  }
  return transfer;
}

Transfer NetworkPort::receivePending(Deadline deadline) {
  Transfer transfer = receiveSome();
  while (transfer.result == Transfer::kMoved && !deadline.passed()) {
    transfer = receiveSome();
  }
  return transfer;
}

bool NetworkPort::receiveUntil(const std::function<bool()>& done, Deadline deadline) {
  while (!done()) {
    const Transfer transfer = receiveSome();
    if (transfer.result == Transfer::kClosed || transfer.result == Transfer::kFailed) {
      error_ = transfer.error;
      return false;
    }
    if (transfer.result == Transfer::kWouldBlock) {
      if (deadline.passed()) {
        return true;  // not answered: not waited for again
      }
      connection_.waitUntil(Connection::Ready::kToReceive, deadline, {});
    }
  }
  return true;
}

std::size_t NetworkPort::write(const std::uint8_t* data, std::size_t size, Deadline deadline,
                               Cancellation cancellation, OnError onError) {
  const Clock::duration limit = deadline.left();
  ByteList wire;
  if (address_ && address_->telnet) {
    escapeTelnet(data, size, wire);
  } else {
    wire.assign(data, data + size);
  }
  std::size_t sent = 0;
  std::string failure;
  while (sent < wire.size()) {
    if (!connection_.isOpen()) {
      failure = "the connection is lost";
      break;
    }
    const Transfer transfer = connection_.send(wire.data() + sent, wire.size() - sent);
    if (transfer.result == Transfer::kMoved) {
      sent += transfer.count;
      continue;
    }
    if (transfer.result == Transfer::kClosed) {
      failure = transfer.error + ": the server closed the connection";
      letGo();
      break;
    }
    const bool refused = transfer.result == Transfer::kFailed;
    if (refused && onError == OnError::kGiveUp) {
      failure = transfer.error;
      break;
    }
    if (cancellation.requested()) {
      failure = "cut short by " + interruptName(*cancellation.interrupt);
      break;
    }
    if (deadline.passed()) {
      failure = refused ? transfer.error + ", again and again for " + seconds(limit)
                        : "the server took nothing more for " + seconds(limit);
      break;
    }
    if (refused) {
      std::this_thread::sleep_for(
          std::min<Clock::duration>(deadline.left(), std::chrono::milliseconds(10)));
    } else {
      connection_.waitUntil(Connection::Ready::kToSend, deadline, cancellation);
    }
  }
  // The data bytes whose every byte on the wire went.
  std::size_t written = 0;
  for (std::size_t onWire = 0; written < size; ++written) {
    onWire += address_ && address_->telnet && data[written] == telnet::kIac ? 2 : 1;
    if (onWire > sent) {
      break;
    }
  }
  // Bytes that may still be on their way out of the server's device.
  const Clock::time_point now = Clock::now();
  const bool stillLeaving = now - lastWriteAt_ < lineTime(lastWriteBytes_, baudRate_);
  lastWriteBytes_ = (stillLeaving ? lastWriteBytes_ : 0) + written;
  lastWriteAt_ = now;
  if (written < size) {
    error_ = std::to_string(written) + " of " + std::to_string(size) + " bytes written to " +
             name_ + ": " + failure;
  }
  return written;
}

std::size_t NetworkPort::read(std::uint8_t* buffer, std::size_t capacity, Deadline deadline,
                              Cancellation cancellation) {
  while (capacity > 0) {
    if (!input_.empty()) {
      const std::size_t count = std::min(capacity, input_.size());
      std::copy_n(input_.begin(), count, buffer);
      input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(count));
      return count;
    }
    if (!connection_.isOpen()) {
      return 0;
    }
    const Transfer transfer = receiveSome();
    if (transfer.result == Transfer::kClosed) {
      error_ = "reading " + name_ + ": " + transfer.error + ": the server closed the connection";
      letGo();
      return 0;
    }
    if (transfer.result == Transfer::kFailed) {
      error_ = "reading " + name_ + ": " + transfer.error;
      return 0;
    }
    if (transfer.result == Transfer::kWouldBlock) {
      if (cancellation.requested() || deadline.passed()) {
        return 0;
      }
      connection_.waitUntil(Connection::Ready::kToReceive, deadline, cancellation);
    }
  }
  return 0;
}

void NetworkPort::discardInput() {
  if (!connection_.isOpen()) {
    return;
  }
  // What the server's device kept from before comes in the connection's
  // first moments.
  const Clock::duration young = connectedAt_ + kServerSettles - Clock::now();
  if (young > Clock::duration::zero()) {
    std::this_thread::sleep_for(young);
  }
  receivePending(Deadline::after(kAnswerWithin));
  if (address_->telnet && telnet_.comPortAgreed() == true) {
    // And what the server itself holds, up to its acknowledgement.
    telnet_.takeReplies();
    using namespace telnet;
    if (sendWhole(comPortCommand(kPurgeData, {kPurgeReceived}), Deadline::after(kAnswerWithin))) {
      bool purged = false;
      receiveUntil(
          [&] {
            for (const ComPortReply& reply : telnet_.takeReplies()) {
              purged = purged || reply.command == kPurgeData;
            }
            return purged;
          },
          Deadline::after(kAnswerWithin));
    }
  }
  input_.clear();
}

void NetworkPort::letTheServerPassItOn(Deadline deadline) {
  const Clock::time_point until =
      std::max(lastWriteAt_ + kHandOver + lineTime(lastWriteBytes_, baudRate_),
               connectedAt_ + kServerSettles);
  const Clock::duration hold = std::min<Clock::duration>(until - Clock::now(), deadline.left());
  if (hold > Clock::duration::zero()) {
    std::this_thread::sleep_for(hold);
  }
}

bool NetworkPort::drain(Deadline deadline) {
  const Clock::duration limit = deadline.left();
  if (!connection_.isOpen()) {
    return true;
  }
  // Until the server's system has every byte: then only the server can
  // lose them.
  for (std::optional<std::size_t> left = connection_.unacknowledged(); left && *left > 0;
       left = connection_.unacknowledged()) {
    if (hungUp(Deadline::after({}))) {
      error_ = "the server of " + name_ + " closed the connection before it took its output";
      letGo();
      return false;
    }
    if (deadline.passed()) {
      error_ = "the server of " + name_ + " did not take its output within " + seconds(limit);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  letTheServerPassItOn(deadline);
  return true;
}

std::chrono::milliseconds NetworkPort::limitFor(std::size_t bytes) const {
  return writeLimit(bytes, baudRate_);
}

void NetworkPort::writeFromSignalHandler(const std::uint8_t* data, std::size_t size) noexcept {
  std::uint8_t wire[256];
  std::size_t length = 0;
  const bool telnet = address_ && address_->telnet;
  for (std::size_t i = 0; i < size && length + 2 <= sizeof wire; ++i) {
    wire[length++] = data[i];
    if (telnet && data[i] == telnet::kIac) {
      wire[length++] = telnet::kIac;
    }
  }
  connection_.sendFromSignalHandler(wire, length);
}

bool NetworkPort::hungUp(Deadline until) const {
  if (!connection_.isOpen() || !watchesItself_) {
    return letGoAt_.has_value();
  }
  const bool closed = connection_.closedByPeer(until, unread_);
  // What comes while nobody reads (a long movement) is kept within a bound:
  // the newest bytes, as a serial driver's buffer keeps them.
  constexpr std::size_t kMostUnread = 4096;
  if (unread_.size() > kMostUnread) {
    unread_.erase(unread_.begin(), unread_.end() - static_cast<std::ptrdiff_t>(kMostUnread));
  }
  return closed;
}

void NetworkPort::letGo() {
  connection_.close();
  if (!letGoAt_) {
    letGoAt_ = Clock::now();
  }
  if (follower_) {
    follower_();
  }
}

bool NetworkPort::reopen() {
  connection_.close();
  if (!connectWithin(kReconnectWithin)) {
    return false;
  }
  watchesItself_ = true;  // a connection of its own
  if (lineSettingsApplied_) {
    applyLineSettings(baudRate_);  // what failed the first time fails again: not reported
  }
  letGoAt_.reset();
  error_.clear();
  return true;
}

void NetworkPort::close() {
  if (!connection_.isOpen()) {
    return;
  }
  letTheServerPassItOn(Deadline::after(kAnswerWithin));
  // The end is said, and the server's own awaited, reading what comes
  // meanwhile: unread input would make the system reset the connection
  // rather than end it. A server lets its device go as it ends the
  // connection; a run that follows at once (a script's next command) would
  // otherwise find the device still in use.
  connection_.shutdownSending();
  const Deadline deadline = Deadline::after(kAnswerWithin);
  while (receivePending(deadline).result == Transfer::kWouldBlock && !deadline.passed()) {
    connection_.waitUntil(Connection::Ready::kToReceive, deadline, {});
  }
  connection_.close();
  // ser2net lets its device go a turn of its timer (10 ms) after it ends
  // the connection; until then it turns the next client away.
  std::this_thread::sleep_for(kServerReleases);
}

#ifdef _WIN32
std::string NetworkPort::handOver(void* /*process*/, unsigned long processId) {
  std::string why;
  const std::string duplicate = connection_.duplicateFor(processId, why);
  if (duplicate.empty()) {
    error_ = name_ + ": " + why;
    return "";
  }
  // The address last: it is the one field that may hold anything.
  return "net|" + std::to_string(portNumber_) + "|" + std::to_string(baudRate_) + "|" +
         (lineSettingsApplied_ ? "1" : "0") + "|" + origin_ + "|" + duplicate + "|" + text_;
}

bool NetworkPort::adopt(int portNumber, int baudRate, bool lineSettingsApplied,
                        const std::string& duplicate) {
  portNumber_ = portNumber;
  baudRate_ = baudRate;
  lineSettingsApplied_ = lineSettingsApplied;
  name_ = nameFor(portNumber);
  // Settled long ago, in the program.
  connectedAt_ = lastWriteAt_ = Clock::now() - kServerSettles;
  // The program watches the connection and tells its guard when it is
  // gone: two processes receiving on one socket would split between them
  // what comes.
  watchesItself_ = false;
  return address_ && connection_.adopt(duplicate);
}
#else
WatchEnd NetworkPort::watch(Deadline until, Cancellation cancellation, NativeHandle other) const {
  return connection_.watch(until, cancellation, other);
}

void NetworkPort::keepOnlyThisAnd(NativeHandle kept1, NativeHandle kept2) const {
  connection_.keepOnlyThisAnd(kept1, kept2);
}
#endif

}  // namespace ptmove
