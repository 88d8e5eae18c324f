#include "protocol/frame_decoder.h"

#include <algorithm>

namespace ptmove {

namespace {

constexpr std::uint8_t kSync = 0xFF;

std::string hexByte(std::uint8_t byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

}  // namespace

CommandFrame DecodedItem::frame() const {
  CommandFrame frame{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), frame.size()), frame.begin());
  return frame;
}

std::vector<DecodedItem> FrameDecoder::feed(const std::uint8_t* data, std::size_t size,
                                            double seconds) {
  pending_.insert(pending_.end(), data, data + size);
  std::vector<DecodedItem> items;
  decodePending(seconds, items);
  return items;
}

std::vector<DecodedItem> FrameDecoder::finish(double seconds) {
  std::vector<DecodedItem> items;
  decodePending(seconds, items);
  if (!pending_.empty()) {
    items.push_back({false, pending_, seconds});
    pending_.clear();
  }
  return items;
}

void FrameDecoder::decodePending(double seconds, std::vector<DecodedItem>& items) {
  for (;;) {
    // Noise runs up to the next sync byte; until one comes it may go on.
    const auto sync = std::find(pending_.begin(), pending_.end(), kSync);
    if (sync == pending_.end()) {
      return;
    }
    if (sync != pending_.begin()) {
      items.push_back({false, std::vector<std::uint8_t>(pending_.begin(), sync), seconds});
      pending_.erase(pending_.begin(), sync);
    }
    if (pending_.size() < kFrameSize) {
      return;
    }
    DecodedItem item{
        true, std::vector<std::uint8_t>(pending_.begin(), pending_.begin() + kFrameSize), seconds};
    if (frameChecksum(item.frame()) == item.bytes[6]) {
      items.push_back(item);
      pending_.erase(pending_.begin(), pending_.begin() + kFrameSize);
      continue;
    }
    // Not a frame: skip this sync byte and what follows it up to the next.
    const auto next = std::find(pending_.begin() + 1, pending_.end(), kSync);
    if (next == pending_.end()) {
      return;  // more noise may follow
    }
    items.push_back({false, std::vector<std::uint8_t>(pending_.begin(), next), seconds});
    pending_.erase(pending_.begin(), next);
  }
}

bool isStopCommand(const CommandFrame& frame) {
  return frame[2] == 0 && frame[3] == 0;
}

std::string describeCommand(const CommandFrame& frame) {
  if (isStopCommand(frame)) {
    return "stop";
  }
  const std::string pan = std::to_string(frame[4]);
  const std::string tilt = std::to_string(frame[5]);
  if (const Direction* direction = findDirection(frame[2], frame[3])) {
    std::string text(direction->action);
    if (direction->setsAxes) {
      return text + ", speed " + (direction->panMove ? pan : tilt);
    }
    if (frame[4] != 0) {
      text += ", pan speed " + pan;
    }
    if (frame[5] != 0) {
      text += ", tilt speed " + tilt;
    }
    return text;
  }
  return "command " + hexByte(frame[2]) + " " + hexByte(frame[3]) + ", pan speed " + pan +
         ", tilt speed " + tilt;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ' ';
    }
    text += hexByte(byte);
  }
  return text;
}

}  // namespace ptmove
