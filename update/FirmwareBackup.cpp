#include "FirmwareBackup.h"

#include <algorithm>
#include <string>

#include "BridgeCommands.h"
#include "FlashProgramming.h"
#include "ImageCheck.h"
#include "NvramIdentity.h"
#include "Text.h"
#include "VersionCheck.h"

namespace korvane {
namespace {

constexpr std::size_t kReadRounding = 256;

/// One read of the firmware area and of the NVRAM record, in the image's layout.
std::optional<std::vector<std::uint8_t>> ReadOnce(Transport& io, Clock& clock,
                                                  std::string_view path, const ChipUpdate& chip,
                                                  UpdateFailure& failure) {
  // ReadBackFlash wants room for the whole read, which the image's size rounded up gives.
  const std::size_t room =
      (chip.firmwareImageSize + kReadRounding - 1) / kReadRounding * kReadRounding;
  std::vector<std::uint8_t> area(room, 0);
  if (!ReadBackFlash(io, path, area, &failure)) return std::nullopt;
  std::vector<std::uint8_t> image(area.begin(), area.begin() + chip.firmwareArea);
  const auto record = ReadNvramRecord(io, clock, path, chip, failure);
  if (!record) return std::nullopt;
  image.insert(image.end(), record->begin(), record->end());
  return image;
}

/// Why the bytes read are not the firmware the bridge runs; nothing when they are. A flash that
/// fails the judgement of a file to write would leave the bridge in its boot ROM once written
/// back; one that holds another version is firmware written since the bridge was last started,
/// which a backup named after the running version would misname.
std::optional<std::string> NotItsFirmware(const ChipUpdate& chip, const BridgeIdentity& identity,
                                          std::span<const std::uint8_t> image) {
  if (auto problem = FirmwareImageProblem(chip, image, ImageJudgement::Backup)) {
    return "the flash does not hold a whole firmware image: " + *problem;
  }
  // The JMS578 image keeps its version as four digits, which the bridge reports as numbers.
  const auto held = RunningVersionOf(chip, image);
  if (held && *held == identity.version) return std::nullopt;
  const auto bytes = ImageVersion(image).value_or(std::array<std::uint8_t, 4>{});
  const std::string heldText =
      held ? VersionText(*held) : "bytes " + HexText(bytes, HexCase::Upper, " ");
  return std::string(kNotGivenBack) + " (its flash holds version " + heldText +
         " where the bridge runs " + VersionText(identity.version) +
         ": firmware written since the enclosure was plugged in starts only after a replug)";
}

/// The offset where two reads differ first, or their size.
std::size_t FirstDifference(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return static_cast<std::size_t>(std::ranges::mismatch(a, b).in1 - a.begin());
}

FirmwareBackup Failed(FirmwareBackup backup, std::string reason) {
  NoteFailure(&backup.failure, UpdateStep::Backup, std::move(reason));
  backup.image.clear();
  return backup;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadNvramRecord(Transport& io, Clock& clock,
                                                         std::string_view path,
                                                         const ChipUpdate& chip,
                                                         UpdateFailure& failure) {
  std::vector<std::uint8_t> record(kNvramRecordBytes, 0);
  WaitUntilReady(io, clock, path);
  if (ReadNvram(io, path, chip.nvramAddress, record)) return record;
  NoteCommandFailure(&failure, UpdateStep::Backup, io, path, "reading the NVRAM record: ");
  return std::nullopt;
}

FirmwareBackup ReadFirmwareBackup(Transport& io, Clock& clock, std::string_view path,
                                  BridgeInfo info, UpdateView* view) {
  FirmwareBackup backup;
  backup.info = info;
  backup.chip = FindChipUpdate(ChipCodeOf(info));
  if (backup.chip == nullptr) {
    return Failed(std::move(backup), "chip code " + std::to_string(ChipCodeOf(info)) +
                                         " is not a chip this program updates");
  }
  const IdentityRead read = ReadBridgeIdentity(io, path);
  if (!read.answered || !read.identity) {
    if (!read.answered) NoteCommandFailure(&backup.failure, UpdateStep::Backup, io, path);
    return read.answered ? Failed(std::move(backup), "the identity answer lacks its signature")
                         : backup;
  }
  backup.identity = *read.identity;
  if (backup.identity.romMode) {
    backup.end = BackupEnd::BootRom;
    NoteFailure(&backup.failure, UpdateStep::Backup,
                "the bridge runs its boot ROM and holds no firmware to save");
    return backup;
  }
  std::vector<std::vector<std::uint8_t>> reads;
  for (int pass = 0; pass < 2; ++pass) {
    if (view != nullptr) view->StepProgress(UpdateStep::Backup, pass * 50);
    auto image = ReadOnce(io, clock, path, *backup.chip, backup.failure);
    if (!image) {
      backup.failure.step = UpdateStep::Backup;
      return backup;
    }
    reads.push_back(std::move(*image));
  }
  if (const std::size_t at = FirstDifference(reads[0], reads[1]); at != reads[0].size()) {
    return Failed(std::move(backup), "two reads of the bridge differ at byte " +
                                         std::to_string(at) + ": it did not answer alike twice");
  }
  if (auto problem = NotItsFirmware(*backup.chip, backup.identity, reads[0])) {
    return Failed(std::move(backup), std::move(*problem));
  }
  if (view != nullptr) view->StepProgress(UpdateStep::Backup, 100);
  backup.end = BackupEnd::Saved;
  backup.image = std::move(reads[0]);
  return backup;
}

}  // namespace korvane
