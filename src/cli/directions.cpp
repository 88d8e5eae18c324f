#include "directions.h"

#include "ascii.h"

namespace ptmove {

namespace {

// Pan, tilt, both (the diagonals), the lens, which moves no axis and so
// carries no speed, and the automatic scan, which keeps the axes an
// earlier -dir word set: the Windows program sent the pan speed with "-dir
// r -dir a", and receivers in the field may rely on it.
constexpr Direction kDirections[] = {
    {"r", Motion::kRight, true, true, false, "destra"},
    {"l", Motion::kLeft, true, true, false, "sinistra"},
    {"u", Motion::kUp, true, false, true, "su"},
    {"d", Motion::kDown, true, false, true, "giu"},
    {"a", Motion::kAuto, false, false, false, "auto"},
    {"ur", Motion::kUpRight, true, true, true, "su e destra"},
    {"ul", Motion::kUpLeft, true, true, true, "su e sinistra"},
    {"dr", Motion::kDownRight, true, true, true, "giu e destra"},
    {"dl", Motion::kDownLeft, true, true, true, "giu e sinistra"},
    {"zi", Motion::kZoomIn, true, false, false, "zoom avanti"},
    {"zo", Motion::kZoomOut, true, false, false, "zoom indietro"},
    {"fn", Motion::kFocusNear, true, false, false, "fuoco vicino"},
    {"ff", Motion::kFocusFar, true, false, false, "fuoco lontano"},
    {"io", Motion::kIrisOpen, true, false, false, "apertura iride"},
    {"ic", Motion::kIrisClose, true, false, false, "chiusura iride"},
};

}  // namespace

const Direction* findDirection(std::string_view word) {
  for (const Direction& direction : kDirections) {
    if (equalsIgnoreCase(word, direction.word)) {
      return &direction;
    }
  }
  return nullptr;
}

}  // namespace ptmove
