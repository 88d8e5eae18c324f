// Finds a head's answer to a position query in what the line brought
// after the query: the reply of the receiver asked, for the axis asked,
// whole. General responses, the echo of the query on a 2-wire line, other
// receivers' replies, replies with a bad checksum and stray bytes (a Pelco
// P receiver's A2) are passed over.
#ifndef PTMOVE_PROTOCOL_REPLY_FINDER_H_
#define PTMOVE_PROTOCOL_REPLY_FINDER_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "head_command.h"
#include "protocol.h"

namespace ptmove {

class ReplyFinder {
 public:
  ReplyFinder(const Protocol& protocol, std::uint8_t address, Axis axis)
      : protocol_(protocol), address_(address), axis_(axis) {}

  /// The angle in hundredths of a degree, once the reply is among
  /// `arrived`, every byte since the query.
  std::optional<std::uint16_t> angleIn(const std::vector<std::uint8_t>& arrived) const;

 private:
  const Protocol& protocol_;
  std::uint8_t address_;
  Axis axis_;
};

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_REPLY_FINDER_H_
