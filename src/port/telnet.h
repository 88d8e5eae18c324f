// The telnet side of an RFC 2217 port: the data escaped on its way out,
// and what comes back split into the head's bytes, the option
// negotiation that must be answered, and the server's replies to the COM
// port control commands (RFC 854, 855, 856, 2217). The options agreed to
// are binary transmission, suppress go-ahead and COM port control; every
// other is refused.
#ifndef PTMOVE_PORT_TELNET_H_
#define PTMOVE_PORT_TELNET_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace ptmove {

namespace telnet {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// COM port control commands, client to server; the server's replies are
// the same plus kReplyOffset.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kReplyOffset = 100;

constexpr std::uint8_t kParityNone = 1;
constexpr std::uint8_t kOneStopBit = 1;
constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kDtrOn = 8;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kPurgeReceived = 1;  // the server's buffer of what the line sent

}  // namespace telnet

using ByteList = std::vector<std::uint8_t>;

/// Appends `data` to `out` with every IAC (FF) doubled.
void escapeTelnet(const std::uint8_t* data, std::size_t size, ByteList& out);

/// "IAC SB COM-PORT-OPTION command value IAC SE", the value escaped.
ByteList comPortCommand(std::uint8_t command, const ByteList& value);

/// A server's reply to a COM port control command.
struct ComPortReply {
  std::uint8_t command = 0;  // the command it answers (the reply's code less 100)
  ByteList value;
};

class TelnetReader {
 public:
  /// What a client says first: it will use COM port control and binary
  /// transmission both ways.
  ByteList opening();

  /// Takes `size` bytes from the server: the head's bytes go to `data`,
  /// answers owed to the server's negotiation to `answer`, and replies to
  /// COM port commands are kept for takeReplies(). A sequence split
  /// between two calls is carried over.
  void take(const std::uint8_t* bytes, std::size_t size, ByteList& data, ByteList& answer);

  /// The COM port replies that came since the last call.
  std::vector<ComPortReply> takeReplies();

  /// Whether the server agreed to COM port control (DO), refused it (DONT),
  /// or has not said yet.
  std::optional<bool> comPortAgreed() const { return comPortAgreed_; }

 private:
  enum class State { kData, kCommand, kOption, kSub, kSubIac };
  void negotiate(std::uint8_t verb, std::uint8_t option, ByteList& answer);
  void endSub();

  State state_ = State::kData;
  std::uint8_t verb_ = 0;
  ByteList sub_;
  std::vector<ComPortReply> replies_;
  std::optional<bool> comPortAgreed_;
  bool weWill_[256] = {};
  bool theyWill_[256] = {};
  bool refused_[256] = {};
};

}  // namespace ptmove

#endif  // PTMOVE_PORT_TELNET_H_
