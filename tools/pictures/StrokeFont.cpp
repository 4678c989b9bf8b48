#include "StrokeFont.h"

#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

namespace korvane::pictures {
namespace {

// Heights in capital heights: small letters, ascenders and descenders.
constexpr double kXHeight = 0.70;
constexpr double kBowl = kXHeight / 2;  // radius of o, a, d, g, p
constexpr double kAscender = 1.0;
constexpr double kDescender = -0.30;
constexpr double kSpaceWidth = 0.30;
constexpr double kArcStepDegrees = 5.0;

/// One letter: its centre lines with y up from the baseline, and the width they span.
struct Glyph {
  std::vector<Polyline> strokes;
  double width = 0.0;
};

/// Builds a glyph stroke by stroke.
class Pen {
 public:
  Pen& Move(double x, double y) {
    glyph_.strokes.push_back({{x, y}});
    return *this;
  }
  Pen& Line(double x, double y) {
    glyph_.strokes.back().push_back({x, y});
    return *this;
  }
  /// Continues the stroke along an ellipse from one angle to another (degrees, 0 to the right,
  /// counter-clockwise); starts a stroke when there is none.
  Pen& Arc(double cx, double cy, double rx, double ry, double from, double to) {
    if (glyph_.strokes.empty()) glyph_.strokes.emplace_back();
    const int steps = static_cast<int>(std::ceil(std::abs(to - from) / kArcStepDegrees));
    for (int i = 0; i <= steps; ++i) {
      const double angle = from + (to - from) * i / steps;
      glyph_.strokes.back().push_back({cx + rx * Cosine(angle), cy + ry * Sine(angle)});
    }
    return *this;
  }
  Pen& Circle(double cx, double cy, double r) {
    glyph_.strokes.emplace_back();
    return Arc(cx, cy, r, r, 0.0, 360.0);
  }
  Glyph Done(double width) {
    glyph_.width = width;
    return std::move(glyph_);
  }

