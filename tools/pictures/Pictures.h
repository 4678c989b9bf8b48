// The window's pictures: the banner across its top, the busy animation's frames, the three
// verdict pictures and the program's icon, as one Windows icon file and as PNG files for Linux
// desktops. Every run draws the same bytes.
#pragma once

#include <array>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "Bytes.h"
#include "Canvas.h"

namespace korvane::pictures {

inline constexpr int kBannerWidth = 1000;
inline constexpr int kBannerHeight = 400;
inline constexpr int kBadgeSide = 150;
inline constexpr int kLoadingFrames = 3;

/// The banner: product name, what the tool does and an enclosure being updated.
Canvas Banner();
/// Frame 0, 1 or 2 of the busy animation; each turns the ring one step further.
Canvas LoadingFrame(int frame);
/// A check mark in a green disc.
Canvas GoodBadge();
/// An arrow down into a tray in a blue disc.
Canvas UpdateBadge();
/// A cross in a red disc.
Canvas CrossBadge();
/// The sides of the PNG icons: the sizes a Linux desktop's icon theme looks for.
inline constexpr std::array<int, 7> kPngIconSides{16, 24, 32, 48, 64, 128, 256};

/// The product mark, side pixels square.
Canvas MarkImage(int side);
/// The product mark at each size the icon file carries, smallest first.
std::vector<Canvas> MarkImages();
/// Where the PNG icon of that side goes, relative to the pictures' folder.
std::string PngIconName(int side);

/// One file of the set and its contents.
struct PictureFile {
  std::string name;
  Bytes bytes;
};

/// The window's eight files, then the PNG icons, in a fixed order.
std::vector<PictureFile> AllPictures();

/// Writes every file into folder, creating it when needed; false, with the reason on errors,
/// when something could not be written whole.
bool WritePictures(const std::filesystem::path& folder, std::ostream& errors);

}  // namespace korvane::pictures
