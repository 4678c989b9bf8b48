// The 150 x 150 pictures below the banner: the busy animation and the three verdicts. Each sits
// on the window's white and is centred in its square.

#include <array>

#include "Palette.h"
#include "Pictures.h"
#include "Shapes.h"

namespace korvane::pictures {
namespace {

constexpr Point kCentre{kBadgeSide / 2.0, kBadgeSide / 2.0};
constexpr double kDiscRadius = 60.0;
constexpr double kMarkWidth = 13.0;

// The busy ring: dots on a circle, a bright one leading two fainter ones, three times around.
constexpr int kDots = 9;
constexpr double kDotRing = 46.0;
constexpr double kDotStepDegrees = 360.0 / kDots;
struct DotLook {
  double radius;
  double alpha;
};
constexpr std::array<DotLook, 3> kDotLooks{{{9.5, 1.0}, {6.5, 0.28}, {7.8, 0.6}}};

Canvas WhiteSquare() { return Canvas(kBadgeSide, kBadgeSide, palette::kWhite); }

/// A disc in colour, lit from above, with a soft shadow under it.
void DrawDisc(Canvas& canvas, Colour colour) {
  canvas.Fill(Circle(kCentre + Point{0, 3}, kDiscRadius), Rgb(0x0B1B3A, 0.22), 9.0);
  const Colour light = Mix(colour, palette::kWhite, 0.22);
  canvas.Fill(Circle(kCentre, kDiscRadius),
              LinearGradient(kCentre - Point{0, kDiscRadius}, kCentre + Point{0, kDiscRadius},
                             light, colour));
  canvas.Fill(Ring(kCentre, kDiscRadius - 1.0, 2.0), Rgb(0xFFFFFF, 0.18));
}

Canvas Verdict(Colour colour, const Shape& mark) {
  Canvas canvas = WhiteSquare();
  DrawDisc(canvas, colour);
  canvas.Fill(mark, palette::kWhite);
  return canvas;
}

Shape CheckMark() { return Strokes({{{47, 78}, {66, 96}, {103, 58}}}, kMarkWidth); }

Shape CrossMark() {
  constexpr double arm = 22.0;
  return Strokes({{kCentre - Point{arm, arm}, kCentre + Point{arm, arm}},
                  {kCentre + Point{arm, -arm}, kCentre + Point{-arm, arm}}},
                 kMarkWidth);
}

/// An arrow pointing down into an open tray.
Shape DownloadMark() {
  constexpr double width = 11.0;
  const Shape arrow = Strokes({{{75, 38}, {75, 84}}, {{56, 66}, {75, 85}, {94, 66}}}, width);
  const Shape tray = Strokes({{{47, 86}, {47, 103}, {103, 103}, {103, 86}}}, width);
  return Union(arrow, tray);
}

}  // namespace

Canvas LoadingFrame(int frame) {
  Canvas canvas = WhiteSquare();
  for (int i = 0; i < kDots; ++i) {
    // Clockwise from the top; the bright dot moves one place on with every frame.
    const Point at = OnEllipse(kCentre, kDotRing, kDotRing, 90.0 - i * kDotStepDegrees);
    const DotLook& look = kDotLooks[static_cast<std::size_t>(((i - frame) % 3 + 3) % 3)];
    canvas.Fill(Circle(at, look.radius), WithAlpha(palette::kUpdate, look.alpha));
  }
  return canvas;
}

Canvas GoodBadge() { return Verdict(palette::kGood, CheckMark()); }
Canvas UpdateBadge() { return Verdict(palette::kUpdate, DownloadMark()); }
Canvas CrossBadge() { return Verdict(palette::kFailure, CrossMark()); }

}  // namespace korvane::pictures
