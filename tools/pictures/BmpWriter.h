// Pictures as Windows bitmap files: 24 bits per pixel, rows bottom-up and padded to four bytes,
// a BITMAPINFOHEADER and no compression.
#pragma once

#include "Bytes.h"
#include "Canvas.h"

namespace korvane::pictures {

/// The canvas over white as a .bmp file. A fixed ordered dither keeps gradients free of bands.
Bytes EncodeBmp(const Canvas& canvas);

}  // namespace korvane::pictures
