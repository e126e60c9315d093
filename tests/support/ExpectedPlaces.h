// Where the tests expect a window's controls: their places are given in twips (1/1440 inch),
// and at 96 dots per inch a pixel is 15 twips, a place falling on the nearest pixel. Worked out
// here on its own, so that a wrong conversion in the windows is caught.
#pragma once

#include <QRect>

#include <cmath>

namespace lumivex::testing {

inline int Px(int twips) {
  return static_cast<int>(std::lround(twips / 15.0));
}

inline QRect Tw(int left, int top, int width, int height) {
  return {Px(left), Px(top), Px(width), Px(height)};
}

}  // namespace lumivex::testing
