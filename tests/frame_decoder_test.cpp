#include "frame_decoder.h"

#include <gtest/gtest.h>

namespace ptmove {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kRight = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
const Bytes kStop = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// "F:" for a frame, "N:" for noise, then the bytes.
std::vector<std::string> decode(const Bytes& stream, std::size_t chunk) {
  FrameDecoder decoder;
  std::vector<DecodedItem> items;
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    const std::size_t size = std::min(chunk, stream.size() - at);
    for (DecodedItem& item : decoder.feed(stream.data() + at, size, 0.0)) {
      items.push_back(item);
    }
  }
  for (DecodedItem& item : decoder.finish(0.0)) {
    items.push_back(item);
  }
  std::vector<std::string> text;
  for (const DecodedItem& item : items) {
    text.push_back((item.isFrame ? "F:" : "N:") + hexBytes(item.bytes.data(), item.bytes.size()));
  }
  return text;
}

TEST(FrameDecoderTest, SplitsStreamIntoFramesAndNoise) {
  const std::string right = "F:FF 01 00 02 3F 00 42";
  const std::string stop = "F:FF 01 00 00 00 00 01";
  const struct {
    const char* what;
    Bytes stream;
    std::vector<std::string> items;
  } cases[] = {
      {"movement and stop", join({kRight, kStop}), {right, stop}},
      {"noise first", join({{0x0D, 0x0A}, kRight}), {"N:0D 0A", right}},
      {"cut frame", join({{0xFF, 0x01, 0x00}, kStop}), {"N:FF 01 00", stop}},
      {"bad checksum", {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x43}, {"N:FF 01 00 02 3F 00 43"}},
      {"unfinished at the end", join({kRight, {0xFF, 0x01}}), {right, "N:FF 01"}},
      {"empty", {}, {}},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {1u, 3u, 64u}) {
      EXPECT_EQ(decode(c.stream, chunk), c.items) << c.what << ", chunks of " << chunk;
    }
  }
}

TEST(FrameDecoderTest, ReadsCommandBitsAsAStandardReceiver) {
  const auto frame = [](std::uint8_t command1, std::uint8_t command2, std::uint8_t pan,
                        std::uint8_t tilt) {
    CommandFrame f = {0xFF, 0x01, command1, command2, pan, tilt, 0};
    f[6] = frameChecksum(f);
    return f;
  };
  const struct {
    CommandFrame frame;
    const char* text;
    bool motion;
  } cases[] = {
      {frame(0x00, 0x02, 0x3F, 0x00), "pan right, speed 63", true},
      {frame(0x00, 0x04, 0x1F, 0x00), "pan left, speed 31", true},
      {frame(0x00, 0x08, 0x00, 0x1F), "tilt up, speed 31", true},
      {frame(0x00, 0x10, 0x00, 0x3F), "tilt down, speed 63", true},
      {frame(0x00, 0x0A, 0x20, 0x30), "tilt up, speed 48, pan right, speed 32", true},
      // What -dir a sends: camera off (sense bit clear) and focus near.
      {frame(0x09, 0x00, 0x00, 0x00), "camera off, focus near", true},
      {frame(0x09, 0x00, 0x3F, 0x00), "camera off, focus near", true},
      {frame(0x88, 0x00, 0x00, 0x00), "camera on", false},
      {frame(0x90, 0x00, 0x00, 0x00), "auto scan", false},
      {frame(0x06, 0xE0, 0x00, 0x00), "iris close, iris open, focus far, zoom wide, zoom tele",
       true},
      {frame(0x00, 0x00, 0x00, 0x00), "stop", false},
      {frame(0x60, 0x00, 0x00, 0x00), "command 60 00, no action", false},
      {frame(0x00, 0x07, 0x00, 0x05), "go to preset 5", false},
      {frame(0x00, 0x4B, 0x30, 0x39), "go to pan 123.45 degrees", false},
      {frame(0x00, 0x53, 0x00, 0x00), "where is tilt?", false},
      {frame(0x00, 0x5B, 0x03, 0xE8), "tilt is at 10.00 degrees", false},
      {frame(0x00, 0x09, 0x00, 0x02), "extended command 00 09, data 00 02", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describeCommand(c.frame), c.text);
    EXPECT_EQ(isMotion(c.frame), c.motion) << c.text;
  }
}

}  // namespace
}  // namespace ptmove
