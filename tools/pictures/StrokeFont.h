// A small geometric sans drawn as thick strokes with round ends: the capitals and small letters
// the pictures use. Glyphs are centre lines in units of the capital height, so one outline serves
// every size and weight.
#pragma once

#include <string_view>
#include <vector>

#include "Geometry.h"
#include "Shapes.h"

namespace korvane::pictures {

struct TextStyle {
  double capHeight;  ///< pixels from the baseline to the centre line of a capital's top
  double weight;     ///< stroke width in pixels
  double tracking;   ///< extra space between letters, pixels
};

/// The width of text's ink, from its first stroke's left edge to its last stroke's right edge.
double TextWidth(std::string_view text, const TextStyle& style);

/// The centre lines of text whose ink starts at left, baseline at baseline; throws
/// std::invalid_argument for a character the font lacks.
std::vector<Polyline> TextLines(std::string_view text, Point leftOnBaseline,
                                const TextStyle& style);

/// The text as one shape, strokes style.weight wide.
Shape Text(std::string_view text, Point leftOnBaseline, const TextStyle& style);

}  // namespace korvane::pictures
