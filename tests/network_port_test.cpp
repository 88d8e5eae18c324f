// The network port's pieces that need no server: its addresses, and the
// telnet side of RFC 2217.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

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

// A server of the test's own on a loopback port: it answers each COM port
// command it reads with `reply` (nothing when that gives nothing).
class FakeServer {
 public:
  explicit FakeServer(std::function<ByteList(std::uint8_t command, const ByteList& value)> reply)
      : reply_(std::move(reply)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    listen(listener_, 1);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeServer() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
  }
  std::string address() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

 private:
  void serve() {
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) {
      return;
    }
    const ByteList agree = {telnet::kIac, telnet::kDo, telnet::kComPort};
    send(client, agree.data(), agree.size(), MSG_NOSIGNAL);
    // Each "IAC SB COM-PORT command value IAC SE" the client sends (the
    // test's values hold no FF).
    ByteList heard;
    std::uint8_t bytes[256];
    for (ssize_t n; (n = recv(client, bytes, sizeof bytes, 0)) > 0;) {
      heard.insert(heard.end(), bytes, bytes + n);
      for (std::size_t start = 0; start + 4 < heard.size();) {
        const auto end = std::find(heard.begin() + static_cast<std::ptrdiff_t>(start) + 1,
                                   heard.end(), telnet::kSe);
        if (heard[start] != telnet::kIac || heard[start + 1] != telnet::kSb) {
          ++start;
          continue;
        }
        if (end == heard.end()) {
          break;
        }
        const ByteList value(heard.begin() + static_cast<std::ptrdiff_t>(start) + 4, end - 1);
        const ByteList out = reply_(heard[start + 3], value);
        send(client, out.data(), out.size(), MSG_NOSIGNAL);
        heard.erase(heard.begin(), end + 1);
        start = 0;
      }
    }
    close(client);
  }

  std::function<ByteList(std::uint8_t, const ByteList&)> reply_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

TEST(NetworkPortTest, SetsTheLineOverRfc2217) {
  using namespace telnet;
  // The server's reply to a command is its code plus 100.
  const auto echo = [](std::uint8_t command, const ByteList& value) {
    return comPortCommand(static_cast<std::uint8_t>(command + kReplyOffset), value);
  };
  const struct {
    const char* what;
    std::function<ByteList(std::uint8_t, const ByteList&)> reply;
    bool set;
    const char* says;
  } cases[] = {
      {"as asked", echo, true, ""},
      {"another speed",
       [&](std::uint8_t command, const ByteList& value) {
         return command == kSetBaudRate
                    ? comPortCommand(kSetBaudRate + kReplyOffset, {0, 0, 0x12, 0xC0})
                    : echo(command, value);
       },
       false, "set its line to 4800 bit/s when asked for 9600 bit/s"},
      {"seven data bits",
       [&](std::uint8_t command, const ByteList& value) {
         return command == kSetDataSize ? comPortCommand(kSetDataSize + kReplyOffset, {7})
                                        : echo(command, value);
       },
       false, "did not keep 8 data bits"},
      {"no answers at all", [](std::uint8_t, const ByteList&) { return ByteList(); }, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeServer server(c.reply);
    NetworkPort port(server.address(), "");
    ASSERT_TRUE(port.open(0)) << port.error();
    EXPECT_EQ(port.applyLineSettings(9600), c.set);
    EXPECT_NE(port.error().find(c.says), std::string::npos) << port.error();
    port.letGo();
  }
}

}  // namespace
}  // namespace ptmove
