#include "receivers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frame_decoder.h"

namespace ptmove {

namespace {

std::string shortSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

double withinATurn(double degrees) {
  const double angle = std::fmod(degrees, 360.0);
  return angle < 0.0 ? angle + 360.0 : angle;
}

// The angle as the head reports it: hundredths of a degree, within a turn.
std::uint16_t hundredthsOf(double degrees) {
  return static_cast<std::uint16_t>(std::lround(withinATurn(degrees) * 100.0) % 36000);
}

std::string angleText(double degrees) {
  return degreesText(hundredthsOf(degrees));
}

// The angle a position command asks for; beyond a turn, within it.
double degreesOf(const HeadCommand& command) {
  return static_cast<double>(command.hundredths % 36000) / 100.0;
}

// Degrees a second for a frame's speed byte.
double turningRate(std::uint8_t speed) {
  return speed >= 0x40 ? kTurboDegreesPerSecond : speed * kDegreesPerSpeedStep;
}

// +1, -1 or 0: which of two opposite bits is set.
int sense(bool plus, bool minus) {
  return (plus ? 1 : 0) - (minus ? 1 : 0);
}

}  // namespace

std::string formatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%7.3f s", seconds);
  return text;
}

void Receivers::Axis::advance(double seconds) {
  if (target) {
    // The shorter way round, from -180 to under 180 degrees.
    const double way = withinATurn(*target - degrees + 180.0) - 180.0;
    const double step = kTravelDegreesPerSecond * seconds;
    if (std::fabs(way) <= step) {
      degrees = *target;
      target.reset();
    } else {
      degrees = withinATurn(degrees + (way > 0 ? step : -step));
    }
    return;
  }
  degrees = withinATurn(degrees + rate * seconds);
}

void Receivers::Lens::advance(double seconds) {
  percent = std::clamp(percent + rate * seconds, 0.0, 100.0);
}

void Receivers::Receiver::advanceTo(double seconds) {
  const double elapsed = seconds - at;
  if (elapsed > 0.0) {
    for (Axis* axis : {&pan, &tilt}) {
      axis->advance(elapsed);
    }
    for (Lens* lens : {&zoom, &focus, &iris}) {
      lens->advance(elapsed);
    }
  }
  at = std::max(at, seconds);
}

void Receivers::Receiver::follow(const Received& frame) {
  const auto is = [&frame](Function function) { return (frame.functions & function) != 0; };
  // A standard command takes over from whatever the head was doing: a
  // journey to a position ends where the head is.
  pan = {pan.degrees, sense(is(kPanRight), is(kPanLeft)) * turningRate(frame.panSpeed), {}};
  tilt = {tilt.degrees, sense(is(kTiltUp), is(kTiltDown)) * turningRate(frame.tiltSpeed), {}};
  zoom.rate = sense(is(kZoomTele), is(kZoomWide)) * kLensPercentPerSecond;
  focus.rate = sense(is(kFocusFar), is(kFocusNear)) * kLensPercentPerSecond;
  iris.rate = sense(is(kIrisOpen), is(kIrisClose)) * kLensPercentPerSecond;
}

std::optional<HeadCommand> Receivers::Receiver::carryOut(const HeadCommand& command) {
  // A journey to a position ends any movement; the other axis may be on
  // its way too.
  const auto travelTo = [this](Axis& axis, double degrees) {
    for (double* rate : {&pan.rate, &tilt.rate, &zoom.rate, &focus.rate, &iris.rate}) {
      *rate = 0.0;
    }
    axis.target = degrees;
  };
  const bool panAxis = command.axis == ptmove::Axis::kPan;
  switch (command.kind) {
    case HeadCommand::Kind::kPreset: {
      const int preset = command.presetNumber;
      if (command.preset == PresetAction::kStore) {
        presets[preset] = {pan.degrees, tilt.degrees};
      } else if (command.preset == PresetAction::kClear) {
        presets.erase(preset);
      } else if (const auto stored = presets.find(preset); stored != presets.end()) {
        travelTo(pan, stored->second.first);
        tilt.target = stored->second.second;
      }
      break;
    }
    case HeadCommand::Kind::kGoToAngle:
      travelTo(panAxis ? pan : tilt, degreesOf(command));
      break;
    case HeadCommand::Kind::kAskAngle:
      return HeadCommand::angleIs(command.axis, hundredthsOf(panAxis ? pan.degrees : tilt.degrees));
    default:
      break;  // what the head itself says, and the like: nothing a head shows
  }
  return std::nullopt;
}

