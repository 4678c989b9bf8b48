#include "EmbeddedImages.h"

#ifndef KORVANE_DEVELOPMENT_IMAGES
#error "KORVANE_DEVELOPMENT_IMAGES must say whether the build carries development images"
#endif

namespace korvane {

bool EmbeddedImages::development() const { return KORVANE_DEVELOPMENT_IMAGES != 0; }

}  // namespace korvane
