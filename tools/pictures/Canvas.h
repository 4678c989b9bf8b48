// A picture being drawn: colours with straight alpha on the outside, premultiplied inside, and
// shapes filled with anti-aliased edges from their signed distance.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "Geometry.h"
#include "Shapes.h"

namespace korvane::pictures {

/// Components from 0 to 1; alpha is not premultiplied.
struct Colour {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
  double a = 1.0;
};

/// 0xRRGGBB with an alpha.
Colour Rgb(std::uint32_t rgb, double alpha = 1.0);
Colour WithAlpha(Colour colour, double alpha);
/// a at t = 0, b at t = 1.
Colour Mix(Colour a, Colour b, double t);

/// The colour of a fill at each point.
using Paint = std::function<Colour(Point)>;

Paint Solid(Colour colour);
/// from's colour at and before from, to's at and beyond to, blended in between.
Paint LinearGradient(Point from, Point to, Colour fromColour, Colour toColour);
/// inner at centre, outer at radius and beyond.
Paint RadialGradient(Point centre, double radius, Colour inner, Colour outer);

class Canvas {
 public:
  Canvas(int width, int height, Colour background);

  int Width() const { return width_; }
  int Height() const { return height_; }

  /// Paints the shape; feather widens the edge's ramp to that many pixels (1 is a crisp edge).
  void Fill(const Shape& shape, const Paint& paint, double feather = 1.0);
  void Fill(const Shape& shape, Colour colour, double feather = 1.0);

  /// The colour at pixel (x, y), alpha not premultiplied.
  Colour At(int x, int y) const;

 private:
  struct Premultiplied {
    double r, g, b, a;
  };

  void Blend(int x, int y, Colour colour, double coverage);

  int width_;
  int height_;
  std::vector<Premultiplied> pixels_;
};

}  // namespace korvane::pictures
