#include "SenseData.h"

#include "Text.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace korvane {
namespace {

constexpr std::uint8_t kResponseCodeMask = 0x7F;
constexpr std::uint8_t kFixedCurrent = 0x70;
constexpr std::uint8_t kFixedDeferred = 0x71;
constexpr std::uint8_t kDescriptorCurrent = 0x72;
constexpr std::uint8_t kDescriptorDeferred = 0x73;
constexpr std::uint8_t kSenseKeyMask = 0x0F;

// Where each format keeps its fields, and how many bytes it needs to hold them.
constexpr std::size_t kFixedKeyAt = 2;
constexpr std::size_t kFixedAscAt = 12;
constexpr std::size_t kFixedAscqAt = 13;
constexpr std::size_t kDescriptorKeyAt = 1;
constexpr std::size_t kDescriptorAscAt = 2;
constexpr std::size_t kDescriptorAscqAt = 3;

// Indexed by the sense key.
constexpr std::array<std::string_view, 16> kKeyNames{
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    "KEY 0x0C",       "VOLUME OVERFLOW", "MISCOMPARE",     "KEY 0x0F",
};

struct AdditionalSense {
  std::uint8_t asc;
  std::uint8_t ascq;
  std::string_view text;
};

// The codes a bridge or the USB storage drivers report in practice; others are shown as numbers.
constexpr std::array kAdditionalSense{
    AdditionalSense{0x04, 0x00, "logical unit not ready"},
    AdditionalSense{0x1A, 0x00, "parameter list length error"},
    AdditionalSense{0x20, 0x00, "invalid command operation code"},
    AdditionalSense{0x21, 0x00, "logical block address out of range"},
    AdditionalSense{0x24, 0x00, "invalid field in CDB"},
    AdditionalSense{0x25, 0x00, "logical unit not supported"},
    AdditionalSense{0x26, 0x00, "invalid field in parameter list"},
    AdditionalSense{0x28, 0x00, "not ready to ready change, medium may have changed"},
    AdditionalSense{0x29, 0x00, "power on, reset or bus device reset occurred"},
    AdditionalSense{0x3A, 0x00, "medium not present"},
    AdditionalSense{0x44, 0x00, "internal target failure"},
};

std::string Hex2(std::uint8_t value) { return HexText(std::span(&value, 1), HexCase::Upper); }

SenseData At(std::span<const std::uint8_t> bytes, std::size_t key, std::size_t asc,
             std::size_t ascq) {
  // A device may stop early; missing codes read as zero, but the key itself must be there.
  if (bytes.size() <= key) return {};
  const auto byte = [&](std::size_t at) -> std::uint8_t {
    return at < bytes.size() ? bytes[at] : 0;
  };
  return {.valid = true,
          .key = static_cast<std::uint8_t>(bytes[key] & kSenseKeyMask),
          .asc = byte(asc),
          .ascq = byte(ascq)};
}

}  // namespace

SenseData DecodeSense(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  switch (bytes[0] & kResponseCodeMask) {
    case kFixedCurrent:
    case kFixedDeferred:
      return At(bytes, kFixedKeyAt, kFixedAscAt, kFixedAscqAt);
    case kDescriptorCurrent:
    case kDescriptorDeferred:
      return At(bytes, kDescriptorKeyAt, kDescriptorAscAt, kDescriptorAscqAt);
    default:
      return {};
  }
}

std::string DescribeSense(const SenseData& sense) {
  if (!sense.valid) return {};
  std::string text(kKeyNames[sense.key]);
  const auto known = std::ranges::find_if(kAdditionalSense, [&](const AdditionalSense& entry) {
    return entry.asc == sense.asc && entry.ascq == sense.ascq;
  });
  if (known != kAdditionalSense.end()) text += ", " + std::string(known->text);
  return text + " (" + Hex2(sense.key) + "/" + Hex2(sense.asc) + "/" + Hex2(sense.ascq) + ")";
}

}  // namespace korvane
