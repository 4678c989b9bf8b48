#include "ChipIdentification.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "BridgeCommands.h"

namespace korvane {
namespace {

/// What identification has found so far.
struct Finding {
  std::uint8_t chipCode = 0;
  std::uint8_t revision = 0;
};

constexpr std::size_t kInquiryTagAt = 36;
constexpr std::size_t kChipTagLength = 40;
constexpr std::size_t kChipTagTextLength = 8;
constexpr std::size_t kShortIdentityLength = 12;
constexpr std::size_t kVendorB5Length = 512;

constexpr std::uint8_t kChipCode355 = 9;  // "355" is not in the table; such bridges go as 356
constexpr std::uint8_t kChipCodeVendor2336 = 39;
constexpr std::uint8_t kChipCodeWordFamily = 35;  // 35-38 from bits 5-6 of the config word
constexpr std::uint8_t kChipCodeAsksRevision = 8;
constexpr std::uint8_t kChipCodeAsksB5 = 12;
constexpr std::uint8_t kChipCodeAnswersB5 = 30;
constexpr std::uint8_t kLateRevision = 5;

// The bridge names the data length as a power of two; 64 KiB is more than any bridge's
// vendor data and keeps a garbage exponent from asking for gigabytes.
constexpr unsigned kMaxBufferExponent = 16;
constexpr std::size_t kBufferBytesExamined = 6;

constexpr std::string_view kChipInfoFail = "Get chip information fail !";
constexpr std::string_view kErrorCaption = "Error";

/// How a chip tag rule derives the revision from the tag's byte 5.
enum class TagRevision : std::uint8_t {
  DigitPlusOne,  ///< d - 0x2F: the digit's value plus one
  Unchanged,     ///< the revision found before stays
  BytePlusOne,   ///< the byte's own value plus one
  ZeroMeansOne,  ///< 1 for a zero byte, else d - 0x2F
};

struct ChipTagRule {
  std::string_view prefix;
  std::uint8_t chipCode;
  TagRevision revision;
};

// Tested in this order; the first prefix that matches decides.
constexpr std::array<ChipTagRule, 7> kChipTagRules{{
    {"j335C", 1, TagRevision::DigitPlusOne},
    {"j337A3", 4, TagRevision::Unchanged},
    {"j339C", 5, TagRevision::DigitPlusOne},
    {"j339E", 34, TagRevision::BytePlusOne},
    {"j519A", 32, TagRevision::DigitPlusOne},
    {"j352", 7, TagRevision::ZeroMeansOne},
    {"j2357", 11, TagRevision::DigitPlusOne},
}};

// Chip codes whose bridges carry a chip tag worth reading; 0 makes the tag the last resort.
constexpr std::array<std::uint8_t, 7> kTaggedChipCodes{0, 1, 3, 5, 7, 11, 32};

std::uint8_t Minus(std::uint8_t value, std::uint8_t amount) {
  return static_cast<std::uint8_t>(value - amount);
}

/// Two bytes in upper-case hex without leading zeros, one after the other ("%X%X").
std::string HexPair(std::uint8_t first, std::uint8_t second) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%X%X", first, second);
  return text.data();
}

bool IsVendor2336(const BridgeIdentity& identity) {
  return HexPair(identity.vendor[0], identity.vendor[1]).find("152D") != std::string::npos &&
         HexPair(identity.product[0], identity.product[1]).find("2336") != std::string::npos;
}

bool Is355(std::span<const std::uint8_t, 3> characters) {
  return std::ranges::equal(characters, std::string_view("355"));
}

/// Step 1: the tag 'j' + chip code in INQUIRY bytes 36-39.
std::uint8_t ChipFromInquiryTag(std::span<const std::uint8_t, kInquiryLength> inquiry) {
  if (inquiry[kInquiryTagAt] != 'j') return 0;
  const auto characters = inquiry.subspan<kInquiryTagAt + 1, 3>();
  if (const std::uint8_t code = LookUpChipCode(characters); code != 0) return code;
  return Is355(characters) ? kChipCode355 : 0;
}

void FromSignedIdentity(const BridgeIdentity& identity, Finding& finding) {
  if (IsVendor2336(identity)) {
    finding.chipCode = kChipCodeVendor2336;
    return;
  }
  finding.chipCode = LookUpChipCode(identity.model);
  if (finding.chipCode == 0 && Is355(identity.model)) finding.chipCode = kChipCode355;
  finding.revision = Minus(identity.revision, 0x30);
}

/// Step 3: the identity block, its alternate, or the family in the configuration word.
void FromIdentity(Transport& io, std::string_view path, std::uint16_t word, Finding& finding) {
  if (const IdentityRead read = ReadBridgeIdentity(io, path); read.answered) {
    if (read.identity) {
      FromSignedIdentity(*read.identity, finding);
    } else {
      finding.chipCode = static_cast<std::uint8_t>(kChipCodeWordFamily + ((word >> 5) & 3));
    }
    return;
  }
  const IdentityRead alternate = ReadBridgeIdentityAlt(io, path);
  if (alternate.identity) {
    finding.chipCode = LookUpChipCode(alternate.identity->model);
    finding.revision = Minus(alternate.identity->revision, 0x30);
  }
}

std::uint8_t ChipFromBufferData(std::span<const std::uint8_t> data) {
  if (data.size() < kBufferBytesExamined) return 0;
  if (data[4] == 0x05 && data[5] == 0x69) return 14;
  if (data[4] == 0x05 && data[5] == 0x79) return 19;
  if (data[3] == '5' && data[4] == '6' && data[5] == '1') return 15;
  return 0;
}

/// Step 4: the vendor data behind buffer id 1, for bridges without a configuration word.
void FromBufferDescriptor(Transport& io, std::string_view path, Finding& finding) {
  std::array<std::uint8_t, 4> descriptor{};
  if (!ReadBuffer(io, path, ReadBufferMode::Descriptor, BufferId::Vendor, 0, descriptor)) return;
  const unsigned exponent = std::min<unsigned>(descriptor[0], kMaxBufferExponent);
  std::vector<std::uint8_t> data(std::size_t{1} << exponent, 0);
  if (!ReadBuffer(io, path, ReadBufferMode::Data, BufferId::Vendor, 0, data)) return;
  if (const std::uint8_t code = ChipFromBufferData(data); code != 0) finding.chipCode = code;
}

/// Steps 2 to 4, for bridges that INQUIRY did not name.
void AskBridge(Transport& io, std::string_view path, Finding& finding) {
  std::array<std::uint8_t, 2> word{};
  if (ReadConfigWord(io, path, word)) {
    FromIdentity(io, path, static_cast<std::uint16_t>(word[0] | (word[1] << 8)), finding);
  } else {
    FromBufferDescriptor(io, path, finding);
  }
}

void ApplyTagRule(const ChipTagRule& rule, std::uint8_t d, Finding& finding) {
  finding.chipCode = rule.chipCode;
  switch (rule.revision) {
    case TagRevision::DigitPlusOne:
      finding.revision = Minus(d, 0x2F);
      break;
    case TagRevision::Unchanged:
      break;
    case TagRevision::BytePlusOne:
      finding.revision = static_cast<std::uint8_t>(d + 1);
      break;
    case TagRevision::ZeroMeansOne:
      finding.revision = d == 0 ? 1 : Minus(d, 0x2F);
      break;
  }
}

/// Step 5a: the chip tag text narrows the family down.
void RefineByChipTag(Transport& io, std::string_view path, Finding& finding) {
  std::array<std::uint8_t, kChipTagLength> tag{};
  if (!ReadChipTag(io, path, tag)) {
    if (finding.chipCode == 1) finding.revision = 1;
    return;
  }
  const auto* chars = reinterpret_cast<const char*>(tag.data());
  const std::string_view text(chars, strnlen(chars, kChipTagTextLength));
  const auto rule = std::ranges::find_if(
      kChipTagRules, [&](const ChipTagRule& r) { return text.starts_with(r.prefix); });
  if (rule != kChipTagRules.end()) ApplyTagRule(*rule, tag[5], finding);
}

/// Step 5b: this family must tell its revision as '1' or '2'.
void RefineByShortIdentity(Transport& io, std::string_view path, MessageSink& messages,
                           Finding& finding) {
  // Only the first twelve bytes are asked for; the version after them stays zero, unused here.
  std::array<std::uint8_t, kIdentityBlockSize> block{};
  const bool read = ReadIdentity(io, path, std::span(block).first(kShortIdentityLength));
  const std::optional<BridgeIdentity> identity =
      read ? ParseIdentityBlock(block) : std::optional<BridgeIdentity>{};
  if (!identity || (identity->revision != '1' && identity->revision != '2')) {
    messages.ShowMessage(kChipInfoFail, kErrorCaption, MessageIcon::Error);
    return;
  }
  finding.revision = identity->revision == '1' ? 1 : 2;
}

/// Step 5c: a bridge that answers the 0xB5 read is the later chip of the family.
void RefineByVendorB5(Transport& io, std::string_view path, Finding& finding) {
  std::vector<std::uint8_t> answer(kVendorB5Length, 0);
  if (ReadVendorB5(io, path, 100, 1, answer)) {
    finding.chipCode = kChipCodeAnswersB5;
  } else if (IsLateRevision(io, path)) {
    finding.revision = kLateRevision;
  }
}

void Refine(Transport& io, std::string_view path, MessageSink& messages, Finding& finding) {
  if (std::ranges::find(kTaggedChipCodes, finding.chipCode) != kTaggedChipCodes.end()) {
    RefineByChipTag(io, path, finding);
  } else if (finding.chipCode == kChipCodeAsksRevision) {
    RefineByShortIdentity(io, path, messages, finding);
  } else if (finding.chipCode == kChipCodeAsksB5) {
    RefineByVendorB5(io, path, finding);
  }
}

}  // namespace

std::uint8_t LookUpChipCode(std::span<const std::uint8_t, 3> characters) {
  for (std::size_t code = 1; code < ChipCodeTable.size(); ++code) {
    if (std::ranges::equal(characters, ChipCodeTable[code])) return static_cast<std::uint8_t>(code);
  }
  return 0;
}

BridgeInfo IdentifyBridge(Transport& io, std::string_view path, MessageSink& messages) {
  Finding finding;
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  if (Inquiry(io, path, inquiry)) {
    finding.chipCode = ChipFromInquiryTag(inquiry);
    if (finding.chipCode == 0) AskBridge(io, path, finding);
  }
  Refine(io, path, messages, finding);
  return MakeBridgeInfo(finding.chipCode, finding.revision);
}

}  // namespace korvane
