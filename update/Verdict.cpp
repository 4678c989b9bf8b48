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

VerdictDisplay DisplayOf(CheckVerdict verdict, std::uint8_t chipCode) {
  switch (verdict) {
    case CheckVerdict::Offer:
      return {Picture::Update, status::OfferText(chipCode), true};
    case CheckVerdict::UpToDate:
      return {Picture::Good, status::kUpToDate, false};
    case CheckVerdict::NothingToUpdate:
      return {Picture::Cross, status::kNothingFound, std::nullopt};
    case CheckVerdict::Multiple:
      return {Picture::Cross, status::kMultiple, std::nullopt};
    case CheckVerdict::NotFound:
    case CheckVerdict::Failure:
      break;
  }
  return {Picture::Cross, status::kNothingFound, false};
}

}  // namespace korvane
