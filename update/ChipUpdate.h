// What the update needs to know about each chip it serves: sizes, addresses and image names.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "ChipIdentification.h"

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
};

// clang-format off
inline constexpr std::array<ChipUpdate, 2> kChipUpdates{{
    {kChipCodeJms578, "JMS578", 0x0579, 50176, 0xD000, "JMS578_FW", 50688,
     {"JMS579_ROM0_MFG", "FW"}, {"JMS577_ROM0_MFG", "FW"}, 50176, 50176, true},
    {kChipCodeJms583, "JMS583", 0x0583, 66560, 0x11000, "JMS583_V234_01_00_02", 67072,
     {"JMS583_ROM_MFG", "MFG"}, {"JMS583_ROM_MFG", "MFG"}, 65536, 65536, false},
}};
// clang-format on

/// The constants of the chip with that code; null for a chip the update does not serve.
constexpr const ChipUpdate* FindChipUpdate(std::uint8_t chipCode) {
  for (const ChipUpdate& chip : kChipUpdates) {
    if (chip.chipCode == chipCode) return &chip;
  }
  return nullptr;
}

}  // namespace korvane
