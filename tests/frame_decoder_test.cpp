#include "frame_decoder.h"

#include <gtest/gtest.h>

#include "pelco.h"

namespace ptmove {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kRight = {0xFF, 0x01, 0x00, 0x02, 0x3F, 0x00, 0x42};
const Bytes kStop = {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01};
const Bytes kRightP = {0xA0, 0x01, 0x00, 0x02, 0x3F, 0x00, 0xAF, 0x33};

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

// "F:" for a frame, "N:" for noise, then the bytes.
std::vector<std::string> decode(const Bytes& stream, std::size_t chunk,
                                std::vector<const Protocol*> protocols = allProtocols()) {
  FrameDecoder decoder(protocols);
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
      {"Pelco P among Pelco D",
       join({kRight, kRightP, kStop}),
       {right, "F:A0 01 00 02 3F 00 AF 33", stop}},
      {"a Pelco P receiver's acknowledgement",
       join({{0xA2}, kRightP}),
       {"N:A2", "F:A0 01 00 02 3F 00 AF 33"}},
      {"Pelco P with a bad checksum",
       {0xA0, 0x01, 0x00, 0x02, 0x3F, 0x00, 0xAF, 0x34},
       {"N:A0 01 00 02 3F 00 AF 34"}},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {1u, 3u, 64u}) {
      EXPECT_EQ(decode(c.stream, chunk), c.items) << c.what << ", chunks of " << chunk;
    }
  }
  // Listening to Pelco D alone, a Pelco P frame is noise.
  EXPECT_EQ(decode(join({kRightP, kStop}), 64, {findProtocol("d")}),
            std::vector<std::string>({"N:A0 01 00 02 3F 00 AF 33", stop}));
}

TEST(FrameDecoderTest, ReadsCommandBitsAsAStandardReceiver) {
  const Protocol& d = *findProtocol("d");
  const Protocol& p = *findProtocol("p");
  // A frame of either protocol with these command and data bytes.
  const auto frame = [](const Protocol& protocol, std::uint8_t command1, std::uint8_t command2,
                        std::uint8_t pan, std::uint8_t tilt) {
    CommandFrame f = &protocol == &*findProtocol("d")
                         ? CommandFrame{0xFF, 0x01, command1, command2, pan, tilt, 0}
                         : CommandFrame{0xA0, 0x01, command1, command2, pan, tilt, 0xAF, 0};
    f[f.size() - 1] = &protocol == &*findProtocol("d") ? frameChecksum(f) : xorChecksum(f);
    return f;
  };
  const struct {
    const Protocol& protocol;
    CommandFrame frame;
    const char* text;
    bool motion;
  } cases[] = {
      {d, frame(d, 0x00, 0x02, 0x3F, 0x00), "pan right, speed 63", true},
      {d, frame(d, 0x00, 0x04, 0x1F, 0x00), "pan left, speed 31", true},
      {d, frame(d, 0x00, 0x08, 0x00, 0x1F), "tilt up, speed 31", true},
      {d, frame(d, 0x00, 0x10, 0x00, 0x3F), "tilt down, speed 63", true},
      {d, frame(d, 0x00, 0x0A, 0x20, 0x30), "tilt up, speed 48, pan right, speed 32", true},
      // What -dir a sends: camera off (sense bit clear) and focus near.
      {d, frame(d, 0x09, 0x00, 0x00, 0x00), "camera off, focus near", true},
      {d, frame(d, 0x09, 0x00, 0x3F, 0x00), "camera off, focus near", true},
      {d, frame(d, 0x88, 0x00, 0x00, 0x00), "camera on", false},
      {d, frame(d, 0x90, 0x00, 0x00, 0x00), "auto scan", false},
      {d, frame(d, 0x06, 0xE0, 0x00, 0x00),
       "iris close, iris open, focus far, zoom wide, zoom tele", true},
      {d, frame(d, 0x00, 0x00, 0x00, 0x00), "stop", false},
      {d, frame(d, 0x60, 0x00, 0x00, 0x00), "command 60 00, no action", false},
      {d, frame(d, 0x00, 0x07, 0x00, 0x05), "go to preset 5", false},
      {d, frame(d, 0x00, 0x4B, 0x30, 0x39), "go to pan 123.45 degrees", false},
      {d, frame(d, 0x00, 0x53, 0x00, 0x00), "where is tilt?", false},
      {d, frame(d, 0x00, 0x5B, 0x03, 0xE8), "tilt is at 10.00 degrees", false},
      {d, frame(d, 0x00, 0x09, 0x00, 0x02), "extended command 00 09, data 00 02", false},
      // Pelco P's data 1: focus far and near, iris open and close, the
      // scan and the camera have bits of their own.
      {p, frame(p, 0x00, 0x04, 0x20, 0x00), "pan left, speed 32", true},
      {p, frame(p, 0x01, 0x00, 0x00, 0x00), "focus far", true},
      {p, frame(p, 0x02, 0x00, 0x00, 0x00), "focus near", true},
      {p, frame(p, 0x04, 0x00, 0x00, 0x00), "iris open", true},
      {p, frame(p, 0x08, 0x00, 0x00, 0x00), "iris close", true},
      {p, frame(p, 0x20, 0x00, 0x00, 0x00), "auto scan", false},
      {p, frame(p, 0x40, 0x00, 0x00, 0x00), "camera on", false},
      {p, frame(p, 0x00, 0x60, 0x00, 0x00), "zoom wide, zoom tele", true},
      {p, frame(p, 0x00, 0x00, 0x00, 0x00), "stop", false},
      {p, frame(p, 0x00, 0x03, 0x00, 0x09), "store preset 9", false},
      {p, frame(p, 0x00, 0x59, 0x30, 0x39), "pan is at 123.45 degrees", false},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(c.protocol.isWhole(c.frame)) << c.text;
    const Received received = c.protocol.read(c.frame);
    EXPECT_EQ(describe(received), c.text) << c.protocol.name();
    EXPECT_EQ(isMotion(received), c.motion) << c.text;
  }
}

}  // namespace
}  // namespace ptmove
