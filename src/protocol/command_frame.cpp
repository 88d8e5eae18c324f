#include "command_frame.h"

#include <algorithm>

namespace ptmove {

CommandFrame::CommandFrame(const std::uint8_t* bytes, std::size_t size)
    : size_(std::min(size, kLongestFrame)) {
  std::copy_n(bytes, size_, bytes_.begin());
}

bool CommandFrame::operator==(const CommandFrame& other) const {
  return size_ == other.size_ && std::equal(begin(), end(), other.begin());
}

std::string hexByte(std::uint8_t byte) {
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (i > 0) {
      text += ' ';
    }
    text += hexByte(bytes[i]);
  }
  return text;
}

}  // namespace ptmove
