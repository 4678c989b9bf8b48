// The window's pictures: the banner across its top, the busy animation's frames, the three
// verdict pictures and the program's icon. Every run draws the same bytes.
#pragma once

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
/// The product mark at each size the icon file carries, smallest first.
std::vector<Canvas> MarkImages();

/// One file of the set and its contents.
struct PictureFile {
  std::string name;
  Bytes bytes;
};

/// The eight files, in a fixed order.
std::vector<PictureFile> AllPictures();

/// Writes every file into folder, creating it when needed; false, with the reason on errors,
/// when something could not be written whole.
bool WritePictures(const std::filesystem::path& folder, std::ostream& errors);

}  // namespace korvane::pictures
