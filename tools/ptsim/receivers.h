// What each virtual pan-tilt receiver did, frame by frame: its movements,
// how long each lasted, and whether one was left moving.
#ifndef PTMOVE_TOOLS_PTSIM_RECEIVERS_H_
#define PTMOVE_TOOLS_PTSIM_RECEIVERS_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "command_frame.h"

namespace ptmove {

class Receivers {
 public:
  /// Takes a good frame that arrived at `seconds`.
  void receive(const CommandFrame& frame, double seconds);

  /// One line per movement of each receiver, in address order, and a
  /// warning line for each receiver still moving.
  std::vector<std::string> summary() const;

  bool anyLeftMoving() const;

 private:
  struct Receiver {
    bool moving = false;
    std::string movement;  // what it is doing while moving
    double since = 0.0;
    std::vector<std::string> done;
  };

  std::map<std::uint8_t, Receiver> receivers_;
};

/// Seconds as ptsim prints them: "  2.000 s".
std::string formatSeconds(double seconds);

}  // namespace ptmove

#endif  // PTMOVE_TOOLS_PTSIM_RECEIVERS_H_
