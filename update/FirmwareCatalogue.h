// The rows of FirmwareCatalogue.def as C++ tables.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "ChipIdentification.h"

namespace korvane {

/// What the update does when the loader does not open its flash on the first request.
enum class LoaderStart : std::uint8_t { Fatal, Tolerated };

/// What an image is for.
enum class ImageUse : std::uint8_t {
  Offered,      ///< the firmware the update writes
  Earlier,      ///< carried, never written
  Loader,       ///< the loader for a bridge in ROM mode, whatever its loader variant
  LoaderFirst,  ///< the loader for loader variant zero
  LoaderOther,  ///< the loader for the other variants
};

/// A chip row.
struct CatalogueChip {
  std::string_view name;  ///< "JMS583"
  std::uint8_t code;      ///< the chip code identification reports
  std::uint16_t chipNumber;
  std::uint32_t firmwareArea;
  std::uint32_t nvramAddress;
  std::uint32_t romCapacity;
  LoaderStart loaderStart;
  std::string_view productName;  ///< what the offer calls the product: "NVMe Bridge"
};

/// An image row.
struct CatalogueImage {
  std::string_view chip;
  ImageUse use;
  std::string_view name;  ///< the resource name; <name>.bin in an image folder
  std::string_view type;  ///< the resource type
  std::uint32_t size;
  std::array<std::uint8_t, 4> version;  ///< the version bytes of the image's header
  std::string_view offeredVersion;      ///< as the offer names it; empty unless offered
  bool carried;                         ///< built into every program
};

// clang-format off
#define KORVANE_CATALOGUE_UNPACK(...) __VA_ARGS__
#define KORVANE_CATALOGUE_TOLERATED LoaderStart::Tolerated
#define KORVANE_CATALOGUE_FATAL LoaderStart::Fatal
#define KORVANE_CATALOGUE_OFFERED ImageUse::Offered
#define KORVANE_CATALOGUE_EARLIER ImageUse::Earlier
#define KORVANE_CATALOGUE_LOADER ImageUse::Loader
#define KORVANE_CATALOGUE_LOADER_FIRST ImageUse::LoaderFirst
#define KORVANE_CATALOGUE_LOADER_OTHER ImageUse::LoaderOther
#define KORVANE_CATALOGUE_CARRIED true
#define KORVANE_CATALOGUE_NAMED false

inline constexpr std::array kCatalogueChips{
#define KORVANE_CHIP(chip, code, number, area, nvram, rom, start, product) \
    CatalogueChip{#chip, code, number, area, nvram, rom, KORVANE_CATALOGUE_##start, product},
#define KORVANE_IMAGE(...)
#include "FirmwareCatalogue.def"
#undef KORVANE_CHIP
#undef KORVANE_IMAGE
};

inline constexpr std::array kCatalogueImages{
#define KORVANE_CHIP(...)
#define KORVANE_IMAGE(chip, use, name, type, size, version, offered, carried)               \
    CatalogueImage{#chip, KORVANE_CATALOGUE_##use, #name, #type, size,                      \
                   {KORVANE_CATALOGUE_UNPACK version}, offered, KORVANE_CATALOGUE_##carried},
#include "FirmwareCatalogue.def"
#undef KORVANE_CHIP
#undef KORVANE_IMAGE
};

#undef KORVANE_CATALOGUE_UNPACK
#undef KORVANE_CATALOGUE_TOLERATED
#undef KORVANE_CATALOGUE_FATAL
#undef KORVANE_CATALOGUE_OFFERED
#undef KORVANE_CATALOGUE_EARLIER
#undef KORVANE_CATALOGUE_LOADER
#undef KORVANE_CATALOGUE_LOADER_FIRST
#undef KORVANE_CATALOGUE_LOADER_OTHER
#undef KORVANE_CATALOGUE_CARRIED
#undef KORVANE_CATALOGUE_NAMED
// clang-format on

/// The chip's image for a use; a loader row for every variant serves both loader uses. A chip
/// without one stops the build where a constant expression asks for it.
constexpr const CatalogueImage& CatalogueImageFor(std::string_view chip, ImageUse use) {
  for (const CatalogueImage& image : kCatalogueImages) {
    if (image.chip != chip) continue;
    if (image.use == use) return image;
    const bool loader = use == ImageUse::LoaderFirst || use == ImageUse::LoaderOther;
    if (loader && image.use == ImageUse::Loader) return image;
  }
  throw "the firmware catalogue has no such image";
}

}  // namespace korvane
