#include "Facts.h"

#include "ImageCheck.h"
#include "Sha256.h"
#include "VersionCheck.h"

namespace korvane {
namespace {

std::string Release(const ChipUpdate* chip, const std::optional<FirmwareVersion>& version) {
  if (chip == nullptr || !version) return {};
  return std::string(ReleaseOf(*chip, *version));
}

std::string WithRelease(const FirmwareVersion& version, const std::string& release) {
  return VersionText(version) + (release.empty() ? "" : ", release " + release);
}

}  // namespace

std::optional<FirmwareVersion> EnclosureFacts::running() const {
  if (bootRom) return std::nullopt;
  return reported;
}

EnclosureFacts DescribeEnclosure(BridgeInfo info) {
  EnclosureFacts facts;
  facts.chipCode = ChipCodeOf(info);
  if (facts.chipCode != 0) facts.chipName = ChipName(facts.chipCode);
  facts.revision = RevisionOf(info);
  return facts;
}

EnclosureFacts DescribeEnclosure(BridgeInfo info, const std::optional<FirmwareVersion>& reported,
                                 bool bootRom) {
  EnclosureFacts facts = DescribeEnclosure(info);
  const ChipUpdate* chip = FindChipUpdate(facts.chipCode);
  if (chip == nullptr || !reported) return facts;
  facts.reported = reported;
  facts.bootRom = bootRom;
  facts.release = Release(chip, facts.running());
  return facts;
}

EnclosureFacts DescribeEnclosure(BridgeInfo info, const BridgeIdentity& identity) {
  EnclosureFacts facts = DescribeEnclosure(info, identity.version, identity.romMode);
  facts.revisionDigit = static_cast<char>(identity.revision);
  return facts;
}

FirmwareFacts DescribeFirmware(std::span<const std::uint8_t> image) {
  return DescribeFirmware(image, Sha256Hex(image));
}

FirmwareFacts DescribeFirmware(std::span<const std::uint8_t> image, std::string sha256) {
  FirmwareFacts facts;
  facts.chip = ChipOfImage(image);
  if (facts.chip != nullptr) facts.version = RunningVersionOf(*facts.chip, image);
  facts.release = Release(facts.chip, facts.version);
  facts.size = image.size();
  facts.sha256 = std::move(sha256);
  return facts;
}

FirmwareFacts DescribeCarriedFirmware(const ChipUpdate& chip, const ImageSource& images) {
  FirmwareFacts facts;
  facts.chip = &chip;
  facts.version = CarriedRunningVersion(chip);
  facts.release = Release(&chip, facts.version);
  const auto image = images.Find(chip.firmwareImage, kFirmwareType);
  if (!image || image->empty()) return facts;
  facts.size = image->size();
  facts.sha256 = images.Digest(chip.firmwareImage, kFirmwareType).value_or("");
  if (facts.sha256.empty()) facts.sha256 = Sha256Hex(*image);
  return facts;
}

std::string ChipName(std::uint8_t chipCode) {
  if (const ChipUpdate* chip = FindChipUpdate(chipCode)) return std::string(chip->chipName);
  if (chipCode < ChipCodeTable.size()) return std::string(ChipCodeTable[chipCode]);
  return "chip code " + std::to_string(chipCode);
}

std::string ChipText(const EnclosureFacts& enclosure) {
  if (enclosure.chipCode == 0) return "not recognised";
  return enclosure.chipName + " (chip code " + std::to_string(enclosure.chipCode) + ", revision " +
         std::to_string(enclosure.revision) + ")";
}

std::string VersionWords(const EnclosureFacts& enclosure) {
  return WithRelease(enclosure.running().value_or(FirmwareVersion{}), enclosure.release);
}

std::string VersionWords(const FirmwareFacts& firmware) {
  if (!firmware.version) return "unknown";
  return WithRelease(*firmware.version, firmware.release);
}

std::optional<std::string> VersionField(const FirmwareFacts& firmware) {
  if (!firmware.version) return std::nullopt;
  return VersionText(*firmware.version);
}

}  // namespace korvane
