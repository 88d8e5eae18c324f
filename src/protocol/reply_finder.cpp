#include "reply_finder.h"

#include "frame_decoder.h"

namespace ptmove {

std::optional<std::uint16_t> ReplyFinder::angleIn(const std::vector<std::uint8_t>& arrived) const {
  FrameDecoder decoder({&protocol_});
  for (const DecodedItem& item : decoder.feed(arrived.data(), arrived.size(), 0.0)) {
    if (!item.isFrame) {
      continue;
    }
    const Received received = item.read();
    if (received.address == address_ && received.command &&
        received.command->kind == HeadCommand::Kind::kAngleIs && received.command->axis == axis_) {
      return received.command->hundredths;
    }
  }
  return std::nullopt;
}

}  // namespace ptmove
