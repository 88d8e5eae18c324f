// The -dir words: the motion each asks the head for, the axes that move at
// the speed, and how the settings display names it.
#ifndef PTMOVE_CLI_DIRECTIONS_H_
#define PTMOVE_CLI_DIRECTIONS_H_

#include <string_view>

#include "head_command.h"

namespace ptmove {

struct Direction {
  std::string_view word;  // lowercase; matched without regard to case
  Motion motion;
  bool setsAxes;  // false for "a", which keeps the axes an earlier word set
  bool panMove;
  bool tiltMove;
  std::string_view displayText;  // Italian, for the settings display
};

/// The direction row for `word` (ASCII case ignored, whole word), or nullptr.
const Direction* findDirection(std::string_view word);

}  // namespace ptmove

#endif  // PTMOVE_CLI_DIRECTIONS_H_
