// Points, boxes and the trigonometry the drawing code uses. Sine and cosine are our own series so
// that every host computes the same shapes to the last bit, whatever its maths library.
#pragma once

#include <cmath>

namespace korvane::pictures {

inline constexpr double kPi = 3.14159265358979323846;

/// A position in pixels: x to the right, y down; pixel (i, j) covers [i, i+1) x [j, j+1).
struct Point {
  double x = 0.0;
  double y = 0.0;
};

constexpr Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
constexpr Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
constexpr Point operator*(Point a, double s) { return {a.x * s, a.y * s}; }
constexpr double Dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
inline double Length(Point a) { return std::sqrt(Dot(a, a)); }
constexpr Point Lerp(Point a, Point b, double t) { return a + (b - a) * t; }

/// An axis-aligned rectangle; empty when right <= left or bottom <= top.
struct Box {
  double left = 0.0;
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
};

Box Enclose(const Box& a, const Box& b);
Box Overlap(const Box& a, const Box& b);
Box Inflate(const Box& box, double by);

/// sin and cos of an angle in degrees.
double Sine(double degrees);
double Cosine(double degrees);

/// The point at angle degrees on the ellipse around centre; 0 is to the right, 90 straight up.
Point OnEllipse(Point centre, double rx, double ry, double degrees);

/// p turned by degrees about centre (counter-clockwise on screen for positive angles).
Point Rotate(Point p, Point centre, double degrees);

}  // namespace korvane::pictures
