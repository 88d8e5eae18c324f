#include "frame_decoder.h"

#include <algorithm>

namespace ptmove {

namespace {

constexpr std::uint8_t kSync = 0xFF;

// Command 1 bits that move the lens: iris close, iris open, focus near.
constexpr std::uint8_t kCommand1Motion = 0x07;

std::string degreesIn(const CommandFrame& frame) {
  return degreesText(angleIn(frame));
}

// The extended commands of presets and absolute positions by name; others
// by their bytes.
std::string describeExtended(const CommandFrame& frame) {
  const std::string preset = std::to_string(frame[5]);
  if (frame[2] == 0x00) {
    switch (frame[3]) {
      case 0x03:
        return "store preset " + preset;
      case 0x05:
        return "clear preset " + preset;
      case 0x07:
        return "go to preset " + preset;
      case 0x4B:
        return "go to pan " + degreesIn(frame) + " degrees";
      case 0x4D:
        return "go to tilt " + degreesIn(frame) + " degrees";
      case 0x51:
        return "where is pan?";
      case 0x53:
        return "where is tilt?";
      case 0x59:
        return "pan is at " + degreesIn(frame) + " degrees";
      case 0x5B:
        return "tilt is at " + degreesIn(frame) + " degrees";
      default:
        break;
    }
  }
  return "extended command " + hexByte(frame[2]) + " " + hexByte(frame[3]) + ", data " +
         hexByte(frame[4]) + " " + hexByte(frame[5]);
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

bool isExtendedCommand(const CommandFrame& frame) {
  return (frame[3] & 0x01) != 0;
}

bool isMotion(const CommandFrame& frame) {
  return !isExtendedCommand(frame) && ((frame[2] & kCommand1Motion) != 0 || frame[3] != 0);
}

std::string describeCommand(const CommandFrame& frame) {
  if (isStopCommand(frame)) {
    return "stop";
  }
  if (isExtendedCommand(frame)) {
    return describeExtended(frame);
  }
  const std::uint8_t command1 = frame[2];
  const std::uint8_t command2 = frame[3];
  const bool sense = (command1 & 0x80) != 0;
  std::vector<std::string> parts;
  const auto when = [&parts](bool set, std::string text) {
    if (set) {
      parts.push_back(std::move(text));
    }
  };
  // Command 1: the sense bit says whether the scan and camera bits turn
  // their feature on or off.
  when((command1 & 0x10) != 0, sense ? "auto scan" : "manual scan");
  when((command1 & 0x08) != 0, sense ? "camera on" : "camera off");
  when((command1 & 0x04) != 0, "iris close");
  when((command1 & 0x02) != 0, "iris open");
  when((command1 & 0x01) != 0, "focus near");
  // Command 2, bit 0 clear: focus, zoom, tilt (speed in data 2), pan
  // (speed in data 1).
  when((command2 & 0x80) != 0, "focus far");
  when((command2 & 0x40) != 0, "zoom wide");
  when((command2 & 0x20) != 0, "zoom tele");
  when((command2 & 0x10) != 0, "tilt down, speed " + std::to_string(frame[5]));
  when((command2 & 0x08) != 0, "tilt up, speed " + std::to_string(frame[5]));
  when((command2 & 0x04) != 0, "pan left, speed " + std::to_string(frame[4]));
  when((command2 & 0x02) != 0, "pan right, speed " + std::to_string(frame[4]));
  if (parts.empty()) {
    return "command " + hexByte(command1) + " " + hexByte(command2) + ", no action";
  }
  std::string text = parts[0];
  for (std::size_t i = 1; i < parts.size(); ++i) {
    text += ", " + parts[i];
  }
  return text;
}

}  // namespace ptmove
