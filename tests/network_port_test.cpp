// The network port's pieces that need no server: its addresses, and the
// telnet side of RFC 2217.

#include <gtest/gtest.h>

#include "network_port.h"
#include "telnet.h"

namespace ptmove {
namespace {

TEST(NetworkPortTest, ReadsAddresses) {
  const struct {
    const char* text;
    bool valid;
    bool telnet = false;
    const char* host = "";
    const char* service = "";
  } cases[] = {
      {"tcp://192.168.1.50:4001", true, false, "192.168.1.50", "4001"},
      {"RFC2217://camera-7.local:65535", true, true, "camera-7.local", "65535"},
      {"rfc2217://[fe80::1%eth0]:1", true, true, "fe80::1%eth0", "1"},
      {"tcp://::1:4001", false},    // an IPv6 address needs brackets
      {"tcp://host", false},        // no port
      {"tcp://host:0", false},      // ports start at 1
      {"tcp://host:65536", false},  //
      {"tcp://host:40a1", false},   //
      {"tcp://:4001", false},       // no host
      {"tcp://[]:4001", false},     //
      {"telnet://host:23", false},  // not a scheme of ours
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string why;
    const std::optional<NetworkAddress> address = parseNetworkAddress(c.text, why);
    ASSERT_EQ(address.has_value(), c.valid);
    if (c.valid) {
      EXPECT_EQ(address->telnet, c.telnet);
      EXPECT_EQ(address->host, c.host);
      EXPECT_EQ(address->service, c.service);
    } else {
      EXPECT_FALSE(why.empty());
    }
  }
}

TEST(NetworkPortTest, SpeaksTelnet) {
  using namespace telnet;
  ByteList wire;
  const std::uint8_t frame[] = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};
  escapeTelnet(frame, sizeof frame, wire);
  EXPECT_EQ(wire, (ByteList{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(comPortCommand(kSetBaudRate, {0x00, 0x00, 0x25, 0x80}),
            (ByteList{kIac, kSb, kComPort, 1, 0x00, 0x00, 0x25, 0x80, kIac, kSe}));

  // What ser2net says first, its reply to a speed, and a head's reply
  // whose FF bytes came doubled, split anywhere between two reads.
  const ByteList server = {kIac, kWill, kSuppressGoAhead,
                           kIac, kDo,   kSuppressGoAhead,
                           kIac, kWill, 1,
                           kIac, kDont, 1,
                           kIac, kDo,   kBinary,
                           kIac, kWill, kBinary,
                           kIac, kDo,   kComPort,
                           kIac, kSb,   kComPort,
                           101,  0,     0,
                           0x25, 0x80,  kIac,
                           kSe,  0xFF,  0xFF,
                           0x01, 0x00,  0x59,
                           0x27, 0x10,  0x91};
  for (std::size_t split = 0; split <= server.size(); ++split) {
    SCOPED_TRACE(split);
    TelnetReader reader;
    reader.opening();
    ByteList data, answer;
    reader.take(server.data(), split, data, answer);
    reader.take(server.data() + split, server.size() - split, data, answer);
    EXPECT_EQ(data, (ByteList{0xFF, 0x01, 0x00, 0x59, 0x27, 0x10, 0x91}));
    // Suppress go-ahead agreed both ways, echo refused; binary and COM
    // port control were offered already and need no answer.
    EXPECT_EQ(answer, (ByteList{kIac, kDo, kSuppressGoAhead, kIac, kWill, kSuppressGoAhead, kIac,
                                kDont, 1}));
    EXPECT_EQ(reader.comPortAgreed(), true);
    const std::vector<ComPortReply> replies = reader.takeReplies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].command, kSetBaudRate);
    EXPECT_EQ(replies[0].value, (ByteList{0, 0, 0x25, 0x80}));
  }
}

}  // namespace
}  // namespace ptmove
