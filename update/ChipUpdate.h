// What the update needs to know about each chip it serves: sizes, addresses and image names,
// taken from the firmware catalogue.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ChipIdentification.h"
#include "FirmwareCatalogue.h"

namespace korvane {

/// A loader image by resource name and type.
struct LoaderImage {
  std::string_view name;
  std::string_view type;
};

/// The update constants of one chip.
struct ChipUpdate {
  std::uint8_t chipCode;
  std::string_view chipName;
  std::uint16_t chipNumber;          ///< the chip number in the image header, e.g. 0x0583
  std::uint32_t firmwareArea;        ///< F: the bytes written to the bridge and compared
  std::uint32_t nvramAddress;        ///< where the bridge keeps its 512-byte NVRAM record
  std::string_view firmwareImage;    ///< resource name, type "FW"
  std::uint32_t firmwareImageSize;   ///< F plus the 512-byte NVRAM template
  LoaderImage loader;                ///< for a bridge in ROM mode, loader variant zero
  LoaderImage otherLoader;           ///< loader variant non-zero
  std::uint32_t loaderSize;          ///< the size a loader image must have
  std::uint32_t romCapacity;         ///< buffer capacity a bridge in ROM mode must report
  bool toleratesLoaderStartFailure;  ///< a failed mode-3 WriteNvram after the loader: go on
  std::string_view offeredVersion;   ///< the version the offer names: "234.01.00.02"
  std::string_view productName;      ///< what the offer calls the product: "NVMe Bridge"
};

/// A chip row with the images the catalogue names for it.
constexpr ChipUpdate MakeChipUpdate(const CatalogueChip& chip) {
  const CatalogueImage& firmware = CatalogueImageFor(chip.name, ImageUse::Offered);
  const CatalogueImage& first = CatalogueImageFor(chip.name, ImageUse::LoaderFirst);
  const CatalogueImage& other = CatalogueImageFor(chip.name, ImageUse::LoaderOther);
  return {chip.code,
          chip.name,
          chip.chipNumber,
          chip.firmwareArea,
          chip.nvramAddress,
          firmware.name,
          firmware.size,
          {first.name, first.type},
          {other.name, other.type},
          first.size,
          chip.romCapacity,
          chip.loaderStart == LoaderStart::Tolerated,
          firmware.offeredVersion,
          chip.productName};
}

/// Every chip of the catalogue, as the update uses it.
inline constexpr std::array<ChipUpdate, kCatalogueChips.size()> kChipUpdates = [] {
  std::array<ChipUpdate, kCatalogueChips.size()> chips{};
  for (std::size_t index = 0; index < chips.size(); ++index) {
    chips[index] = MakeChipUpdate(kCatalogueChips[index]);
  }
  return chips;
}();

/// The constants of the chip with that code; null for a chip the update does not serve.
constexpr const ChipUpdate* FindChipUpdate(std::uint8_t chipCode) {
  for (const ChipUpdate& chip : kChipUpdates) {
    if (chip.chipCode == chipCode) return &chip;
  }
  return nullptr;
}

}  // namespace korvane
