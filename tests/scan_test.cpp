#include "scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace ptmove {
namespace {

constexpr auto kEnd = ScanResult::kEndOfInput;
constexpr auto kNone = ScanResult::kNoMatch;
constexpr auto kOk = ScanResult::kConverted;
constexpr std::int32_t kUntouched = 12345;

struct IntCase {
  const char* text;
  ScanResult result;
  std::int32_t value;  // kUntouched when the scan must not write
};

TEST(ScanTest, DecimalReadsLongestPrefixAndSaturates) {
  const IntCase cases[] = {
      {"3", kOk, 3},
      {"3x", kOk, 3},
      {"  \t42 7", kOk, 42},
      {"+17", kOk, 17},
      {"-17", kOk, -17},
      {"007", kOk, 7},
      {"2147483647", kOk, 2147483647},
      {"2147483648", kOk, 2147483647},
      {"99999999999", kOk, 2147483647},
      {"-2147483648", kOk, -2147483647 - 1},
      {"-99999999999999999999999", kOk, -2147483647 - 1},
      {"", kEnd, kUntouched},
      {" \t\n\v\f\r", kEnd, kUntouched},
      {"x3", kNone, kUntouched},
      {"-", kNone, kUntouched},
      {"+ 3", kNone, kUntouched},
      {"COM3", kNone, kUntouched},
      {"\xA0"
       "3",
       kNone, kUntouched},  // only ASCII white space is skipped
  };
  for (const IntCase& c : cases) {
    std::int32_t value = kUntouched;
    EXPECT_EQ(scanDecimal(c.text, value), c.result) << '"' << c.text << '"';
    EXPECT_EQ(value, c.value) << '"' << c.text << '"';
  }
}

TEST(ScanTest, HexSaturatesMagnitudeBeforeSign) {
  const IntCase cases[] = {
      {"1a", kOk, 0x1A},        {"0x1A", kOk, 0x1A},
      {"0X1a", kOk, 0x1A},      {"1FF", kOk, 0x1FF},
      {" ff", kOk, 0xFF},       {"-dir", kOk, -0xD},
      {"+0x10", kOk, 0x10},     {"-0x10", kOk, -0x10},
      {"0x", kOk, 0},           {"0xg", kOk, 0},
      {"ffffffff", kOk, -1},    {"123456789abc", kOk, -1},
      {"-100000000", kOk, 1},   {"80000000", kOk, -2147483647 - 1},
      {"", kEnd, kUntouched},   {"   ", kEnd, kUntouched},
      {"g", kNone, kUntouched}, {"x1", kNone, kUntouched},
      {"-", kNone, kUntouched}, {"-x", kNone, kUntouched},
  };
  for (const IntCase& c : cases) {
    std::int32_t value = kUntouched;
    EXPECT_EQ(scanHex(c.text, value), c.result) << '"' << c.text << '"';
    EXPECT_EQ(value, c.value) << '"' << c.text << '"';
  }
}

bool sameFloat(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) {
    return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
  }
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ScanTest, FloatReadsDecimalHexInfinityAndNan) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
  constexpr float kUntouchedFloat = 3.5f;
  const struct {
    const char* text;
    ScanResult result;
    float value;
  } cases[] = {
      {"2", kOk, 2.0f},
      {"0.7", kOk, 0.7f},
      {"2,5", kOk, 2.0f},
      {"2.5s", kOk, 2.5f},
      {".5", kOk, 0.5f},
      {"5.", kOk, 5.0f},
      {" -1", kOk, -1.0f},
      {"+0.25", kOk, 0.25f},
      {"1e3", kOk, 1000.0f},
      {"1E-2", kOk, 0.01f},
      {"1e", kOk, 1.0f},
      {"1e+", kOk, 1.0f},
      {"2.5e1x", kOk, 25.0f},
      {"0x10", kOk, 16.0f},
      {"0x1p-2", kOk, 0.25f},
      {"0x.8", kOk, 0.5f},
      {"0x", kOk, 0.0f},
      {"0xz", kOk, 0.0f},
      {"inf", kOk, kInf},
      {"INFINITY", kOk, kInf},
      {"infinit", kOk, kInf},
      {"-Inf", kOk, -kInf},
      {"nan", kOk, kNan},
      {"NaN(123)", kOk, kNan},
      {"nan(", kOk, kNan},
      {"-nan", kOk, -kNan},
      {"1e50", kOk, kInf},
      {"-1e50", kOk, -kInf},
      {"1e-50", kOk, 0.0f},
      {"16777217", kOk, 16777216.0f},  // rounded to single precision
      {"", kEnd, kUntouchedFloat},
      {"  ", kEnd, kUntouchedFloat},
      {".", kNone, kUntouchedFloat},
      {"-", kNone, kUntouchedFloat},
      {"e5", kNone, kUntouchedFloat},
      {"in", kNone, kUntouchedFloat},
      {"x", kNone, kUntouchedFloat},
  };
  for (const auto& c : cases) {
    float value = kUntouchedFloat;
    EXPECT_EQ(scanFloat(c.text, value), c.result) << '"' << c.text << '"';
    EXPECT_TRUE(sameFloat(value, c.value)) << '"' << c.text << "\" gave " << value;
  }
}

TEST(ScanTest, WordIsFirstRunWithoutWhiteSpace) {
  const struct {
    const char* text;
    ScanResult result;
    const char* word;
  } cases[] = {
      {"-com", kOk, "-com"},           {"  -t 2", kOk, "-t"},  {"\tr\n", kOk, "r"},
      {"\xC3\xA8x", kOk, "\xC3\xA8x"}, {"", kEnd, "previous"}, {" \t ", kEnd, "previous"},
  };
  for (const auto& c : cases) {
    std::string word = "previous";
    EXPECT_EQ(scanWord(c.text, word), c.result) << '"' << c.text << '"';
    EXPECT_EQ(word, c.word);
  }
}

}  // namespace
}  // namespace ptmove
