// The banner across the top of the window: a deep blue to teal field with faint geometry, the
// product name and what the tool does on the left, and an enclosure receiving an update on the
// right. The window is 997 pixels wide, so nothing that matters sits in the last columns; the
// white window continues below, and a bright accent line finishes the banner's lower edge.

#include <algorithm>
#include <vector>

#include "Palette.h"
#include "Pictures.h"
#include "Shapes.h"
#include "StrokeFont.h"

namespace korvane::pictures {
namespace {

constexpr double kWidth = kBannerWidth;
constexpr double kHeight = kBannerHeight;
constexpr double kTextLeft = 64.0;
constexpr Point kArtCentre{770.0, 196.0};
constexpr double kBodyHalfWidth = 150.0;
constexpr double kBodyHalfHeight = 52.0;
constexpr double kArtTurnDegrees = 8.0;
constexpr double kAccentHeight = 4.0;

const Box kWhole{0, 0, kWidth, kHeight};

/// Navy at the top left, blue across the middle, teal towards the lower right.
Colour FieldAt(Point p) {
  const double t = std::clamp((p.x / kWidth) * 0.75 + (p.y / kHeight) * 0.25, 0.0, 1.0);
  if (t < 0.5) return Mix(palette::kNavy, palette::kDeepBlue, t / 0.5);
  return Mix(palette::kDeepBlue, palette::kTeal, (t - 0.5) / 0.5);
}

void DrawField(Canvas& canvas) {
  canvas.Fill(RoundedRect(kWhole, 0.0), Paint(FieldAt));
  canvas.Fill(Circle(kArtCentre, 300.0),
              RadialGradient(kArtCentre, 300.0, Rgb(0x7FE3FF, 0.20), Rgb(0x7FE3FF, 0.0)));
}

/// Thin circles spreading from the enclosure, like a signal.
void DrawRipples(Canvas& canvas) {
  for (int i = 0; i < 6; ++i) {
    const double radius = 170.0 + i * 62.0;
    canvas.Fill(Ring(kArtCentre, radius, 1.5), Rgb(0xFFFFFF, 0.075 - i * 0.01));
  }
}

/// A grid of small dots above the middle, fading out from its upper left corner.
void DrawDotGrid(Canvas& canvas) {
  constexpr double spacing = 22.0;
  for (int row = 0; row < 7; ++row) {
    for (int column = 0; column < 14; ++column) {
      const Point at{kWidth * 0.42 + column * spacing, 26.0 + row * spacing};
      const double fade = 1.0 - (row / 7.0 + column / 14.0) / 2.0;
      canvas.Fill(Circle(at, 1.6), Rgb(0xFFFFFF, 0.14 * fade * fade));
    }
  }
}

/// Two broad diagonal bands of light across the field.
void DrawBands(Canvas& canvas) {
  canvas.Fill(Polygon({{520, 0}, {640, 0}, {420, kHeight}, {300, kHeight}}), Rgb(0xFFFFFF, 0.035));
  canvas.Fill(Polygon({{660, 0}, {700, 0}, {480, kHeight}, {440, kHeight}}), Rgb(0xFFFFFF, 0.03));
}

void DrawWords(Canvas& canvas) {
  const TextStyle name{66.0, 12.5, 9.0};
  const TextStyle title{30.0, 4.6, 1.5};
  const TextStyle line{15.0, 2.3, 1.2};
  canvas.Fill(Move(Text("KORVANE", {kTextLeft, 168.0}, name), {0, 3}), Rgb(0x04102A, 0.30), 6.0);
  canvas.Fill(Text("KORVANE", {kTextLeft, 168.0}, name), palette::kWhite);
  canvas.Fill(RoundedRect({kTextLeft, 196.0, kTextLeft + 54.0, 201.0}, 2.5), palette::kAccent);
  canvas.Fill(Text("Update Tool", {kTextLeft, 256.0}, title), Rgb(0xE3F6FA));
  canvas.Fill(Text("Firmware updater for USB storage enclosures", {kTextLeft, 296.0}, line),
              Rgb(0xFFFFFF, 0.72));
}

/// Places a shape drawn upright around the art's centre at the art's slant.
Shape Slanted(const Shape& shape) { return Turn(shape, kArtCentre, kArtTurnDegrees); }

Box Around(Point centre, double halfWidth, double halfHeight) {
  return {centre.x - halfWidth, centre.y - halfHeight, centre.x + halfWidth, centre.y + halfHeight};
}

/// The cable leaves the enclosure's left end and falls out of the banner.
void DrawCable(Canvas& canvas) {
  const Point plug =
      Rotate(kArtCentre + Point{-kBodyHalfWidth - 22.0, 0.0}, kArtCentre, kArtTurnDegrees);
  const Polyline cable =
      Curve(plug, plug + Point{-28, 4}, plug + Point{-10, 90}, plug + Point{60, 190}, 40);
  canvas.Fill(Strokes({cable}, 14.0), Rgb(0x061433, 0.55));
  canvas.Fill(Strokes({cable}, 10.0), Rgb(0xD5E2F0));
  canvas.Fill(
      Slanted(RoundedRect(Around(kArtCentre + Point{-kBodyHalfWidth - 20.0, 0}, 22, 11), 5)),
      Rgb(0xAFC2D8));
}

void DrawBody(Canvas& canvas) {
  const Box body = Around(kArtCentre, kBodyHalfWidth, kBodyHalfHeight);
  canvas.Fill(Move(Slanted(RoundedRect(body, 26.0)), {6, 20}), Rgb(0x020A1F, 0.40), 28.0);
  canvas.Fill(Slanted(RoundedRect(body, 26.0)),
              LinearGradient(kArtCentre - Point{0, 60}, kArtCentre + Point{0, 60}, Rgb(0xF7FAFD),
                             Rgb(0xC3D2E4)));
  const Shape groove =
      Subtract(RoundedRect(Inflate(body, -9.0), 18.0), RoundedRect(Inflate(body, -10.5), 16.5));
  canvas.Fill(Slanted(groove), Rgb(0x0B1B3A, 0.10));
}

/// The dark window on top of the body with a progress bar and a status light.
void DrawStatusWindow(Canvas& canvas) {
  const Point at = kArtCentre + Point{-18.0, 0.0};
  canvas.Fill(Slanted(RoundedRect(Around(at, 104.0, 17.0), 17.0)), Rgb(0x0C1E45));
  canvas.Fill(Slanted(RoundedRect({at.x - 88.0, at.y - 4.0, at.x + 60.0, at.y + 4.0}, 4.0)),
              Rgb(0xFFFFFF, 0.14));
  canvas.Fill(
      Slanted(RoundedRect({at.x - 88.0, at.y - 4.0, at.x + 18.0, at.y + 4.0}, 4.0)),
      LinearGradient(at - Point{88, 0}, at + Point{18, 0}, Rgb(0x2FA4E7), palette::kAccent));
  const Point light = Rotate(at + Point{84.0, 0.0}, kArtCentre, kArtTurnDegrees);
  canvas.Fill(Circle(light, 14.0),
              RadialGradient(light, 14.0, Rgb(0x3FD8E0, 0.55), Rgb(0x3FD8E0, 0.0)));
  canvas.Fill(Circle(light, 5.0), palette::kAccent);
}

/// A round badge with a down arrow over the enclosure's upper right corner.
void DrawUpdateBadge(Canvas& canvas) {
  const Point at = Rotate(kArtCentre + Point{kBodyHalfWidth - 10.0, -kBodyHalfHeight - 6.0},
                          kArtCentre, kArtTurnDegrees);
  canvas.Fill(Circle(at + Point{3, 8}, 40.0), Rgb(0x020A1F, 0.35), 16.0);
  canvas.Fill(Circle(at, 41.0), palette::kWhite);
  canvas.Fill(Circle(at, 35.0),
              LinearGradient(at - Point{0, 35}, at + Point{0, 35}, Rgb(0x4BE0E6), Rgb(0x0E9AA8)));
  const Shape arrow = Strokes({{at + Point{0, -17}, at + Point{0, 10}},
                               {at + Point{-12, -1}, at + Point{0, 11}, at + Point{12, -1}},
                               {at + Point{-16, 19}, at + Point{16, 19}}},
                              7.0);
  canvas.Fill(arrow, palette::kWhite);
}

/// The accent line the banner ends on, bright on the left and fading into teal.
void DrawLowerEdge(Canvas& canvas) {
  canvas.Fill(RoundedRect({0, kHeight - kAccentHeight, kWidth, kHeight}, 0.0),
              LinearGradient({0, 0}, {kWidth, 0}, palette::kAccent, Rgb(0x1B8FD0)));
}

}  // namespace

Canvas Banner() {
  Canvas canvas(kBannerWidth, kBannerHeight, palette::kNavy);
  DrawField(canvas);
  DrawBands(canvas);
  DrawRipples(canvas);
  DrawDotGrid(canvas);
  DrawWords(canvas);
  DrawCable(canvas);
  DrawBody(canvas);
  DrawStatusWindow(canvas);
  DrawUpdateBadge(canvas);
  DrawLowerEdge(canvas);
  return canvas;
}

}  // namespace korvane::pictures
