#include "Geometry.h"

#include <algorithm>

namespace korvane::pictures {
namespace {

/// sin(x) for |x| <= pi/2 by its Taylor series; the first omitted term is below 1e-11.
double SineNearZero(double x) {
  const double x2 = x * x;
  double term = x;
  double sum = x;
  for (int n = 1; n <= 8; ++n) {
    term *= -x2 / ((2.0 * n) * (2.0 * n + 1.0));
    sum += term;
  }
  return sum;
}

}  // namespace

Box Enclose(const Box& a, const Box& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

Box Overlap(const Box& a, const Box& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

Box Inflate(const Box& box, double by) {
  return {box.left - by, box.top - by, box.right + by, box.bottom + by};
}

double Sine(double degrees) {
  double turns = degrees / 360.0;
  turns -= std::floor(turns + 0.5);  // now in [-0.5, 0.5)
  double x = turns * 2.0 * kPi;
  if (x > kPi / 2) x = kPi - x;
  if (x < -kPi / 2) x = -kPi - x;
  return SineNearZero(x);
}

double Cosine(double degrees) { return Sine(degrees + 90.0); }

Point OnEllipse(Point centre, double rx, double ry, double degrees) {
  return {centre.x + rx * Cosine(degrees), centre.y - ry * Sine(degrees)};
}

Point Rotate(Point p, Point centre, double degrees) {
  const double c = Cosine(degrees);
  const double s = Sine(degrees);
  const Point d = p - centre;
  return {centre.x + d.x * c + d.y * s, centre.y - d.x * s + d.y * c};
}

}  // namespace korvane::pictures
