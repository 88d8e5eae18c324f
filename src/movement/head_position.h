// Where the head is: the pan and tilt position queries, each answered by a
// reply that came after it, read among whatever else the line carries; and
// the wait for the head to arrive where it was sent.
#ifndef PTMOVE_MOVEMENT_HEAD_POSITION_H_
#define PTMOVE_MOVEMENT_HEAD_POSITION_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_frame.h"
#include "frame_decoder.h"
#include "interrupts.h"
#include "line_report.h"
#include "port.h"

namespace ptmove {

/// How long the head has to answer a position query.
constexpr std::chrono::seconds kReplyWithin{1};

/// How often the head is asked where it is while a run waits for it.
constexpr std::chrono::milliseconds kAskEvery{200};

/// How close to a target, or to the reading before, counts as there: a
/// tenth of a degree, in hundredths.
constexpr unsigned kCloseEnough = 10;

/// Where the head says it points, in hundredths of a degree.
struct Position {
  std::uint16_t pan = 0;
  std::uint16_t tilt = 0;
};

/// What arriving means for a command that sent the head somewhere.
struct Arrival {
  float withinSeconds = 0.0f;  // how long to wait for it at most, read as -t is
  // The angles sent, in hundredths; an axis not sent may be anywhere.
  std::optional<std::uint16_t> pan;
  std::optional<std::uint16_t> tilt;
  // Sent to a preset, whose angles only the head knows: arrived once two
  // readings in a row agree.
  bool settles = false;
};

/// Whether the head reading `now`, after `before` (the reading just
/// before, if there was one), has arrived.
bool hasArrived(const Arrival& arrival, const Position& now, const std::optional<Position>& before);

/// Asks receiver `address` where an axis is and reads its reply, skipping
/// whatever else the line carries: general responses, the echo of a query
/// on a 2-wire line, other receivers' replies, broken frames. Whatever
/// waited in the port before the query is discarded first.
class PositionQueries {
 public:
  PositionQueries(Port& port, const Interrupts& interrupts, std::uint8_t address,
                  LineReport& report);

  /// The angle the head gives for `axis` within kReplyWithin of the query,
  /// and not past `notPast`; or nothing, and then either the query could
  /// not be sent (reported, and sendFailed() says so) or unanswered() says
  /// what came instead.
  std::optional<std::uint16_t> ask(Axis axis, Deadline notPast = Deadline::never());

  /// Both axes, pan first; nothing when either went unanswered (the tilt
  /// is then not asked).
  std::optional<Position> read(Deadline notPast = Deadline::never());

  /// Whether the last query could not be sent.
  bool sendFailed() const { return sendFailed_; }

  /// For the diagnostic, when the last query went unanswered: which, how
  /// long it waited, and what came instead.
  const std::string& unanswered() const { return unanswered_; }

 private:
  Port& port_;
  const Interrupts& interrupts_;
  std::uint8_t address_;
  LineReport& report_;
  FrameDecoder decoder_;
  std::vector<CommandFrame> frames_;  // decoded, not yet looked at
  bool sendFailed_ = false;
  std::string unanswered_;
};

/// How a wait for the head ended.
struct ArrivalWait {
  bool arrived = false;
  std::optional<Position> last;  // the last reading, if any came
};

/// Asks where the head is every kAskEvery until it has arrived, its time
/// is up, a query cannot be sent or an interrupt comes. No reply is
/// awaited past that time but in the first reading, which gets its full
/// kReplyWithin however short the wait: there is always one reading.
ArrivalWait awaitArrival(PositionQueries& queries, const Arrival& arrival,
                         const Interrupts& interrupts);

}  // namespace ptmove

#endif  // PTMOVE_MOVEMENT_HEAD_POSITION_H_
