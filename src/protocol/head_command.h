// What a head is asked to do, or answers, in no protocol's terms: a
// motion at a speed, a stop, a preset, an angle to go to or to tell. A
// protocol (protocol.h) turns one into a frame of its own.
#ifndef PTMOVE_PROTOCOL_HEAD_COMMAND_H_
#define PTMOVE_PROTOCOL_HEAD_COMMAND_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace ptmove {

/// The continuous actions of a head: pan and tilt, the diagonals, the lens
/// and the automatic scan. Each lasts until the next command.
enum class Motion {
  kRight,
  kLeft,
  kUp,
  kDown,
  kUpRight,
  kUpLeft,
  kDownRight,
  kDownLeft,
  kZoomIn,
  kZoomOut,
  kFocusNear,
  kFocusFar,
  kIrisOpen,
  kIrisClose,
  kAuto,
};
constexpr std::size_t kMotionCount = 15;

/// The axis an absolute position, a position query or its reply is about.
enum class Axis { kPan, kTilt };

/// What a preset command does with its preset.
enum class PresetAction { kGoTo, kStore, kClear };

struct HeadCommand {
  enum class Kind {
    kMove,       // a motion, at a speed
    kStop,       // every movement ends
    kPreset,     // go to, store or clear a preset
    kGoToAngle,  // go to an absolute angle
    kAskAngle,   // where is the axis?
    kAngleIs,    // the head's answer: the axis is at an angle
  };

  Kind kind = Kind::kStop;
  // kMove: the motion, none when none was ever asked for; the speed in
  // percent; and which axes move at it (none, for the lens).
  std::optional<Motion> motion;
  std::int32_t speedPercent = 100;
  bool panMoves = false;
  bool tiltMoves = false;
  // kPreset.
  PresetAction preset = PresetAction::kGoTo;
  std::uint8_t presetNumber = 0;
  // kGoToAngle, kAskAngle, kAngleIs: the angle in hundredths of a degree.
  Axis axis = Axis::kPan;
  std::uint16_t hundredths = 0;

  static HeadCommand move(std::optional<Motion> motion, std::int32_t speedPercent, bool panMoves,
                          bool tiltMoves);
  static HeadCommand stop();
  static HeadCommand presetCommand(PresetAction action, std::uint8_t number);
  static HeadCommand goToAngle(Axis axis, std::uint16_t hundredths);
  static HeadCommand askAngle(Axis axis);
  static HeadCommand angleIs(Axis axis, std::uint16_t hundredths);
};

/// An angle as positions and replies carry it: in hundredths of a degree,
/// rounded to the nearest, within a turn (359.996 is 0). `degrees` is from
/// 0 to under 360.
std::uint16_t hundredths(float degrees);

/// Hundredths of a degree as text, two decimals and a point whatever the
/// locale: "123.45".
std::string degreesText(std::uint16_t hundredths);

}  // namespace ptmove

#endif  // PTMOVE_PROTOCOL_HEAD_COMMAND_H_
