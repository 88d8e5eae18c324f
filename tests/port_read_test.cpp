// The port's read on a pseudo-terminal, driven through port_reader: the
// native program, and the Windows one under Wine.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "program_runner.h"
#include "pty_pair.h"

namespace ptmove {
namespace {

using testsupport::ProgramRun;
using testsupport::ProgramUnderTest;
using testsupport::RunOptions;
using Bytes = std::vector<std::uint8_t>;

// What the port reads by its deadline, one read after another, while the
// far end of the line sends a reply whole, in pieces, not at all, or goes.
// The far end starts a second after the program, which has opened the port
// by then even under Wine; the deadline is three seconds.
TEST(PortReadTest, ReadsWhatArrivesByItsDeadline) {
  const ProgramUnderTest reader = ProgramUnderTest::fromEnvironment();
  ASSERT_TRUE(reader.valid()) << "no program given (--program=)";
  const Bytes reply = {0xFF, 0x01, 0x00, 0x59, 0x30, 0x39, 0xC3};
  const std::string replyText = "FF 01 00 59 30 39 C3";
  const struct {
    const char* what;
    std::vector<std::pair<double, Bytes>> sent;  // seconds after the start, bytes
    bool goes;                                   // the far end closes after
    std::string read;
    bool untilTheDeadline;
  } cases[] = {
      {"waiting already", {{0.0, reply}}, false, replyText, false},
      {"in pieces",
       {{1.0, {0xFF, 0x01}}, {1.2, {0x00, 0x59, 0x30}}, {1.4, {0x39, 0xC3}}},
       false,
       replyText,
       false},
      {"nothing", {}, false, "", true},
      {"the far end goes", {{1.0, {0xFF}}}, true, "FF", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyPair pty;
    RunOptions options;
    options.ports = {{3, pty.slavePath()}};
    for (const auto& [at, bytes] : c.sent) {
      options.actions.push_back({at, [&pty, bytes = bytes](pid_t) {
                                   ASSERT_EQ(::write(pty.master(), bytes.data(), bytes.size()),
                                             static_cast<ssize_t>(bytes.size()));
                                 }});
    }
    if (c.goes) {
      options.actions.push_back({1.3, [&pty](pid_t) { pty.closeMaster(); }});
    }
    const ProgramRun run = reader.run({"3", "3000"}, options);
    const std::size_t in = run.out.find(" in ");
    ASSERT_NE(in, std::string::npos) << run.out << run.err;
    EXPECT_EQ(run.out.substr(0, in), c.read);
    const long took = std::stol(run.out.substr(in + 4));
    if (c.untilTheDeadline) {
      EXPECT_GE(took, 3000);
      EXPECT_LT(took, 3000 + 2000);
    } else {
      EXPECT_LT(took, 3000) << "no wait beyond what came";
    }
    EXPECT_EQ(run.out.find("let go") != std::string::npos, c.goes) << run.out;
  }
}

}  // namespace
}  // namespace ptmove