std::optional<HeadCommand> Receivers::receive(const Received& frame, double seconds,
                                              const Protocol& protocol) {
  Receiver& receiver = receivers_[frame.address];
  receiver.advanceTo(seconds);
  if (std::find(receiver.protocols.begin(), receiver.protocols.end(), protocol.name()) ==
      receiver.protocols.end()) {
    receiver.protocols.push_back(protocol.name());
  }
  receiver.otherProtocol = receiver.otherProtocol || &protocol != &defaultProtocol();
  if (!frame.extended) {
    receiver.follow(frame);
  } else if (frame.command) {
    if (auto answer = receiver.carryOut(*frame.command)) {
      return answer;
    }
  }
  record(receiver, frame, seconds);
  return std::nullopt;
}

// Keeps the record of movements: a standard command replaces whatever the
// receiver was doing, and a journey to a position ends a movement too.
void Receivers::record(Receiver& receiver, const Received& frame, double seconds) {
  const bool travelling = receiver.pan.target || receiver.tilt.target;
  if (frame.extended && !(receiver.moving && travelling)) {
    return;
  }
  if (receiver.moving) {
    receiver.done.push_back(receiver.movement + " for " + shortSeconds(seconds - receiver.since));
  }
  receiver.moving = isMotion(frame);
  if (receiver.moving) {
    receiver.movement = describe(frame);
    receiver.since = seconds;
  } else if (receiver.done.empty()) {
    receiver.done.push_back(describe(frame) + " (it was not moving)");
  }
}

std::vector<std::string> Receivers::summary(double seconds) {
  std::vector<std::string> lines;
  for (auto& [address, receiver] : receivers_) {
    receiver.advanceTo(seconds);
    std::string name = "receiver " + std::to_string(address);
    if (receiver.otherProtocol) {
      std::string heard;
      for (const std::string& protocol : receiver.protocols) {
        heard += (heard.empty() ? "" : " and ") + protocol;
      }
      name += " (" + heard + ")";
    }
    for (const std::string& movement : receiver.done) {
      lines.push_back(name + ": " + movement);
    }
    if (receiver.moving) {
      lines.push_back("WARNING: " + name + " was left moving: " + receiver.movement + " since " +
                      shortSeconds(receiver.since));
    }
    char lens[64];
    std::snprintf(lens, sizeof lens, ", zoom %.0f %%, focus %.0f %%, iris %.0f %%",
                  receiver.zoom.percent, receiver.focus.percent, receiver.iris.percent);
    const bool travelling = receiver.pan.target || receiver.tilt.target;
    lines.push_back(name + ": ended at pan " + angleText(receiver.pan.degrees) + ", tilt " +
                    angleText(receiver.tilt.degrees) + " degrees" + lens +
                    (travelling ? " (still on its way to a position)" : ""));
    for (const auto& [preset, angles] : receiver.presets) {
      lines.push_back(name + ": preset " + std::to_string(preset) + " at pan " +
                      angleText(angles.first) + ", tilt " + angleText(angles.second) + " degrees");
    }
  }
  return lines;
}

bool Receivers::anyLeftMoving() const {
  for (const auto& entry : receivers_) {
    if (entry.second.moving) {
      return true;
    }
  }
  return false;
}

}  // namespace ptmove
