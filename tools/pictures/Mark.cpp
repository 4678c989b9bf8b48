// The product mark for the icon: a rounded square in the banner's blues with a white K. The K is
// cut from straight-edged bands and snapped to whole pixels, so that it stays crisp at 16 pixels.

#include <algorithm>
#include <array>
#include <cmath>

#include "Palette.h"
#include "Pictures.h"
#include "Shapes.h"

namespace korvane::pictures {
namespace {

constexpr std::array<int, 6> kIconSides{16, 24, 32, 48, 64, 256};

/// Where the K sits in a square of side pixels, in whole pixels where it matters.
struct LetterFrame {
  Box box;       ///< the letter's extent
  double stem;   ///< the stem's width
  double slant;  ///< the diagonals' width across
};

LetterFrame FrameFor(int side) {
  const double height = std::round(side * 0.56);
  const double stem = std::max(2.0, std::round(side * 0.125));
  const double width = std::round(height * 0.62 + stem * 0.5);
  const double left = std::round((side - width) / 2.0 + side * 0.02);
  const double top = std::round((side - height) / 2.0);
  return {{left, top, left + width, top + height}, stem, stem * 0.92};
}

/// A straight band width wide along a-b, running on past both ends so a clip can cut it.
Shape Band(Point a, Point b, double width) {
  const Point along = (b - a) * (1.0 / Length(b - a));
  const Point across{-along.y * width / 2, along.x * width / 2};
  const Point from = a - along * width;
  const Point to = b + along * width;
  return Polygon({from + across, to + across, to - across, from - across});
}

Shape Letter(const LetterFrame& f) {
  const Box& b = f.box;
  const double height = b.bottom - b.top;
  const Shape stem = Polygon(
      {{b.left, b.top}, {b.left + f.stem, b.top}, {b.left + f.stem, b.bottom}, {b.left, b.bottom}});
  const Point armFrom{b.left + f.stem * 0.5, b.top + height * 0.66};
  const Point armTo{b.right - f.slant * 0.35, b.top};
  const Point legFrom = Lerp(armFrom, armTo, 0.30);
  const Point legTo{b.right, b.bottom};
  const Shape diagonals = Union(Band(armFrom, armTo, f.slant), Band(legFrom, legTo, f.slant));
  const Shape clip = Polygon({{b.left, b.top},
                              {b.right + f.stem, b.top},
                              {b.right + f.stem, b.bottom},
                              {b.left, b.bottom}});
  return Union(stem, Intersect(diagonals, clip));
}

}  // namespace

Canvas MarkImage(int side) {
  Canvas canvas(side, side, Rgb(0x000000, 0.0));
  const double s = side;
  const Shape square = RoundedRect({0, 0, s, s}, s * 0.22);
  canvas.Fill(square, LinearGradient({0, 0}, {s, s}, palette::kDeepBlue, palette::kTeal));
  canvas.Fill(Letter(FrameFor(side)), palette::kWhite);
  return canvas;
}

std::vector<Canvas> MarkImages() {
  std::vector<Canvas> images;
  for (const int side : kIconSides) images.push_back(MarkImage(side));
  return images;
}

}  // namespace korvane::pictures
