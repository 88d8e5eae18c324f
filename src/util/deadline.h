// Time as every layer counts it: the steady clock, the moment by which a
// call must be over, and a duration as messages write it.
#ifndef PTMOVE_UTIL_DEADLINE_H_
#define PTMOVE_UTIL_DEADLINE_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#ifndef _WIN32
#include <time.h>
#endif

namespace ptmove {

using Clock = std::chrono::steady_clock;

/// The moment by which a call must be over.
class Deadline {
 public:
  /// `wait` from now; a moment beyond the clock's range never comes.
  static Deadline after(Clock::duration wait) {
    const Clock::time_point now = Clock::now();
    if (wait >= Clock::time_point::max() - now) {
      return never();
    }
    return Deadline(now + wait);
  }

  static Deadline afterMilliseconds(std::uint64_t milliseconds) {
    constexpr auto kLongest = std::chrono::duration_cast<std::chrono::milliseconds>(
        Clock::duration(std::numeric_limits<Clock::rep>::max()));
    if (milliseconds >= static_cast<std::uint64_t>(kLongest.count())) {
      return never();
    }
    return after(std::chrono::milliseconds(static_cast<std::int64_t>(milliseconds)));
  }

  static Deadline never() { return Deadline(Clock::time_point::max()); }

  /// Whichever of the two comes first.
  static Deadline earlier(Deadline a, Deadline b) { return a.when_ < b.when_ ? a : b; }

  /// The time left, zero once it has passed.
  Clock::duration left() const {
    const Clock::time_point now = Clock::now();
    return when_ > now ? when_ - now : Clock::duration::zero();
  }

  bool passed() const { return left() == Clock::duration::zero(); }

 private:
  explicit Deadline(Clock::time_point when) : when_(when) {}
  Clock::time_point when_;
};

/// A duration for messages, to a tenth of a second: "2.1 s".
inline std::string seconds(Clock::duration duration) {
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(duration);
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds.count()) / 1000.0);
  return text;
}

#ifndef _WIN32
/// `duration` as ppoll takes it.
inline timespec toTimespec(Clock::duration duration) {
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
  timespec time{};
  time.tv_sec = static_cast<time_t>(nanos / 1'000'000'000);
  time.tv_nsec = static_cast<long>(nanos % 1'000'000'000);
  return time;
}
#endif

}  // namespace ptmove

#endif  // PTMOVE_UTIL_DEADLINE_H_
