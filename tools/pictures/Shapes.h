// Shapes as signed distance: negative inside, positive outside, in pixels. The canvas turns the
// distance at a pixel's centre into how much of the pixel the shape covers, which gives every
// edge its anti-aliasing.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "Geometry.h"

namespace korvane::pictures {

/// One open run of connected points, drawn as a thick line with round ends and joins.
using Polyline = std::vector<Point>;

class Shape {
 public:
  using Distance = std::function<double(Point)>;

  Shape(Distance distance, Box bounds) : distance_(std::move(distance)), bounds_(bounds) {}

  /// Signed distance from p to the outline.
  double DistanceAt(Point p) const { return distance_(p); }
  /// Holds every point with a distance below zero.
  const Box& Bounds() const { return bounds_; }

 private:
  Distance distance_;
  Box bounds_;
};

Shape Circle(Point centre, double radius);
/// An annulus: the points within width / 2 of the circle.
Shape Ring(Point centre, double radius, double width);
Shape RoundedRect(const Box& box, double radius);
/// Every polyline drawn width thick with round ends and joins; one shape, so overlaps do not
/// darken.
Shape Strokes(std::vector<Polyline> lines, double width);
/// The area inside a closed outline (even-odd rule); corners stay sharp.
Shape Polygon(std::vector<Point> corners);

Shape Union(const Shape& a, const Shape& b);
Shape Subtract(const Shape& from, const Shape& cut);
Shape Intersect(const Shape& a, const Shape& b);
/// The shape turned by degrees about centre.
Shape Turn(const Shape& shape, Point centre, double degrees);
/// A cubic Bézier curve from a to d with control points b and c, as steps straight pieces.
Polyline Curve(Point a, Point b, Point c, Point d, int steps);

/// The shape moved by offset.
Shape Move(const Shape& shape, Point offset);

}  // namespace korvane::pictures
