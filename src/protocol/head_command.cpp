#include "head_command.h"

#include <cstdio>

namespace ptmove {

HeadCommand HeadCommand::move(std::optional<Motion> motion, std::int32_t speedPercent,
                              bool panMoves, bool tiltMoves) {
  HeadCommand command;
  command.kind = Kind::kMove;
  command.motion = motion;
  command.speedPercent = speedPercent;
  command.panMoves = panMoves;
  command.tiltMoves = tiltMoves;
  return command;
}

HeadCommand HeadCommand::stop() {
  return HeadCommand();
}

HeadCommand HeadCommand::presetCommand(PresetAction action, std::uint8_t number) {
  HeadCommand command;
  command.kind = Kind::kPreset;
  command.preset = action;
  command.presetNumber = number;
  return command;
}

HeadCommand HeadCommand::goToAngle(Axis axis, std::uint16_t hundredths) {
  HeadCommand command;
  command.kind = Kind::kGoToAngle;
  command.axis = axis;
  command.hundredths = hundredths;
  return command;
}

HeadCommand HeadCommand::askAngle(Axis axis) {
  HeadCommand command;
  command.kind = Kind::kAskAngle;
  command.axis = axis;
  return command;
}

HeadCommand HeadCommand::angleIs(Axis axis, std::uint16_t hundredths) {
  HeadCommand command = goToAngle(axis, hundredths);
  command.kind = Kind::kAngleIs;
  return command;
}

std::uint16_t hundredths(float degrees) {
  constexpr long kTurn = 36000;
  if (!(degrees >= 0.0f && degrees < 360.0f)) {
    return 0;  // outside a turn, or NaN: the parser lets none through
  }
  // Rounded half up by truncating: the program links no maths library.
  const auto rounded = static_cast<long>(static_cast<double>(degrees) * 100.0 + 0.5);
  return static_cast<std::uint16_t>(rounded % kTurn);
}

std::string degreesText(std::uint16_t hundredths) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%02u", static_cast<unsigned>(hundredths / 100),
                static_cast<unsigned>(hundredths % 100));
  return text;
}

}  // namespace ptmove
