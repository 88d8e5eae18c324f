#include "scan.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cstdlib>
#include <limits>

#include "ascii.h"

namespace ptmove {

namespace {

// Position of the first character that is not white space.
std::size_t skipSpace(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && isAsciiSpace(text[pos])) {
    ++pos;
  }
  return pos;
}

bool isHexDigit(char c) {
  const char lower = toAsciiLower(c);
  return isAsciiDigit(c) || (lower >= 'a' && lower <= 'f');
}

unsigned hexDigitValue(char c) {
  return isAsciiDigit(c) ? static_cast<unsigned>(c - '0')
                         : static_cast<unsigned>(toAsciiLower(c) - 'a' + 10);
}

bool charAt(std::string_view text, std::size_t pos, bool (*test)(char)) {
  return pos < text.size() && test(text[pos]);
}

// Reads an optional sign at `pos`, advancing past it; true when negative.
bool readSign(std::string_view text, std::size_t& pos) {
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    return text[pos++] == '-';
  }
  return false;
}

// Length of the run of characters passing `test` from `pos`.
std::size_t runLength(std::string_view text, std::size_t pos, bool (*test)(char)) {
  std::size_t end = pos;
  while (end < text.size() && test(text[end])) {
    ++end;
  }
  return end - pos;
}

// True when "0x" or "0X" stands at `pos`.
bool hexPrefixAt(std::string_view text, std::size_t pos) {
  return pos + 1 < text.size() && text[pos] == '0' && toAsciiLower(text[pos + 1]) == 'x';
}

// Length of the longest floating-point number (without sign) at the start
// of `text`, or 0. Sets `hex` when it is a hexadecimal number ("0x...").
std::size_t floatPrefixLength(std::string_view text, bool& hex) {
  hex = false;
  if (startsWithIgnoreCase(text, "inf")) {
    return startsWithIgnoreCase(text, "infinity") ? 8 : 3;
  }
  if (startsWithIgnoreCase(text, "nan")) {
    // nan(n-char-sequence), when the parenthesis is closed.
    if (text.size() > 3 && text[3] == '(') {
      std::size_t end = 4;
      while (end < text.size() &&
             (isAsciiDigit(text[end]) || text[end] == '_' ||
              (toAsciiLower(text[end]) >= 'a' && toAsciiLower(text[end]) <= 'z'))) {
        ++end;
      }
      if (end < text.size() && text[end] == ')') {
        return end + 1;
      }
    }
    return 3;
  }
  std::size_t pos = 0;
  bool (*digit)(char) = isAsciiDigit;
  char exponentLetter = 'e';
  if (hexPrefixAt(text, 0)) {
    const bool mantissaFollows =
        charAt(text, 2, isHexDigit) ||
        (charAt(text, 2, [](char c) { return c == '.'; }) && charAt(text, 3, isHexDigit));
    if (!mantissaFollows) {
      return 1;  // just the "0"
    }
    hex = true;
    pos = 2;
    digit = isHexDigit;
    exponentLetter = 'p';
  }
  std::size_t digits = runLength(text, pos, digit);
  pos += digits;
  if (pos < text.size() && text[pos] == '.') {
    const std::size_t fraction = runLength(text, pos + 1, digit);
    if (digits + fraction > 0) {
      pos += 1 + fraction;
      digits += fraction;
    }
  }
  if (digits == 0) {
    return 0;
  }
  if (pos < text.size() && toAsciiLower(text[pos]) == exponentLetter) {
    std::size_t exponent = pos + 1;
    readSign(text, exponent);
    const std::size_t exponentDigits = runLength(text, exponent, isAsciiDigit);
    if (exponentDigits > 0) {
      pos = exponent + exponentDigits;
    }
  }
  return pos;
}

// Converts an unsigned floating-point text that floatPrefixLength accepted.
float convertFloat(std::string_view number, bool hex) {
  const std::string_view digits = hex ? number.substr(2) : number;
  float result = 0.0f;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), result,
                      hex ? std::chars_format::hex : std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // Too large or too small for a float: the C conversions give infinity
    // or zero. The double value tells which.
    const double wide = std::strtod(std::string(number).c_str(), nullptr);
    return wide > FLT_MAX ? std::numeric_limits<float>::infinity() : static_cast<float>(wide);
  }
  (void)end;
  return result;
}

}  // namespace

ScanResult scanWord(std::string_view text, std::string& word) {
  const std::size_t start = skipSpace(text);
  if (start == text.size()) {
    return ScanResult::kEndOfInput;
  }
  std::size_t end = start;
  while (end < text.size() && !isAsciiSpace(text[end])) {
    ++end;
  }
  word.assign(text.substr(start, end - start));
  return ScanResult::kConverted;
}

ScanResult scanDecimal(std::string_view text, std::int32_t& value) {
  std::size_t pos = skipSpace(text);
  if (pos == text.size()) {
    return ScanResult::kEndOfInput;
  }
  const bool negative = readSign(text, pos);
  if (!charAt(text, pos, isAsciiDigit)) {
    return ScanResult::kNoMatch;
  }
  // Stop growing once past 2^31: the result saturates either way.
  constexpr std::uint64_t kCap = std::uint64_t{1} << 31;
  std::uint64_t magnitude = 0;
  for (; charAt(text, pos, isAsciiDigit); ++pos) {
    magnitude = std::min(kCap + 1, magnitude * 10 + static_cast<unsigned>(text[pos] - '0'));
  }
  const auto signedValue =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  value = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(signedValue, std::numeric_limits<std::int32_t>::min(),
                               std::numeric_limits<std::int32_t>::max()));
  return ScanResult::kConverted;
}

ScanResult scanHex(std::string_view text, std::int32_t& value) {
  std::size_t pos = skipSpace(text);
  if (pos == text.size()) {
    return ScanResult::kEndOfInput;
  }
  const bool negative = readSign(text, pos);
  if (hexPrefixAt(text, pos)) {
    if (!charAt(text, pos + 2, isHexDigit)) {
      value = 0;  // "0x" not followed by a digit reads as the number 0
      return ScanResult::kConverted;
    }
    pos += 2;
  }
  if (!charAt(text, pos, isHexDigit)) {
    return ScanResult::kNoMatch;
  }
  constexpr std::uint64_t kMax = 0xFFFFFFFFu;
  std::uint64_t magnitude = 0;
  for (; charAt(text, pos, isHexDigit); ++pos) {
    magnitude = std::min(kMax, magnitude * 16 + hexDigitValue(text[pos]));
  }
  auto bits = static_cast<std::uint32_t>(magnitude);
  if (negative) {
    bits = 0u - bits;
  }
  value = static_cast<std::int32_t>(bits);
  return ScanResult::kConverted;
}

ScanResult scanFloat(std::string_view text, float& value) {
  std::size_t pos = skipSpace(text);
  if (pos == text.size()) {
    return ScanResult::kEndOfInput;
  }
  const bool negative = readSign(text, pos);
  bool hex = false;
  const std::string_view rest = text.substr(pos);
  const std::size_t length = floatPrefixLength(rest, hex);
  if (length == 0) {
    return ScanResult::kNoMatch;
  }
  const float magnitude = convertFloat(rest.substr(0, length), hex);
  value = negative ? -magnitude : magnitude;
  return ScanResult::kConverted;
}

}  // namespace ptmove
