#include "Canvas.h"

#include <algorithm>
#include <cmath>

namespace korvane::pictures {
namespace {

/// How much of a pixel a shape covers, from the distance at the pixel's centre.
double Coverage(double distance, double feather) {
  const double t = std::clamp(0.5 - distance / feather, 0.0, 1.0);
  if (feather <= 1.0) return t;
  return t * t * (3.0 - 2.0 * t);  // soft edges ease in and out
}

/// The pixel columns or rows a span of coordinates touches, limited to [0, size).
struct PixelRange {
  int first;
  int last;  ///< exclusive
};

PixelRange Pixels(double from, double to, double margin, int size) {
  const double limit = size;
  return {static_cast<int>(std::clamp(std::floor(from - margin), 0.0, limit)),
          static_cast<int>(std::clamp(std::ceil(to + margin), 0.0, limit))};
}

}  // namespace

Colour Rgb(std::uint32_t rgb, double alpha) {
  return {((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, alpha};
}

Colour WithAlpha(Colour colour, double alpha) {
  colour.a = alpha;
  return colour;
}

Colour Mix(Colour a, Colour b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
          a.a + (b.a - a.a) * t};
}

Paint Solid(Colour colour) {
  return [colour](Point) { return colour; };
}

Paint LinearGradient(Point from, Point to, Colour fromColour, Colour toColour) {
  const Point axis = to - from;
  const double lengthSquared = Dot(axis, axis);
  return [=](Point p) {
    const double t = std::clamp(Dot(p - from, axis) / lengthSquared, 0.0, 1.0);
    return Mix(fromColour, toColour, t);
  };
}

Paint RadialGradient(Point centre, double radius, Colour inner, Colour outer) {
  return
      [=](Point p) { return Mix(inner, outer, std::clamp(Length(p - centre) / radius, 0.0, 1.0)); };
}

Canvas::Canvas(int width, int height, Colour background)
    : width_(width),
      height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
              {background.r * background.a, background.g * background.a,
               background.b * background.a, background.a}) {}

void Canvas::Fill(const Shape& shape, const Paint& paint, double feather) {
  const Box& box = shape.Bounds();
  const double margin = feather / 2 + 1.0;
  const PixelRange columns = Pixels(box.left, box.right, margin, width_);
  const PixelRange rows = Pixels(box.top, box.bottom, margin, height_);
  for (int y = rows.first; y < rows.last; ++y) {
    for (int x = columns.first; x < columns.last; ++x) {
      const Point centre{x + 0.5, y + 0.5};
      const double coverage = Coverage(shape.DistanceAt(centre), feather);
      if (coverage > 0.0) Blend(x, y, paint(centre), coverage);
    }
  }
}

void Canvas::Fill(const Shape& shape, Colour colour, double feather) {
  Fill(shape, Solid(colour), feather);
}

Colour Canvas::At(int x, int y) const {
  const Premultiplied& p = pixels_[static_cast<std::size_t>(y) * width_ + x];
  if (p.a <= 0.0) return {0.0, 0.0, 0.0, 0.0};
  return {p.r / p.a, p.g / p.a, p.b / p.a, p.a};
}

void Canvas::Blend(int x, int y, Colour colour, double coverage) {
  Premultiplied& p = pixels_[static_cast<std::size_t>(y) * width_ + x];
  const double a = std::clamp(colour.a * coverage, 0.0, 1.0);
  p.r = colour.r * a + p.r * (1.0 - a);
  p.g = colour.g * a + p.g * (1.0 - a);
  p.b = colour.b * a + p.b * (1.0 - a);
  p.a = a + p.a * (1.0 - a);
}

}  // namespace korvane::pictures
