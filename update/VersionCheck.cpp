#include "VersionCheck.h"

#include <algorithm>
#include <span>

#include "BridgeCommands.h"
#include "IdentityBlock.h"
#include "ImageCheck.h"
#include "InquiryText.h"
#include "NvramIdentity.h"

namespace korvane {
namespace {

/// A product name with this word (in any case) is not ours to update.
constexpr std::string_view kExcludedWord = "VORNIX";

/// The JMS578 runs current firmware: 0.1.1.4 or later, or 0.2.1.x with x at least 4.
bool Jms578UpToDate(const std::array<std::uint8_t, 4>& v) {
  return v[0] == 0 && (v[1] == 1 || v[1] == 2) && v[2] == 1 && v[3] >= 4;
}

/// The JMS583 firmware the carried image replaces.
bool Jms583Offered(const std::array<std::uint8_t, 4>& v) { return v[2] == 0; }

bool HoldsExcludedWord(std::span<const std::uint8_t, kInquiryLength> inquiry) {
  std::string text = ModelText(inquiry);
  std::ranges::transform(text, text.begin(), [](char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return text.find(kExcludedWord) != std::string::npos;
}

std::string ChipDescription(BridgeInfo info) {
  const std::uint8_t code = ChipCodeOf(info);
  if (code == 0) return "no bridge chip this tool knows";
  return "a " + std::string(ChipCodeTable[code]) + " bridge (chip code " + std::to_string(code) +
         "), which this tool does not update";
}

/// One run of the check: its services, its disk and what it found so far.
class CheckRun {
 public:
  CheckRun(const CheckServices& services, std::string_view path, const CheckProgress& progress)
      : s_(services), progress_(progress) {
    result_.path = path;
  }

  VersionCheck Run();

 private:
  void Fail(std::string reason);
  void FailCommand(std::string_view command);
  bool ReadFlashTypeStep();
  std::optional<BridgeIdentity> ReadIdentityStep();
  void CheckJms578(const BridgeIdentity& identity);
  void CheckJms583(const BridgeIdentity& identity);
  bool ReadNvramAndInquiry();

  const CheckServices& s_;
  const CheckProgress& progress_;
  VersionCheck result_;
};

VersionCheck CheckRun::Run() {
  result_.bridgeInfo = IdentifyBridge(s_.io, result_.path, s_.messages);
  if (progress_.identified) progress_.identified(result_.bridgeInfo);
  const std::uint8_t code = ChipCodeOf(result_.bridgeInfo);
  if (code != kChipCodeJms578 && code != kChipCodeJms583) {
    Fail("the disk has " + ChipDescription(result_.bridgeInfo));
    return result_;
  }
  result_.chip = FindChipUpdate(code);
  if (!ReadFlashTypeStep()) return result_;
  const std::optional<BridgeIdentity> identity = ReadIdentityStep();
  if (!identity) return result_;
  if (code == kChipCodeJms578) {
    CheckJms578(*identity);
  } else {
    CheckJms583(*identity);
  }
  return result_;
}

void CheckRun::Fail(std::string reason) {
  if (result_.failure.empty()) result_.failure = std::move(reason);
}

void CheckRun::FailCommand(std::string_view command) {
  Fail(std::string(command) + " failed: " + s_.io.DescribeLastFailure(result_.path));
}

bool CheckRun::ReadFlashTypeStep() {
  std::array<std::uint8_t, 4> flashType{};
  const bool ok = ReadFlashType(s_.io, result_.path, flashType);
  if (!ok) FailCommand("reading the flash type");
  if (progress_.flashTypeRead) progress_.flashTypeRead();
  return ok;
}

std::optional<BridgeIdentity> CheckRun::ReadIdentityStep() {
  const IdentityRead read = ReadBridgeIdentity(s_.io, result_.path);
  if (!read.answered) {
    FailCommand("reading the identity block");
    return std::nullopt;
  }
  const std::optional<BridgeIdentity>& identity = read.identity;
  if (!identity) {
    Fail("the identity block lacks its F4 E7 signature");
    return std::nullopt;
  }
  result_.firmware = identity->version;
  result_.romMode = identity->romMode;
  return identity;
}

void CheckRun::CheckJms578(const BridgeIdentity& identity) {
  if (result_.romMode) {
    // After an interrupted write this is what the user meets; say why, and that we cannot help.
    Fail(
        "the JMS578 runs its boot ROM: its flash holds no complete firmware, as after an "
        "interrupted update, and only a JMS583 can be written from its boot ROM");
    return;
  }
  if (!ReadNvramAndInquiry()) return;
  result_.ruled =
      Jms578UpToDate(identity.version) ? VersionVerdict::UpToDate : VersionVerdict::Offer;
}

void CheckRun::CheckJms583(const BridgeIdentity& identity) {
  if (!ReadNvramAndInquiry()) return;
  result_.ruled =
      Jms583Offered(identity.version) ? VersionVerdict::Offer : VersionVerdict::NothingToUpdate;
}

bool CheckRun::ReadNvramAndInquiry() {
  Transport& io = s_.io;
  WaitUntilReady(io, s_.clock, result_.path);
  std::array<std::uint8_t, kNvramRecordBytes> record{};
  // A failed NVRAM read fails the check, but the rules still decide, and a face may show that.
  if (!ReadNvram(io, result_.path, result_.chip->nvramAddress, record)) {
    FailCommand("reading the NVRAM record");
  }
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  if (!Inquiry(io, result_.path, inquiry)) {
    FailCommand("INQUIRY");
    return false;
  }
  if (HoldsExcludedWord(inquiry)) {
    Fail("the enclosure's product name \"" + ModelText(inquiry) +
         "\" is not one this tool updates");
    return false;
  }
  return true;
}

/// Why a firmware the rules leave alone gets no offer: the very version carried, or one the
/// carried firmware does not replace, which the text names so that the two can be told apart.
std::string NothingToUpdateReason(const ChipUpdate& chip,
                                  const std::optional<std::array<std::uint8_t, 4>>& firmware) {
  const std::string runs = "the " + std::string(chip.chipName) + " runs firmware ";
  if (!firmware)
    return runs + "of unknown version, which the firmware this tool carries does not replace";
  const auto carried = CarriedRunningVersion(chip);
  if (carried == firmware) {
    return runs + VersionWithRelease(&chip, *firmware) + ", the version this tool carries";
  }
  const std::string carriedText =
      carried ? " (" + VersionWithRelease(&chip, *carried) + ")" : std::string();
  return runs + VersionWithRelease(&chip, *firmware) + ", which the firmware this tool carries" +
         carriedText + " does not replace";
}

}  // namespace

VersionVerdict VersionCheck::verdict() const {
  if (!failure.empty()) return VersionVerdict::Failure;
  return ruled.value_or(VersionVerdict::Failure);
}

std::string_view VersionCheck::offeredVersion() const {
  if (verdict() != VersionVerdict::Offer || chip == nullptr) return {};
  return chip->offeredVersion;
}

std::string VersionCheck::reason() const {
  switch (verdict()) {
    case VersionVerdict::Offer:
    case VersionVerdict::UpToDate:
      return {};
    case VersionVerdict::NothingToUpdate:
      return NothingToUpdateReason(*chip, firmware);
    case VersionVerdict::Failure:
      break;
  }
  return failure.empty() ? "the check failed" : failure;
}

VersionCheck CheckVersion(const CheckServices& services, std::string_view path,
                          const CheckProgress& progress) {
  return CheckRun(services, path, progress).Run();
}

std::string VersionText(const std::array<std::uint8_t, 4>& version) {
  return std::to_string(version[0]) + '.' + std::to_string(version[1]) + '.' +
         std::to_string(version[2]) + '.' + std::to_string(version[3]);
}

std::string VersionWithRelease(const ChipUpdate* chip, const std::array<std::uint8_t, 4>& running) {
  std::string text = VersionText(running);
  const std::string_view release = chip != nullptr ? ReleaseOf(*chip, running) : "";
  if (!release.empty()) text += ", release " + std::string(release);
  return text;
}

CheckVerdict CheckVerdictOf(VersionVerdict verdict) {
  switch (verdict) {
    case VersionVerdict::Offer:
      return CheckVerdict::Offer;
    case VersionVerdict::UpToDate:
      return CheckVerdict::UpToDate;
    case VersionVerdict::NothingToUpdate:
      return CheckVerdict::NothingToUpdate;
    case VersionVerdict::Failure:
      break;
  }
  return CheckVerdict::Failure;
}

}  // namespace korvane
