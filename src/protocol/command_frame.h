// The unit written to the line: one frame of a protocol, as many bytes as
// that protocol's frames have, and the hexadecimal text of bytes for
// messages.
#ifndef PTMOVE_PROTOCOL_COMMAND_FRAME_H_
#define PTMOVE_PROTOCOL_COMMAND_FRAME_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace ptmove {

/// The longest frame any protocol here has.
constexpr std::size_t kLongestFrame = 16;

/// One frame, its bytes in the order they are sent. Held by value, without
/// allocating.
class CommandFrame {
 public:
  constexpr CommandFrame() = default;
  constexpr CommandFrame(std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
      if (size_ < kLongestFrame) {
        bytes_[size_++] = byte;
      }
    }
  }
  CommandFrame(const std::uint8_t* bytes, std::size_t size);

  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return size_; }
  const std::uint8_t* begin() const { return bytes_.data(); }
  const std::uint8_t* end() const { return bytes_.data() + size_; }
  std::uint8_t operator[](std::size_t at) const { return bytes_[at]; }
  std::uint8_t& operator[](std::size_t at) { return bytes_[at]; }
  std::vector<std::uint8_t> bytes() const { return {begin(), end()}; }

  bool operator==(const CommandFrame& other) const;
  bool operator!=(const CommandFrame& other) const { return !(*this == other); }

 private:
  std::array<std::uint8_t, kLongestFrame> bytes_{};
  std::size_t size_ = 0;
};

/// A byte as an upper-case hexadecimal pair: "3F".
std::string hexByte(std::uint8_t byte);

/// Bytes as upper-case hexadecimal pairs separated by spaces:
/// "FF 01 00 02 3F 00 42".
std::string hexBytes(const std::uint8_t* bytes, std::size_t size);
inline std::string hexBytes(const CommandFrame& frame) {
  return hexBytes(frame.data(), frame.size());
}
inline std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
  return hexBytes(bytes.data(), bytes.size());
}

/// For test reports.
inline std::ostream& operator<<(std::ostream& out, const CommandFrame& frame) {
  return out << hexBytes(frame);
}

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_COMMAND_FRAME_H_
