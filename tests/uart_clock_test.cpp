#include "uart_clock.h"

#include <gtest/gtest.h>

namespace ptmove {
namespace {

TEST(UartClockTest, RateTheDivisorMakes) {
  const struct {
    std::uint32_t base;
    std::uint32_t asked;
    std::uint32_t customDivisor;
    std::uint32_t divisor;
    double made;
    bool refused;
  } cases[] = {
      {115200, 9600, 0, 12, 9600.0, false},
      {115200, 14400, 0, 8, 14400.0, false},
      {115200, 31250, 0, 4, 28800.0, true},    // 7.8 % off
      {115200, 56000, 0, 2, 57600.0, false},   // 2.9 % off
      {115200, 110, 0, 1047, 110.03, false},   // the nearest whole divisor
      {115200, 230400, 0, 1, 115200.0, true},  // beyond the clock
      {115200, 1, 0, 65535, 1.76, true},       // the latch holds 16 bits
      {115200, 38400, 3, 3, 38400.0, false},   // spd_cust
      {115200, 38400, 5, 5, 23040.0, true},
      {1500000, 31250, 0, 48, 31250.0, false},  // a faster crystal
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.asked);
    const UartRate rate = divisorRate(c.base, c.asked, c.customDivisor);
    EXPECT_EQ(rate.divisor, c.divisor);
    EXPECT_NEAR(rate.bitsPerSecond, c.made, 0.01);
    EXPECT_EQ(percentOff(rate.bitsPerSecond, c.asked) > kMostPercentOff, c.refused);
  }
}

}  // namespace
}  // namespace ptmove
