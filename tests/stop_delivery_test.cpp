#include "stop_delivery.h"

#include <gtest/gtest.h>

#include "pty_pair.h"
#include "scoped_variable.h"
#include "serial_port.h"

namespace ptmove {
namespace {

// A port that vanished and never comes back ends the stop within the
// reopening's bound, without sending anything anywhere.
TEST(StopDeliveryTest, GivesUpOnAPortThatNeverReturns) {
  PtyPair pty;
  SerialPort port;
  {
    const auto bound = testsupport::bindPort(8, pty.slavePath());
    ASSERT_TRUE(port.open(8));
  }
  port.letGo();
  const auto gone = testsupport::bindPort(8, "/nonexistent/ttyUSB0");
  const auto start = std::chrono::steady_clock::now();
  const StopDelivery delivery = deliverStop(port, {0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(delivery.result, StopResult::kPortNotBack);
  EXPECT_NE(delivery.error.find("No such file"), std::string::npos) << delivery.error;
  EXPECT_GE(took, kReopenFor - kReopenEvery);
  EXPECT_LT(took, kReopenFor + std::chrono::seconds(2));
  EXPECT_TRUE(pty.readAvailable().empty());
}

}  // namespace
}  // namespace ptmove
