// Locale-independent ASCII character tests, so that every platform and C
// runtime classifies command-line bytes the same way.
#ifndef PTMOVE_UTIL_ASCII_H_
#define PTMOVE_UTIL_ASCII_H_

#include <string_view>

namespace ptmove {

/// The white space of the C locale: space, \t, \n, \v, \f, \r.
inline bool isAsciiSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

inline char toAsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Whole-string comparison that ignores ASCII letter case.
inline bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (toAsciiLower(a[i]) != toAsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

/// True when `text` begins with `prefix`, ignoring ASCII letter case.
inline bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace ptmove

#endif  // PTMOVE_UTIL_ASCII_H_
