#include "NvramIdentity.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "BridgeCommands.h"
#include "ChipUpdate.h"

namespace korvane {
namespace {

constexpr std::size_t kRecordSize = kNvramRecordBytes;
constexpr std::string_view kReadFailed = "Get NVRAM Fail.";
constexpr std::string_view kWriteFailed = "Set NVRAM Fail.";
constexpr std::string_view kCompareFailed = "Compare Fail.";

using Record = std::array<std::uint8_t, kRecordSize>;

/// A field as text: its bytes up to the first zero, upper-cased (only a to z change).
std::string FieldText(std::span<const std::uint8_t> field) {
  std::string text;
  for (const std::uint8_t byte : field) {
    if (byte == 0) break;
    const bool lower = byte >= 'a' && byte <= 'z';
    text.push_back(static_cast<char>(lower ? byte - ('a' - 'A') : byte));
  }
  return text;
}

/// Puts our name over the first occurrence of the maker's name in the field; the bytes around
/// it keep their values.
void ReplaceMakerName(std::span<std::uint8_t> field) {
  const std::size_t at = FieldText(field).find(kMakerName);
  if (at == std::string::npos) return;
  std::ranges::copy(kOwnName, field.begin() + static_cast<std::ptrdiff_t>(at));
}

Record WithOwnName(const Record& record) {
  Record working = record;
  for (const std::size_t offset : kIdentityFields) {
    ReplaceMakerName(std::span(working).subspan(offset, kIdentityFieldSize));
  }
  return working;
}

bool Fail(const UpdateContext& context, std::string_view debugText, UpdateStep step,
          std::string reason) {
  context.debug.Write(debugText);
  NoteFailure(context, step, std::move(reason));
  return false;
}

/// Fail for a command that the bridge did not carry out: the command goes into the record.
bool FailCommand(const UpdateContext& context, std::string_view debugText, UpdateStep step,
                 std::string_view path) {
  context.debug.Write(debugText);
  NoteCommandFailure(context, step, path);
  return false;
}

/// Reads the record, after letting the bridge finish what it was doing.
bool ReadRecord(const UpdateContext& context, std::string_view path, std::uint32_t address,
                Record& record) {
  WaitUntilReady(context.io, context.clock, path);
  if (ReadNvram(context.io, path, address, record)) return true;
  return FailCommand(context, kReadFailed, UpdateStep::NvramRead, path);
}

/// The offset of the first byte where two records differ, or the record size.
std::size_t FirstDifference(const Record& left, const Record& right) {
  return static_cast<std::size_t>(std::ranges::mismatch(left, right).in1 - left.begin());
}

/// The record as two reads gave it alike; nothing (noted) when a read fails or the two differ.
std::optional<Record> ReadRecordTwice(const UpdateContext& context, std::string_view path,
                                      std::uint32_t address) {
  Record first{};
  Record second{};
  if (!ReadRecord(context, path, address, first)) return std::nullopt;
  if (!ReadRecord(context, path, address, second)) return std::nullopt;
  const std::size_t differs = FirstDifference(first, second);
  if (differs == kRecordSize) return first;
  // One of them is wrong and nothing tells which: rewriting either could make a bad byte
  // permanent, the serial number's descriptor among them.
  NoteFailure(context, UpdateStep::NvramRead,
              "two reads of the NVRAM record differ at byte " + std::to_string(differs) +
                  ": nothing was written to it; run the update again");
  return std::nullopt;
}

/// The agreed record, after the read the rewrite has always made; a read that differs from it is
/// outvoted by the two that agreed.
std::optional<Record> ConfirmAgreed(const UpdateContext& context, std::string_view path,
                                    std::uint32_t address, std::span<const std::uint8_t> agreed) {
  Record record{};
  Record read{};
  std::ranges::copy(agreed, record.begin());
  if (!ReadRecord(context, path, address, read)) return std::nullopt;
  if (const std::size_t differs = FirstDifference(record, read); differs != kRecordSize) {
    context.debug.Write("NVRAM read differs from the backup's at byte " + std::to_string(differs) +
                        "; the backup's record is rewritten\n");
  }
  return record;
}

}  // namespace

bool RewriteNvramIdentity(const UpdateContext& context, std::string_view path,
                          std::uint32_t nvramAddress) {
  Record record{};
  context.view.StepProgress(UpdateStep::NvramWrite, 0);
  if (!ReadRecord(context, path, nvramAddress, record)) return false;
  return WriteNvramRecord(context, path, nvramAddress, WithOwnName(record));
}

bool RewriteAgreedNvramIdentity(const UpdateContext& context, std::string_view path,
                                std::uint32_t nvramAddress, std::span<const std::uint8_t> agreed) {
  context.view.StepProgress(UpdateStep::NvramWrite, 0);
  const std::optional<Record> record = agreed.size() == kRecordSize
                                           ? ConfirmAgreed(context, path, nvramAddress, agreed)
                                           : ReadRecordTwice(context, path, nvramAddress);
  if (!record) return false;
  return WriteNvramRecord(context, path, nvramAddress, WithOwnName(*record));
}

bool WriteNvramRecord(const UpdateContext& context, std::string_view path,
                      std::uint32_t nvramAddress,
                      std::span<const std::uint8_t, kNvramRecordBytes> record) {
  // Nothing is written to a chip this program does not update; that is no success either.
  if (FindChipUpdate(ChipCodeOf(context.currentBridgeInfo)) == nullptr) {
    NoteFailure(context, UpdateStep::Chip, "not a chip this program updates");
    return false;
  }
  Record working{};
  std::ranges::copy(record, working.begin());
  WaitUntilReady(context.io, context.clock, path);
  if (!WriteNvram(context.io, path, NvramWriteMode::Record, nvramAddress, working)) {
    return FailCommand(context, kWriteFailed, UpdateStep::NvramWrite, path);
  }
  context.view.StepProgress(UpdateStep::NvramWrite, 50);
  Record reread{};
  if (!ReadRecord(context, path, nvramAddress, reread)) return false;
  const std::size_t differs = FirstDifference(working, reread);
  if (differs == kRecordSize) {
    context.view.StepProgress(UpdateStep::NvramWrite, 100);
    return true;
  }
  return Fail(context, kCompareFailed, UpdateStep::NvramVerify,
              "the record read again differs at byte " + std::to_string(differs));
}

std::vector<std::uint8_t> SerialDescriptor(std::span<const std::uint8_t> record) {
  constexpr std::size_t kSerialAt = 0x54;
  constexpr std::uint8_t kStringDescriptor = 0x03;
  if (record.size() < kSerialAt + 2) return {};
  const std::size_t length = record[kSerialAt];
  if (record[kSerialAt + 1] != kStringDescriptor || length < 2 ||
      length > record.size() - kSerialAt) {
    return {};
  }
  const auto begin = record.begin() + static_cast<std::ptrdiff_t>(kSerialAt);
  return {begin, begin + static_cast<std::ptrdiff_t>(length)};
}

}  // namespace korvane
