// Reads numbers and words from command-line arguments the way the C
// conversions %d, %x, %f and %s do, identically on every platform.
//
// Each scan skips leading white space and reads the longest valid prefix of
// what follows, ignoring the rest ("3x" reads 3, "2,5" reads 2). An argument
// that is empty or blank is end of input: the target is left untouched.
// Out-of-range integers saturate as a 32-bit C runtime does.
#ifndef PTMOVE_CLI_SCAN_H_
#define PTMOVE_CLI_SCAN_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace ptmove {

enum class ScanResult {
  kEndOfInput,  // nothing but white space: target unchanged
  kNoMatch,     // zero conversions: target unchanged
  kConverted,   // one conversion: target written
};

/// %s: the first white-space-free word.
ScanResult scanWord(std::string_view text, std::string& word);

/// %d: optional sign and decimal digits; saturates at INT32_MIN/INT32_MAX.
ScanResult scanDecimal(std::string_view text, std::int32_t& value);

/// %x: optional sign, optional 0x prefix, hexadecimal digits. The magnitude
/// saturates at 0xFFFFFFFF before the sign is applied modulo 2^32.
ScanResult scanHex(std::string_view text, std::int32_t& value);

/// %f: decimal or hexadecimal floating point, inf, infinity or nan, with an
/// optional sign; correctly rounded to single precision.
ScanResult scanFloat(std::string_view text, float& value);

}  // namespace ptmove

#endif  // PTMOVE_CLI_SCAN_H_