 private:
  Glyph glyph_;
};

/// The two stacked bowls of S and s, the upper a little narrower.
Glyph EsShape(double height, double width) {
  const double half = height / 2;
  const double mid = width / 2;
  return Pen()
      .Arc(mid, height - half / 2, mid * 0.92, half / 2, 35.0, 270.0)
      .Arc(mid, half / 2, mid, half / 2, 90.0, -145.0)
      .Done(width);
}

std::map<char, Glyph> Capitals() {
  std::map<char, Glyph> g;
  g['A'] =
      Pen().Move(0, 0).Line(0.38, 1).Line(0.76, 0).Move(0.1254, 0.33).Line(0.6346, 0.33).Done(0.76);
  g['B'] = Pen()
               .Move(0, 0.54)
               .Line(0.33, 0.54)
               .Arc(0.33, 0.77, 0.23, 0.23, -90, 90)
               .Line(0, 1)
               .Line(0, 0)
               .Line(0.36, 0)
               .Arc(0.36, 0.27, 0.27, 0.27, -90, 90)
               .Line(0, 0.54)
               .Done(0.63);
  g['E'] = Pen()
               .Move(0.54, 1)
               .Line(0, 1)
               .Line(0, 0)
               .Line(0.54, 0)
               .Move(0, 0.52)
               .Line(0.47, 0.52)
               .Done(0.54);
  g['F'] = Pen().Move(0.54, 1).Line(0, 1).Line(0, 0).Move(0, 0.52).Line(0.47, 0.52).Done(0.54);
  g['K'] =
      Pen().Move(0, 0).Line(0, 1).Move(0.60, 1).Line(0, 0.40).Move(0.2, 0.6).Line(0.62, 0).Done(
          0.62);
  g['N'] = Pen().Move(0, 0).Line(0, 1).Line(0.72, 0).Line(0.72, 1).Done(0.72);
  g['O'] = Pen().Circle(0.5, 0.5, 0.505).Done(1.0);
  g['R'] = Pen()
               .Move(0, 0)
               .Line(0, 1)
               .Line(0.33, 1)
               .Arc(0.33, 0.76, 0.24, 0.24, 90, -90)
               .Line(0, 0.52)
               .Move(0.30, 0.52)
               .Line(0.60, 0)
               .Done(0.60);
  g['S'] = EsShape(1.0, 0.58);
  g['T'] = Pen().Move(0, 1).Line(0.62, 1).Move(0.31, 1).Line(0.31, 0).Done(0.62);
  g['U'] =
      Pen().Move(0, 1).Line(0, 0.33).Arc(0.33, 0.33, 0.33, 0.33, 180, 360).Line(0.66, 1).Done(0.66);
  g['V'] = Pen().Move(0, 1).Line(0.35, 0).Line(0.70, 1).Done(0.70);
  return g;
}

std::map<char, Glyph> SmallLetters() {
  constexpr double x = kXHeight;
  constexpr double r = kBowl;
  std::map<char, Glyph> g;
  g['a'] = Pen().Circle(r, r, r).Move(2 * r, x).Line(2 * r, 0).Done(2 * r);
  g['c'] = Pen().Arc(r, r, r, r, 48, 312).Done(r + r * 0.67);
  g['d'] = Pen().Circle(r, r, r).Move(2 * r, kAscender).Line(2 * r, 0).Done(2 * r);
  g['e'] = Pen().Move(0, r).Line(2 * r, r).Arc(r, r, r, r, 0, 318).Done(2 * r);
  g['f'] = Pen()
               .Move(0.13, 0)
               .Line(0.13, 0.79)
               .Arc(0.34, 0.79, 0.21, 0.21, 180, 55)
               .Move(0, x)
               .Line(0.38, x)
               .Done(0.46);
  g['g'] = Pen()
               .Circle(r, r, r)
               .Move(2 * r, x)
               .Line(2 * r, -0.02)
               .Arc(r, -0.02, r, 0.26, 0, -150)
               .Done(2 * r);
  g['i'] = Pen().Move(0, 0).Line(0, x).Move(0, 0.95).Line(0, 0.95).Done(0);
  g['l'] = Pen().Move(0, 0).Line(0, kAscender).Done(0);
  g['m'] = Pen()
               .Move(0, 0)
               .Line(0, x)
               .Move(0, 0.46)
               .Arc(0.24, 0.46, 0.24, 0.24, 180, 0)
               .Line(0.48, 0)
               .Move(0.48, 0.46)
               .Arc(0.72, 0.46, 0.24, 0.24, 180, 0)
               .Line(0.96, 0)
               .Done(0.96);
  g['n'] = Pen()
               .Move(0, 0)
               .Line(0, x)
               .Move(0, 0.39)
               .Arc(0.31, 0.39, 0.31, 0.31, 180, 0)
               .Line(0.62, 0)
               .Done(0.62);
  g['o'] = Pen().Circle(r, r, r).Done(2 * r);
  g['p'] = Pen().Circle(r, r, r).Move(0, x).Line(0, kDescender).Done(2 * r);
  g['r'] =
      Pen().Move(0, 0).Line(0, x).Move(0, 0.39).Arc(0.31, 0.39, 0.31, 0.31, 180, 72).Done(0.41);
  g['s'] = EsShape(x, 0.50);
  g['t'] = Pen()
               .Move(0.13, 0.95)
               .Line(0.13, 0.16)
               .Arc(0.30, 0.16, 0.17, 0.16, 180, 270)
               .Line(0.38, 0)
               .Move(0, x)
               .Line(0.38, x)
               .Done(0.38);
  g['u'] = Pen()
               .Move(0, x)
               .Line(0, 0.31)
               .Arc(0.31, 0.31, 0.31, 0.31, 180, 360)
               .Move(0.62, x)
               .Line(0.62, 0)
               .Done(0.62);
  g['w'] = Pen().Move(0, x).Line(0.23, 0).Line(0.46, x).Line(0.69, 0).Line(0.92, x).Done(0.92);
  return g;
}

const std::map<char, Glyph>& Glyphs() {
  static const std::map<char, Glyph> glyphs = [] {
    std::map<char, Glyph> all = Capitals();
    all.merge(SmallLetters());
    all[' '] = Glyph{{}, kSpaceWidth};
    return all;
  }();
  return glyphs;
}

/// Pairs that sit closer than their widths say, in capital heights.
double Kerning(char left, char right) {
  static const std::map<std::pair<char, char>, double> pairs{{{'T', 'o'}, -0.10},
                                                             {{'A', 'V'}, -0.12},
                                                             {{'V', 'A'}, -0.12},
                                                             {{'r', 'e'}, -0.03},
                                                             {{'r', 'a'}, -0.03}};
  const auto found = pairs.find({left, right});
  return found == pairs.end() ? 0.0 : found->second;
}

const Glyph& GlyphOf(char c) {
  const auto found = Glyphs().find(c);
  if (found == Glyphs().end())
    throw std::invalid_argument(std::string("the stroke font has no glyph for '") + c + "'");
  return found->second;
}

/// The distance from one glyph's origin to the next one's.
double Advance(std::string_view text, std::size_t i, const TextStyle& style) {
  double advance = GlyphOf(text[i]).width * style.capHeight + style.weight + style.tracking;
  if (i + 1 < text.size()) advance += Kerning(text[i], text[i + 1]) * style.capHeight;
  return advance;
}

void PlaceGlyph(const Glyph& glyph, Point origin, double scale, std::vector<Polyline>& out) {
  for (const Polyline& stroke : glyph.strokes) {
    Polyline placed;
    placed.reserve(stroke.size());
    for (const Point& p : stroke)
      placed.push_back({origin.x + p.x * scale, origin.y - p.y * scale});
    out.push_back(std::move(placed));
  }
}

}  // namespace

double TextWidth(std::string_view text, const TextStyle& style) {
  double width = 0.0;
  for (std::size_t i = 0; i < text.size(); ++i) width += Advance(text, i, style);
  return text.empty() ? 0.0 : width - style.tracking;
}

std::vector<Polyline> TextLines(std::string_view text, Point leftOnBaseline,
                                const TextStyle& style) {
  std::vector<Polyline> lines;
  double x = leftOnBaseline.x + style.weight / 2;
  for (std::size_t i = 0; i < text.size(); ++i) {
    PlaceGlyph(GlyphOf(text[i]), {x, leftOnBaseline.y}, style.capHeight, lines);
    x += Advance(text, i, style);
  }
  return lines;
}

Shape Text(std::string_view text, Point leftOnBaseline, const TextStyle& style) {
  return Strokes(TextLines(text, leftOnBaseline, style), style.weight);
}

}  // namespace korvane::pictures
