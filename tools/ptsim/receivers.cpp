#include "receivers.h"

#include <cstdio>

#include "frame_decoder.h"

namespace ptmove {

namespace {

std::string shortSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

}  // namespace

std::string formatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%7.3f s", seconds);
  return text;
}

void Receivers::receive(const CommandFrame& frame, double seconds) {
  if (isExtendedCommand(frame)) {
    return;  // presets and auxiliaries leave the movement as it was
  }
  // A standard command replaces whatever the receiver was doing.
  Receiver& receiver = receivers_[frame[1]];
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

std::vector<std::string> Receivers::summary() const {
  std::vector<std::string> lines;
  for (const auto& [address, receiver] : receivers_) {
    const std::string name = "receiver " + std::to_string(address);
    for (const std::string& movement : receiver.done) {
      lines.push_back(name + ": " + movement);
    }
    if (receiver.moving) {
      lines.push_back("WARNING: " + name + " was left moving: " + receiver.movement + " since " +
                      shortSeconds(receiver.since));
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
