// The colours the pictures share: the banner's blues, the accent and the verdicts' colours.
#pragma once

#include "Canvas.h"

namespace korvane::pictures::palette {

inline const Colour kNavy = Rgb(0x0A1D4A);
inline const Colour kDeepBlue = Rgb(0x0F3A82);
inline const Colour kTeal = Rgb(0x0B7F8C);
inline const Colour kAccent = Rgb(0x3FD8E0);
inline const Colour kWhite = Rgb(0xFFFFFF);

inline const Colour kGood = Rgb(0x1E9D58);
inline const Colour kUpdate = Rgb(0x1B6FD6);
inline const Colour kFailure = Rgb(0xD8433C);

}  // namespace korvane::pictures::palette
