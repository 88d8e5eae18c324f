// Where the head is: the pan and tilt position queries, each answered only
// by what came after it, and the wait for the head to arrive where it was
// sent. The queries and how to find their answers are handed down by the
// layer that knows the protocol.
#ifndef PTMOVE_MOVEMENT_HEAD_POSITION_H_
#define PTMOVE_MOVEMENT_HEAD_POSITION_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "interrupts.h"
#include "line_events.h"
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

/// A question for the head, and how to find its answer, an angle in
/// hundredths of a degree, among the bytes that came after it.
struct Question {
  Bytes bytes;
  std::function<std::optional<std::uint16_t>(const Bytes& arrived)> answerIn;
};

struct PositionQuestions {
  Question pan;
  Question tilt;
};

/// Asks the head where an axis is and reads its answer. Whatever waited in
/// the port before the query is discarded first: a reply that came too
/// late for an earlier query, or was left on the line before the port was
/// opened, is never taken for the answer.
class PositionQueries {
 public:
  PositionQueries(Port& port, const Interrupts& interrupts, const PositionQuestions& questions,
                  LineReporter& reporter);

  /// The angle the head gives within kReplyWithin of the query, and not
  /// past `notPast`; or nothing, and then either the query could not be
  /// sent (reported; sendFailed() says so) or unanswered() says what came.
  std::optional<std::uint16_t> ask(Angle angle, Deadline notPast = Deadline::never());

  /// Both axes, pan first; nothing when either went unanswered (the tilt
  /// is then not asked).
  std::optional<Position> read(Deadline notPast = Deadline::never());

  /// Whether the last query could not be sent.
  bool sendFailed() const { return sendFailed_; }

  /// The last query, when it went unanswered.
  const std::optional<event::NoReply>& unanswered() const { return unanswered_; }

 private:
  Port& port_;
  const Interrupts& interrupts_;
  const PositionQuestions& questions_;
  LineReporter& reporter_;
  bool sendFailed_ = false;
  std::optional<event::NoReply> unanswered_;
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
