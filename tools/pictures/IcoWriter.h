// Pictures as a Windows icon file: one 32-bit BGRA image with its AND mask per size, the classic
// format that resource compilers take as it is.
#pragma once

#include <vector>

#include "Bytes.h"
#include "Canvas.h"

namespace korvane::pictures {

/// The images, square and at most 256 pixels each, as one .ico file in the order given.
Bytes EncodeIco(const std::vector<Canvas>& images);

}  // namespace korvane::pictures
