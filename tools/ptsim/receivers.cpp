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

// The angle a position frame asks for; beyond a turn, within it.
double degreesOf(const CommandFrame& frame) {
  return static_cast<double>(angleIn(frame) % 36000) / 100.0;
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

void Receivers::Receiver::follow(const CommandFrame& frame) {
  const std::uint8_t command1 = frame[2];
  const std::uint8_t command2 = frame[3];
  // A standard command takes over from whatever the head was doing: a
  // journey to a position ends where the head is.
  pan = {pan.degrees, sense(command2 & 0x02, command2 & 0x04) * turningRate(frame[4]), {}};
  tilt = {tilt.degrees, sense(command2 & 0x08, command2 & 0x10) * turningRate(frame[5]), {}};
  zoom.rate = sense(command2 & 0x20, command2 & 0x40) * kLensPercentPerSecond;
  focus.rate = sense(command2 & 0x80, command1 & 0x01) * kLensPercentPerSecond;
  iris.rate = sense(command1 & 0x02, command1 & 0x04) * kLensPercentPerSecond;
}

std::optional<CommandFrame> Receivers::Receiver::carryOut(const CommandFrame& frame) {
  if (frame[2] != 0x00) {
    return std::nullopt;  // the auxiliaries and the like: nothing a head shows
  }
  const std::uint8_t address = frame[1];
  // A journey to a position ends any movement; the other axis may be on
  // its way too.
  const auto travelTo = [this](Axis& axis, double degrees) {
    for (double* rate : {&pan.rate, &tilt.rate, &zoom.rate, &focus.rate, &iris.rate}) {
      *rate = 0.0;
    }
    axis.target = degrees;
  };
  const auto reply = [address](std::uint8_t command, double degrees) {
    return angleFrame(address, command, hundredthsOf(degrees));
  };
  const int preset = frame[5];
  switch (frame[3]) {
    case 0x03:
      presets[preset] = {pan.degrees, tilt.degrees};
      break;
    case 0x05:
      presets.erase(preset);
      break;
    case 0x07:
      if (const auto stored = presets.find(preset); stored != presets.end()) {
        travelTo(pan, stored->second.first);
        tilt.target = stored->second.second;
      }
      break;
    case 0x4B:
      travelTo(pan, degreesOf(frame));
      break;
    case 0x4D:
      travelTo(tilt, degreesOf(frame));
      break;
    case 0x51:
      return reply(positionReplyCommand(ptmove::Axis::kPan), pan.degrees);
    case 0x53:
      return reply(positionReplyCommand(ptmove::Axis::kTilt), tilt.degrees);
    default:
      break;
  }
  return std::nullopt;
}

std::optional<CommandFrame> Receivers::receive(const CommandFrame& frame, double seconds) {
  Receiver& receiver = receivers_[frame[1]];
  receiver.advanceTo(seconds);
  if (!isExtendedCommand(frame)) {
    receiver.follow(frame);
  } else if (auto reply = receiver.carryOut(frame)) {
    return reply;
  }
  record(receiver, frame, seconds);
  return std::nullopt;
}

// Keeps the record of movements: a standard command replaces whatever the
// receiver was doing, and a journey to a position ends a movement too.
void Receivers::record(Receiver& receiver, const CommandFrame& frame, double seconds) {
  const bool travelling = receiver.pan.target || receiver.tilt.target;
  if (isExtendedCommand(frame) && !(receiver.moving && travelling)) {
    return;
  }
  if (receiver.moving) {
    receiver.done.push_back(receiver.movement + " for " + shortSeconds(seconds - receiver.since));
  }
  receiver.moving = isMotion(frame);
  if (receiver.moving) {
    receiver.movement = describeCommand(frame);
    receiver.since = seconds;
  } else if (receiver.done.empty()) {
    receiver.done.push_back(describeCommand(frame) + " (it was not moving)");
  }
}

std::vector<std::string> Receivers::summary(double seconds) {
  std::vector<std::string> lines;
  for (auto& [address, receiver] : receivers_) {
    receiver.advanceTo(seconds);
    const std::string name = "receiver " + std::to_string(address);
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
