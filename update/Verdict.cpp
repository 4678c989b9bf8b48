#include "Verdict.h"

#include <algorithm>
#include <array>
#include <string>

#include "ChipUpdate.h"

namespace korvane {

std::string_view VerdictName(CheckVerdict verdict) {
  static constexpr std::array<std::string_view, 6> kNames{
      "offer", "up-to-date", "nothing-to-update", "not-found", "multiple", "failure"};
  return kNames[static_cast<std::size_t>(verdict)];
}

std::string_view PictureName(Picture picture) {
  static constexpr std::array<std::string_view, 4> kNames{"BACKGROUND", "GOOD", "UPDATE", "CROSS"};
  return kNames[static_cast<std::size_t>(picture)];
}

std::string_view status::OfferText(std::uint8_t chipCode) {
  // Made once per chip, so that the texts live as long as the constants beside them.
  static const std::array<std::string, kChipUpdates.size()> kTexts = [] {
    std::array<std::string, kChipUpdates.size()> texts;
    std::ranges::transform(kChipUpdates, texts.begin(), [](const ChipUpdate& chip) {
      return std::string(kOfferPrefix) + std::string(chip.productName) + " " +
             std::string(chip.offeredVersion);
    });
    return texts;
  }();
  const ChipUpdate* chip = FindChipUpdate(chipCode);
  if (chip == nullptr) return {};
  return kTexts[static_cast<std::size_t>(chip - kChipUpdates.data())];
}

std::string_view StatusTextOf(CheckVerdict verdict, std::uint8_t chipCode) {
  switch (verdict) {
    case CheckVerdict::Offer:
      return status::OfferText(chipCode);
    case CheckVerdict::UpToDate:
      return status::kUpToDate;
    case CheckVerdict::Multiple:
      return status::kMultiple;
    case CheckVerdict::NothingToUpdate:
    case CheckVerdict::NotFound:
    case CheckVerdict::Failure:
      break;
  }
  return status::kNothingFound;
}

Picture PictureOf(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::Offer:
      return Picture::Update;
    case CheckVerdict::UpToDate:
      return Picture::Good;
    case CheckVerdict::NothingToUpdate:
    case CheckVerdict::NotFound:
    case CheckVerdict::Multiple:
    case CheckVerdict::Failure:
      break;
  }
  return Picture::Cross;
}

}  // namespace korvane
