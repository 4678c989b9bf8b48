#include "UpdateRequest.h"

#include <algorithm>

#include "ImageCheck.h"
#include "NvramIdentity.h"
#include "Text.h"

namespace korvane {

UpdateStep RefusalStep(Refusal refusal) {
  switch (refusal) {
    case Refusal::None:
    case Refusal::NotOffered:
      return UpdateStep::None;
    case Refusal::Guard:
      return UpdateStep::Guard;
    case Refusal::Chip:
      return UpdateStep::Chip;
    case Refusal::FileChip:
    case Refusal::FileImage:
    case Refusal::Image:
    case Refusal::Restore:
      return UpdateStep::Image;
    case Refusal::Version:
      return UpdateStep::Version;
    case Refusal::InUse:
      return UpdateStep::InUse;
    case Refusal::Backup:
      return UpdateStep::Backup;
  }
  return UpdateStep::None;
}

bool RefusesInput(Refusal refusal) {
  return refusal == Refusal::FileChip || refusal == Refusal::FileImage;
}

const ChipUpdate* ChipForFile(std::span<const std::uint8_t> bytes, const ChipUpdate* checked) {
  const ChipUpdate* named = ChipOfImage(bytes);
  return named != nullptr ? named : checked;
}

FileFacts DescribeFile(const FirmwareFile& file, const ChipUpdate* checked) {
  return {std::string(file.name), file.bytes.size(), std::string(file.sha256),
          ChipForFile(file.bytes, checked), DescribeFirmware(file.bytes, std::string(file.sha256))};
}

std::optional<FileRefusal> RefuseFileFor(const FirmwareFile& file, const ChipUpdate& chip) {
  const std::string name(file.name);
  if (const ChipUpdate* other = ChipOfImage(file.bytes); other != nullptr && other != &chip) {
    return FileRefusal{Refusal::FileChip,
                       name + " is an image for a " + std::string(other->chipName) +
                           "; the enclosure's bridge is a " + std::string(chip.chipName)};
  }
  // A backup's second block holds the bridge's stamp, which holds no judged field, and a broken
  // signature would leave the bridge in its boot ROM as surely as a file's.
  const ImageJudgement judgement = file.backup ? ImageJudgement::Backup : ImageJudgement::Whole;
  if (auto problem = FirmwareImageProblem(chip, file.bytes, judgement)) {
    return FileRefusal{Refusal::FileImage, name + ": " + *problem};
  }
  return std::nullopt;
}

std::string ImageVersionText(const ChipUpdate& chip, std::span<const std::uint8_t> image) {
  const auto version = ImageVersion(image);
  if (!version) return "unknown";
  if (chip.chipCode == kChipCodeJms583) return VersionText(*version);
  return "\"" + Printable(std::string(version->begin(), version->end())) + "\"";
}

namespace {

/// Why a JMS583 version that is not newer than the running one needs leave; holder words what
/// holds it ("the file holds", "the carried firmware is").
std::optional<std::string> OrderRefusal(std::string_view holder, const std::string& named,
                                        const std::array<std::uint8_t, 4>& version,
                                        const std::array<std::uint8_t, 4>& running,
                                        const VersionLeave& leave) {
  if (version < running && !leave.allowOlder) {
    return std::string(holder) + " " + named + ", older than the running " + VersionText(running) +
           ": add --allow-older to write it";
  }
  if (version == running && !leave.allowReinstall) {
    return std::string(holder) + " " + named +
           ", which the bridge runs already: add --allow-reinstall to write it again";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> VersionRefusal(const VersionCheck& checked, const ChipUpdate& chip,
                                          std::span<const std::uint8_t> image,
                                          const VersionLeave& leave) {
  // A bridge in its boot ROM runs no version to keep.
  if (checked.romMode) return std::nullopt;
  if (!checked.firmware) return std::string("the running version could not be read");
  const std::string running = VersionText(*checked.firmware);
  const std::string named = ImageVersionText(chip, image);
  if (chip.chipCode != kChipCodeJms583) {
    if (leave.force) return std::nullopt;
    return "the file names its version " + named + ", which cannot be ordered against " +
           "the running " + running + ": add --force to write it";
  }
  const auto version = ImageVersion(image).value_or(std::array<std::uint8_t, 4>{});
  return OrderRefusal("the file holds", named, version, *checked.firmware, leave);
}

std::optional<std::string> CarriedOrderRefusal(const VersionCheck& checked, const ChipUpdate& chip,
                                               std::span<const std::uint8_t> image,
                                               const VersionLeave& leave) {
  const auto version = ImageVersion(image);
  if (checked.romMode || !checked.firmware || !version || chip.chipCode != kChipCodeJms583) {
    return std::nullopt;
  }
  return OrderRefusal("the carried firmware is", VersionText(*version), *version, *checked.firmware,
                      leave);
}

std::optional<std::string> RestoreFileRefusal(const FirmwareFile& file, Enclosures enclosures) {
  const std::string name(file.name);
  if (!file.backup) {
    return name + " is not a backup this program made (its record " + name +
           ".json is missing or names another file): its NVRAM record is not written";
  }
  if (file.simulated && enclosures == Enclosures::Real) {
    return name +
           " is the backup of a simulated enclosure: its NVRAM record is not written "
           "to a real one";
  }
  return std::nullopt;
}

std::optional<std::string> RestoreRecordRefusal(std::span<const std::uint8_t> saved,
                                                std::span<const std::uint8_t> current) {
  // The vendor and product ids lead the record, each two bytes.
  constexpr std::size_t kUsbIds = 4;
  const bool sameIds = saved.size() >= kUsbIds && current.size() >= kUsbIds &&
                       std::ranges::equal(saved.first(kUsbIds), current.first(kUsbIds));
  if (!sameIds || SerialDescriptor(saved) != SerialDescriptor(current)) {
    return "the backup was made of another enclosure (its USB ids or serial number differ): "
           "its NVRAM record is not written, which would give this one the other's serial";
  }
  return std::nullopt;
}

}  // namespace korvane
