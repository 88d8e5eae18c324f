#include "frame_decoder.h"

#include <algorithm>

namespace ptmove {

CommandFrame DecodedItem::frame() const {
  return CommandFrame(bytes.data(), bytes.size());
}

Received DecodedItem::read() const {
  return protocol != nullptr ? protocol->read(frame()) : Received{};
}

FrameDecoder::FrameDecoder(std::vector<const Protocol*> protocols)
    : protocols_(std::move(protocols)) {}

bool FrameDecoder::startsFrame(std::uint8_t byte) const {
  return std::any_of(protocols_.begin(), protocols_.end(),
                     [byte](const Protocol* protocol) { return protocol->startsFrame(byte); });
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
    items.push_back({false, pending_, seconds, nullptr});
    pending_.clear();
  }
  return items;
}

void FrameDecoder::decodePending(double seconds, std::vector<DecodedItem>& items) {
  const auto isStart = [this](std::uint8_t byte) { return startsFrame(byte); };
  for (;;) {
    // Noise runs up to the next start byte; until one comes it may go on.
    const auto start = std::find_if(pending_.begin(), pending_.end(), isStart);
    if (start == pending_.end()) {
      return;
    }
    if (start != pending_.begin()) {
      items.push_back(
          {false, std::vector<std::uint8_t>(pending_.begin(), start), seconds, nullptr});
      pending_.erase(pending_.begin(), start);
    }
    bool moreMayCome = false;
    const Protocol* found = nullptr;
    for (const Protocol* protocol : protocols_) {
      if (!protocol->startsFrame(pending_.front())) {
        continue;
      }
      if (pending_.size() < protocol->frameSize()) {
        moreMayCome = true;
      } else if (protocol->isWhole(CommandFrame(pending_.data(), protocol->frameSize()))) {
        found = protocol;
        break;
      }
    }
    if (found != nullptr) {
      const auto end = pending_.begin() + static_cast<std::ptrdiff_t>(found->frameSize());
      items.push_back({true, std::vector<std::uint8_t>(pending_.begin(), end), seconds, found});
      pending_.erase(pending_.begin(), end);
      continue;
    }
    if (moreMayCome) {
      return;
    }
    // Not a frame: skip this start byte and what follows it up to the next.
    const auto next = std::find_if(pending_.begin() + 1, pending_.end(), isStart);
    if (next == pending_.end()) {
      return;  // more noise may follow
    }
    items.push_back({false, std::vector<std::uint8_t>(pending_.begin(), next), seconds, nullptr});
    pending_.erase(pending_.begin(), next);
  }
}

}  // namespace ptmove
