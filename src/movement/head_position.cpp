#include "head_position.h"

#include <algorithm>

#include "wait.h"

namespace ptmove {

namespace {

// The distance between two angles in hundredths, the shorter way round.
unsigned apart(std::uint16_t a, std::uint16_t b) {
  constexpr unsigned kTurn = 36000;
  const unsigned distance = a > b ? a - b : b - a;
  return distance > kTurn ? distance : std::min(distance, kTurn - distance);
}

bool near(std::uint16_t angle, std::optional<std::uint16_t> target) {
  return !target || apart(angle, *target) <= kCloseEnough;
}

}  // namespace

bool hasArrived(const Arrival& arrival, const Position& now,
                const std::optional<Position>& before) {
  if (arrival.settles) {
    return before && near(now.pan, before->pan) && near(now.tilt, before->tilt);
  }
  return near(now.pan, arrival.pan) && near(now.tilt, arrival.tilt);
}

PositionQueries::PositionQueries(Port& port, const Interrupts& interrupts,
                                 const PositionQuestions& questions, LineReporter& reporter)
    : port_(port), interrupts_(interrupts), questions_(questions), reporter_(reporter) {}

std::optional<std::uint16_t> PositionQueries::ask(Angle angle, Deadline notPast) {
  const Question& question = angle == Angle::kPan ? questions_.pan : questions_.tilt;
  unanswered_.reset();
  // A reply counts only if it came after its query: one that was late for
  // an earlier query, or left on the line before the port was opened, is
  // thrown away with whatever else waits.
  port_.discardInput();
  sendFailed_ =
      !writeFrame(port_, question.bytes, FrameRole::kQuery, interrupts_.cancellation(), reporter_);
  if (sendFailed_) {
    return std::nullopt;
  }
  const Deadline replyBy = Deadline::earlier(Deadline::after(kReplyWithin), notPast);
  const Clock::duration within = replyBy.left();
  Bytes arrived;
  for (;;) {
    if (const std::optional<std::uint16_t> answer = question.answerIn(arrived)) {
      return answer;
    }
    std::uint8_t buffer[64];
    const std::size_t n = port_.read(buffer, sizeof buffer, replyBy, interrupts_.cancellation());
    if (n == 0) {
      break;
    }
    arrived.insert(arrived.end(), buffer, buffer + n);
  }
  unanswered_ = event::NoReply{angle, question.bytes, within, port_.name(), arrived};
  return std::nullopt;
}

std::optional<Position> PositionQueries::read(Deadline notPast) {
  const std::optional<std::uint16_t> pan = ask(Angle::kPan, notPast);
  if (!pan) {
    return std::nullopt;
  }
  const std::optional<std::uint16_t> tilt = ask(Angle::kTilt, notPast);
  if (!tilt) {
    return std::nullopt;
  }
  return Position{*pan, *tilt};
}

ArrivalWait awaitArrival(PositionQueries& queries, const Arrival& arrival,
                         const Interrupts& interrupts) {
  const Deadline until = Deadline::afterMilliseconds(waitMilliseconds(arrival.withinSeconds));
  ArrivalWait wait;
  std::optional<Position> before;
  for (bool first = true;; first = false) {
    const Deadline nextAsk = Deadline::after(kAskEvery);
    const std::optional<Position> now = queries.read(first ? Deadline::never() : until);
    if (queries.sendFailed() || interrupts.interrupted()) {
      return wait;
    }
    if (now) {
      wait.last = now;
      if (hasArrived(arrival, *now, before)) {
        wait.arrived = true;
        return wait;
      }
    }
    before = now;  // an unanswered reading breaks a row of agreeing ones
    WaitWatch watch;
    watch.interrupts = interrupts.cancellation();
    // A reading that would start at the end could wait for no reply.
    if (waitUntil(Deadline::earlier(nextAsk, until), watch) == WaitEnd::kInterrupted ||
        until.passed()) {
      return wait;
    }
  }
}

}  // namespace ptmove
