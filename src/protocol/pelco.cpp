#include "pelco.h"

namespace ptmove {

namespace {

// Command 2 of the extended commands both protocols share.
constexpr std::uint8_t kStorePreset = 0x03;
constexpr std::uint8_t kClearPreset = 0x05;
constexpr std::uint8_t kGoToPreset = 0x07;
constexpr std::uint8_t kGoToPan = 0x4B;
constexpr std::uint8_t kGoToTilt = 0x4D;
constexpr std::uint8_t kAskPan = 0x51;
constexpr std::uint8_t kAskTilt = 0x53;
constexpr std::uint8_t kPanIs = 0x59;
constexpr std::uint8_t kTiltIs = 0x5B;

std::uint8_t presetCode(PresetAction action) {
  switch (action) {
    case PresetAction::kStore:
      return kStorePreset;
    case PresetAction::kClear:
      return kClearPreset;
    case PresetAction::kGoTo:
      break;
  }
  return kGoToPreset;
}

// An angle's hundredths in the data bytes, high byte first.
Payload anglePayload(std::uint8_t code, std::uint16_t hundredths) {
  return {0x00, code, static_cast<std::uint8_t>(hundredths >> 8),
          static_cast<std::uint8_t>(hundredths & 0xFF)};
}

}  // namespace

std::uint8_t scaleSpeed(std::int32_t speedPercent) {
  // |speedPercent| * 0.63 always fits in 32 bits, so the conversion is defined.
  const auto scaled = static_cast<std::int64_t>(speedPercent * 63.0 / 100.0);
  return static_cast<std::uint8_t>(scaled & 0xFF);
}

std::uint8_t frameChecksum(const CommandFrame& frame) {
  unsigned sum = 0;
  for (std::size_t i = 1; i <= 5; ++i) {
    sum += frame[i];
  }
  return static_cast<std::uint8_t>(sum & 0xFF);
}

std::uint8_t xorChecksum(const CommandFrame& frame) {
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i <= 6; ++i) {
    sum ^= frame[i];
  }
  return sum;
}

Payload payloadOf(const HeadCommand& command, const MotionTable& motions) {
  const bool pan = command.axis == Axis::kPan;
  switch (command.kind) {
    case HeadCommand::Kind::kMove: {
      const MotionBytes bytes =
          command.motion ? motions[static_cast<std::size_t>(*command.motion)] : MotionBytes{0, 0};
      // Each axis that moves carries the speed (both, on a diagonal).
      const std::uint8_t speed = scaleSpeed(command.speedPercent);
      return {bytes.first, bytes.second, command.panMoves ? speed : std::uint8_t{0},
              command.tiltMoves ? speed : std::uint8_t{0}};
    }
    case HeadCommand::Kind::kStop:
      break;
    case HeadCommand::Kind::kPreset:
      return {0x00, presetCode(command.preset), 0x00, command.presetNumber};
    case HeadCommand::Kind::kGoToAngle:
      return anglePayload(pan ? kGoToPan : kGoToTilt, command.hundredths);
    case HeadCommand::Kind::kAskAngle:
      return {0x00, pan ? kAskPan : kAskTilt, 0x00, 0x00};
    case HeadCommand::Kind::kAngleIs:
      return anglePayload(pan ? kPanIs : kTiltIs, command.hundredths);
  }
  return {0x00, 0x00, 0x00, 0x00};
}

Received readPayload(std::uint8_t address, const Payload& payload, const CommandBit* bits,
                     std::size_t count, std::uint8_t senseMask) {
  Received received;
  received.address = address;
  received.payload = payload;
  received.extended = (payload[1] & 0x01) != 0;
  if (received.extended) {
    received.command = sharedExtendedCommand(payload);
    return received;
  }
  const bool sense = senseMask != 0 && (payload[0] & senseMask) != 0;
  for (std::size_t i = 0; i < count; ++i) {
    if ((payload[bits[i].byte] & bits[i].mask) != 0) {
      received.functions |= sense ? bits[i].withSense : bits[i].function;
    }
  }
  received.panSpeed = payload[2];
  received.tiltSpeed = payload[3];
  return received;
}

std::optional<HeadCommand> sharedExtendedCommand(const Payload& payload) {
  if (payload[0] != 0x00) {
    return std::nullopt;
  }
  const auto angle = static_cast<std::uint16_t>(payload[2] << 8 | payload[3]);
  switch (payload[1]) {
    case kStorePreset:
      return HeadCommand::presetCommand(PresetAction::kStore, payload[3]);
    case kClearPreset:
      return HeadCommand::presetCommand(PresetAction::kClear, payload[3]);
    case kGoToPreset:
      return HeadCommand::presetCommand(PresetAction::kGoTo, payload[3]);
    case kGoToPan:
      return HeadCommand::goToAngle(Axis::kPan, angle);
    case kGoToTilt:
      return HeadCommand::goToAngle(Axis::kTilt, angle);
    case kAskPan:
      return HeadCommand::askAngle(Axis::kPan);
    case kAskTilt:
      return HeadCommand::askAngle(Axis::kTilt);
    case kPanIs:
      return HeadCommand::angleIs(Axis::kPan, angle);
    case kTiltIs:
      return HeadCommand::angleIs(Axis::kTilt, angle);
    default:
      return std::nullopt;
  }
}

}  // namespace ptmove
