#include "Shapes.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace korvane::pictures {
namespace {

constexpr double kFar = std::numeric_limits<double>::max();

double SegmentDistance(Point p, Point a, Point b) {
  const Point ab = b - a;
  const double lengthSquared = Dot(ab, ab);
  const double t = lengthSquared > 0.0 ? std::clamp(Dot(p - a, ab) / lengthSquared, 0.0, 1.0) : 0.0;
  return Length(p - (a + ab * t));
}

Box PointsBox(const std::vector<Point>& points) {
  Box box{kFar, kFar, -kFar, -kFar};
  for (const Point& p : points) box = Enclose(box, {p.x, p.y, p.x, p.y});
  return box;
}

/// A polyline with its bounds, so that far-away lines are skipped cheaply.
struct BoundedLine {
  Polyline points;
  Box bounds;
};

double LineDistance(Point p, const Polyline& line) {
  if (line.size() == 1) return Length(p - line.front());
  double nearest = kFar;
  for (std::size_t i = 1; i < line.size(); ++i)
    nearest = std::min(nearest, SegmentDistance(p, line[i - 1], line[i]));
  return nearest;
}

/// The square of how far p lies outside box; zero inside.
double OutsideBoxSquared(Point p, const Box& box) {
  const double dx = std::max({box.left - p.x, 0.0, p.x - box.right});
  const double dy = std::max({box.top - p.y, 0.0, p.y - box.bottom});
  return dx * dx + dy * dy;
}

/// The nearest line first, measured exactly, lets every line whose box lies farther be skipped.
double StrokesDistance(Point p, const std::vector<BoundedLine>& lines, double halfWidth) {
  if (lines.empty()) return kFar;
  std::size_t closest = 0;
  double closestBox = kFar;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const double d = OutsideBoxSquared(p, lines[i].bounds);
    if (d < closestBox) {
      closest = i;
      closestBox = d;
    }
  }
  double nearest = LineDistance(p, lines[closest].points);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i == closest || OutsideBoxSquared(p, lines[i].bounds) >= nearest * nearest) continue;
    nearest = std::min(nearest, LineDistance(p, lines[i].points));
  }
  return nearest - halfWidth;
}

/// Whether the ray from p to the right crosses edge a-b once (even-odd rule).
bool Crosses(Point p, Point a, Point b) {
  if ((a.y > p.y) == (b.y > p.y)) return false;
  const double x = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
  return p.x < x;
}

double PolygonDistance(Point p, const std::vector<Point>& corners) {
  double nearest = kFar;
  bool inside = false;
  for (std::size_t i = 0, j = corners.size() - 1; i < corners.size(); j = i++) {
    nearest = std::min(nearest, SegmentDistance(p, corners[j], corners[i]));
    if (Crosses(p, corners[j], corners[i])) inside = !inside;
  }
  return inside ? -nearest : nearest;
}

}  // namespace

Shape Circle(Point centre, double radius) {
  return Shape([=](Point p) { return Length(p - centre) - radius; },
               Inflate({centre.x, centre.y, centre.x, centre.y}, radius));
}

Shape Ring(Point centre, double radius, double width) {
  return Shape([=](Point p) { return std::abs(Length(p - centre) - radius) - width / 2; },
               Inflate({centre.x, centre.y, centre.x, centre.y}, radius + width / 2));
}

Shape RoundedRect(const Box& box, double radius) {
  const Point centre{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
  const Point half{(box.right - box.left) / 2 - radius, (box.bottom - box.top) / 2 - radius};
  return Shape(
      [=](Point p) {
        const Point q{std::abs(p.x - centre.x) - half.x, std::abs(p.y - centre.y) - half.y};
        const Point outside{std::max(q.x, 0.0), std::max(q.y, 0.0)};
        return Length(outside) + std::min(std::max(q.x, q.y), 0.0) - radius;
      },
      box);
}

Shape Strokes(std::vector<Polyline> lines, double width) {
  std::vector<BoundedLine> bounded;
  Box all{kFar, kFar, -kFar, -kFar};
  for (Polyline& line : lines) {
    if (line.empty()) continue;
    const Box box = PointsBox(line);
    all = Enclose(all, box);
    bounded.push_back({std::move(line), box});
  }
  const double half = width / 2;
  return Shape(
      [bounded = std::move(bounded), half](Point p) { return StrokesDistance(p, bounded, half); },
      Inflate(all, half));
}

Shape Polygon(std::vector<Point> corners) {
  const Box box = PointsBox(corners);
  return Shape([corners = std::move(corners)](Point p) { return PolygonDistance(p, corners); },
               box);
}

Shape Union(const Shape& a, const Shape& b) {
  return Shape([=](Point p) { return std::min(a.DistanceAt(p), b.DistanceAt(p)); },
               Enclose(a.Bounds(), b.Bounds()));
}

Shape Subtract(const Shape& from, const Shape& cut) {
  return Shape([=](Point p) { return std::max(from.DistanceAt(p), -cut.DistanceAt(p)); },
               from.Bounds());
}

Shape Intersect(const Shape& a, const Shape& b) {
  return Shape([=](Point p) { return std::max(a.DistanceAt(p), b.DistanceAt(p)); },
               Overlap(a.Bounds(), b.Bounds()));
}

Shape Turn(const Shape& shape, Point centre, double degrees) {
  const Box& b = shape.Bounds();
  const std::vector<Point> corners{
      Rotate({b.left, b.top}, centre, degrees), Rotate({b.right, b.top}, centre, degrees),
      Rotate({b.left, b.bottom}, centre, degrees), Rotate({b.right, b.bottom}, centre, degrees)};
  return Shape([=](Point p) { return shape.DistanceAt(Rotate(p, centre, -degrees)); },
               PointsBox(corners));
}

Polyline Curve(Point a, Point b, Point c, Point d, int steps) {
  Polyline line;
  for (int i = 0; i <= steps; ++i) {
    const double t = static_cast<double>(i) / steps;
    const double u = 1.0 - t;
    line.push_back(a * (u * u * u) + b * (3 * u * u * t) + c * (3 * u * t * t) + d * (t * t * t));
  }
  return line;
}

Shape Move(const Shape& shape, Point offset) {
  const Box& b = shape.Bounds();
  return Shape([=](Point p) { return shape.DistanceAt(p - offset); },
               {b.left + offset.x, b.top + offset.y, b.right + offset.x, b.bottom + offset.y});
}

}  // namespace korvane::pictures
