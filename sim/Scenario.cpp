#include "Scenario.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "BuiltInScenarios.h"
#include "Replugs.h"
#include "Text.h"

namespace korvane::sim {
namespace {

using Json = nlohmann::json;

// A mistaken path such as a device node or a disk image must not fill the memory.
constexpr std::size_t kMaxFileSize = std::size_t{16} << 20;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr std::size_t kShownLength = 40;  // longest value a message quotes

constexpr std::size_t kVendorLength = 8;
constexpr std::size_t kProductLength = 16;
constexpr std::size_t kRevisionLength = 4;
constexpr std::size_t kTagLength = 4;
constexpr std::size_t kChipTagLength = 8;
constexpr std::size_t kIdentityLength = 16;
constexpr std::size_t kFlashTypeLength = 4;
constexpr std::size_t kMaxBufferOne = 0xFFFFFF;  // the descriptor holds a 24-bit capacity
constexpr std::uint64_t kMaxByteValue = 0xFF;
constexpr std::uint64_t kMaxWord = 0xFFFF;
constexpr std::uint64_t kMaxBusyReads = 0xFFFF;
constexpr std::uint64_t kMaxLatencyUs = 60'000'000;  // a minute per command
constexpr std::uint64_t kMaxFaultByte = 0xFFFFFF;    // transfers have a 24-bit length
constexpr std::uint64_t kMaxNth = std::numeric_limits<unsigned>::max();

// ---- Messages ----------------------------------------------------------------------------------

/// Control characters from keys or file names would break the one-line message.
std::string OneLine(std::string text) {
  std::ranges::replace_if(
      text, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, ' ');
  return text;
}

ScenarioError Error(std::string_view source, std::string_view at, std::string_view what) {
  std::string message(source);
  message += ": ";
  if (!at.empty()) message.append(at).append(": ");
  message += what;
  return {OneLine(std::move(message))};
}

/// A value as a message quotes it: a scalar as its JSON text, cut when long; a list or an object
/// only by its kind, since writing out a deeply nested one would recurse as deep.
std::string Shown(const Json& value) {
  if (value.is_array()) return value.empty() ? "[]" : "a list";
  if (value.is_object()) return value.empty() ? "{}" : "an object";
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  if (text.size() > kShownLength) text = text.substr(0, kShownLength) + "...";
  return text;
}

template <typename Range>
std::string Listed(const Range& names, bool quoted) {
  std::string text;
  for (std::string_view name : names) {
    if (!text.empty()) text += ", ";
    text += quoted ? "\"" + std::string(name) + "\"" : std::string(name);
  }
  return text;
}

// ---- Fields of the document ---------------------------------------------------------------------

/// Where reading stopped: the JSON path of the field and what is wrong with it.
struct Problem {
  std::string at;
  std::string what;
};

/// One value of the document with its JSON path; a failure is written to the shared problem.
class Field {
 public:
  Field(const Json& value, std::string at, Problem& problem)
      : value_(value), at_(std::move(at)), problem_(problem) {}

  const Json& value() const { return value_; }
  bool Has(std::string_view key) const { return value_.is_object() && value_.contains(key); }
  /// The member with that key; only for a key that Has.
  Field Member(std::string_view key) const { return {value_.at(key), Join(key), problem_}; }
  Field Item(std::size_t index) const {
    return {value_.at(index), at_ + "[" + std::to_string(index) + "]", problem_};
  }
  /// Records what is wrong here; returns false for the caller to pass on.
  bool Fail(std::string what) const {
    problem_ = {at_, std::move(what)};
    return false;
  }
  /// Records that something else was expected here, quoting what was found.
  bool Expected(std::string_view expected) const {
    return Fail("expected " + std::string(expected) + ", got " + Shown(value_));
  }
  /// Records that a required member is absent.
  bool Missing(std::string_view key, std::string_view expected) const {
    problem_ = {Join(key), "missing, expected " + std::string(expected)};
    return false;
  }

 private:
  std::string Join(std::string_view key) const {
    return at_.empty() ? std::string(key) : at_ + "." + std::string(key);
  }

  const Json& value_;
  std::string at_;
  Problem& problem_;
};

/// A misspelt key would otherwise be ignored and its value silently lost.
bool OnlyKnownKeys(const Field& object, std::span<const std::string_view> known) {
  for (const auto& item : object.value().items()) {
    if (std::ranges::find(known, item.key()) != known.end()) continue;
    return object.Member(item.key()).Fail("unknown key, expected one of " + Listed(known, false));
  }
  return true;
}

const std::string& Text(const Field& field) { return field.value().get_ref<const std::string&>(); }

bool ReadBool(const Field& field, bool& out) {
  if (!field.value().is_boolean()) return field.Expected("true or false");
  out = field.value().get<bool>();
  return true;
}

std::string IntegerRange(std::uint64_t min, std::uint64_t max) {
  if (max == kMaxNth) return "an integer " + std::to_string(min) + " or more";
  return "an integer " + std::to_string(min) + "-" + std::to_string(max);
}

/// A whole number in [min, max]; orNull completes the expectation for nullable fields.
bool ReadInteger(const Field& field, std::uint64_t min, std::uint64_t max, std::uint64_t& out,
                 std::string_view orNull = "") {
  if (field.value().is_number_unsigned()) {
    const auto value = field.value().get<std::uint64_t>();
    if (value >= min && value <= max) {
      out = value;
      return true;
    }
  }
  return field.Expected(IntegerRange(min, max) + std::string(orNull));
}

enum class Width : std::uint8_t { AtMost, Exactly };

/// Text for a fixed-width field of the bridge's answers, which hold printable ASCII only.
bool ReadText(const Field& field, std::size_t length, Width width, std::string& out,
              std::string_view orNull = "") {
  const bool fits =
      field.value().is_string() &&
      (width == Width::Exactly ? Text(field).size() == length : Text(field).size() <= length) &&
      std::ranges::all_of(Text(field), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (fits) {
    out = Text(field);
    return true;
  }
  const std::string count = (width == Width::Exactly ? "exactly " : "text of at most ") +
                            std::to_string(length) + " printable ASCII characters";
  return field.Expected(count + std::string(orNull));
}

bool ReadMemberText(const Field& object, std::string_view key, std::size_t length,
                    std::string& out) {
  return !object.Has(key) || ReadText(object.Member(key), length, Width::AtMost, out);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/// Pairs of hex digits in either case; blanks may separate bytes but not split one.
bool DecodeHex(const Field& field, std::vector<std::uint8_t>& bytes) {
  const std::string& text = Text(field);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) break;
    const int high = HexValue(text[i]);
    const int low = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
    if (high < 0 || low < 0) {
      const std::size_t bad = high < 0 ? i : i + 1;
      const std::string found = bad < text.size() ? "'" + text.substr(bad, 1) + "'" : "the end";
      return field.Fail("expected two hex digits per byte, got " + found + " at character " +
                        std::to_string(bad + 1));
    }
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return true;
}

/// Hex text of size bytes exactly, or of at most size bytes when width says so.
bool ReadHex(const Field& field, std::size_t size, Width width, std::vector<std::uint8_t>& out,
             std::string_view orNull = "") {
  const std::string expected = width == Width::Exactly
                                   ? std::to_string(size) + " bytes of hex"
                                   : "hex of at most " + std::to_string(size) + " bytes";
  if (!field.value().is_string()) return field.Expected(expected + std::string(orNull));
  std::vector<std::uint8_t> bytes;
  if (!DecodeHex(field, bytes)) return false;
  const bool fits = width == Width::Exactly ? bytes.size() == size : bytes.size() <= size;
  if (!fits)
    return field.Fail("expected " + expected + ", got " + std::to_string(bytes.size()) + " bytes");
  out = std::move(bytes);
  return true;
}

template <std::size_t N>
bool ReadHexArray(const Field& field, std::array<std::uint8_t, N>& out) {
  std::vector<std::uint8_t> bytes;
  if (!ReadHex(field, N, Width::Exactly, bytes, " or null")) return false;
  std::ranges::copy(bytes, out.begin());
  return true;
}

template <typename T>
struct Choice {
  std::string_view name;
  T value;
};

template <typename T, std::size_t N>
bool ReadChoice(const Field& field, const std::array<Choice<T>, N>& choices, T& out) {
  if (field.value().is_string()) {
    const auto found = std::ranges::find(choices, Text(field), &Choice<T>::name);
    if (found != choices.end()) {
      out = found->value;
      return true;
    }
  }
  std::vector<std::string_view> names;
  for (const Choice<T>& choice : choices) names.push_back(choice.name);
  return field.Expected("one of " + Listed(names, true));
}

// ---- Disk fields ------------------------------------------------------------------------------

/// Four decimal numbers 0-255 separated by dots, nothing else.
std::optional<FirmwareVersion> ParseVersion(std::string_view text) {
  FirmwareVersion version{};
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  for (std::size_t i = 0; i < version.size(); ++i) {
    if (i > 0 && (at == end || *at++ != '.')) return std::nullopt;
    unsigned value = 0;
    const auto [next, error] = std::from_chars(at, end, value);
    if (error != std::errc() || next - at > 3 || value > kMaxByteValue) return std::nullopt;
    version[i] = static_cast<std::uint8_t>(value);
    at = next;
  }
  if (at != end) return std::nullopt;
  return version;
}

bool ApplyFirmware(const Field& field, BridgeConfig& config) {
  const auto version = field.value().is_string() ? ParseVersion(Text(field)) : std::nullopt;
  if (!version) return field.Expected(R"("a.b.c.d" with numbers 0-255)");
  config.firmwareVersion = *version;
  return true;
}

bool ApplyRomMode(const Field& field, BridgeConfig& config) {
  return ReadBool(field, config.romMode);
}

bool ReadInquiryTag(const Field& inquiry, std::string& tag) {
  if (!inquiry.Has("tag")) return true;
  const Field field = inquiry.Member("tag");
  if (field.value().is_null()) {
    tag.clear();
    return true;
  }
  return ReadText(field, kTagLength, Width::Exactly, tag, " or null");
}

bool ApplyInquiry(const Field& field, BridgeConfig& config) {
  static constexpr std::array<std::string_view, 4> kKeys{"vendor", "product", "revision", "tag"};
  InquiryConfig& inquiry = config.inquiry;
  if (field.value().is_null()) {
    inquiry.fails = true;
    return true;
  }
  if (!field.value().is_object())
    return field.Expected("an object with vendor, product, revision or tag, or null");
  inquiry.fails = false;
  return OnlyKnownKeys(field, kKeys) &&
         ReadMemberText(field, "vendor", kVendorLength, inquiry.vendor) &&
         ReadMemberText(field, "product", kProductLength, inquiry.product) &&
         ReadMemberText(field, "revision", kRevisionLength, inquiry.revision) &&
         ReadInquiryTag(field, inquiry.chipTag);
}

/// Identity bytes are answered exactly as given, whatever the firmware and ROM fields say.
bool ReadIdentity(const Field& field, std::optional<IdentityConfig>& identity) {
  if (field.value().is_null()) {
    identity.reset();
    return true;
  }
  std::array<std::uint8_t, kIdentityLength> bytes{};
  if (!ReadHexArray(field, bytes)) return false;
  identity = IdentityConfig{.bytes = bytes};
  return true;
}

bool ApplyIdentity(const Field& field, BridgeConfig& config) {
  return ReadIdentity(field, config.identity);
}

bool ApplyIdentityAlt(const Field& field, BridgeConfig& config) {
  return ReadIdentity(field, config.identityAlt);
}

bool ApplyFlashType(const Field& field, BridgeConfig& config) {
  if (field.value().is_null()) {
    config.flashType.reset();
    return true;
  }
  std::array<std::uint8_t, kFlashTypeLength> bytes{};
  if (!ReadHexArray(field, bytes)) return false;
  config.flashType = bytes;
  return true;
}

bool ApplyConfigWord(const Field& field, BridgeConfig& config) {
  if (field.value().is_null()) {
    config.configWord.reset();
    return true;
  }
  std::uint64_t word = 0;
  if (!ReadInteger(field, 0, kMaxWord, word, " or null")) return false;
  // The host reads the two bytes as a little-endian word.
  config.configWord = {static_cast<std::uint8_t>(word & 0xFF),
                       static_cast<std::uint8_t>(word >> 8)};
  return true;
}

bool ReadBufferOne(const Field& field, BufferOneConfig& buffer) {
  static constexpr std::array<std::string_view, 2> kKeys{"boundary", "data"};
  if (!field.value().is_object())
    return field.Expected("an object with boundary and data, or null");
  if (!OnlyKnownKeys(field, kKeys)) return false;
  if (!field.Has("boundary")) return field.Missing("boundary", IntegerRange(0, kMaxByteValue));
  if (!field.Has("data")) return field.Missing("data", "hex of the buffer's bytes");
  std::uint64_t boundary = 0;
  if (!ReadInteger(field.Member("boundary"), 0, kMaxByteValue, boundary)) return false;
  buffer.boundary = static_cast<std::uint8_t>(boundary);
  return ReadHex(field.Member("data"), kMaxBufferOne, Width::AtMost, buffer.data);
}

bool ApplyBufferOne(const Field& field, BridgeConfig& config) {
  if (field.value().is_null()) {
    config.bufferOne.reset();
    return true;
  }
  BufferOneConfig buffer;
  if (!ReadBufferOne(field, buffer)) return false;
  config.bufferOne = std::move(buffer);
  return true;
}

bool ApplyChipTag(const Field& field, BridgeConfig& config) {
  if (field.value().is_null()) {
    config.chipTag.reset();
    return true;
  }
  std::string tag;
  if (!ReadText(field, kChipTagLength, Width::AtMost, tag, " or null")) return false;
  config.chipTag = std::move(tag);
  return true;
}

bool ApplyVendorB5(const Field& field, BridgeConfig& config) {
  if (field.value().is_null()) {
    config.vendorB5 = false;
    return true;
  }
  return ReadBool(field, config.vendorB5);
}

bool ApplyMemoryFdb1(const Field& field, BridgeConfig& config) {
  std::uint64_t value = 0;
  if (!ReadInteger(field, 0, kMaxByteValue, value)) return false;
  config.memoryFdb1 = static_cast<std::uint8_t>(value);
  return true;
}

bool ApplyBusyReads(const Field& field, BridgeConfig& config) {
  std::uint64_t reads = 0;
  if (!ReadInteger(field, 0, kMaxBusyReads, reads)) return false;
  config.busyReads = static_cast<unsigned>(reads);
  return true;
}

bool ApplyLatency(const Field& field, BridgeConfig& config) {
  std::uint64_t micros = 0;
  if (!ReadInteger(field, 0, kMaxLatencyUs, micros)) return false;
  config.latency = std::chrono::microseconds(micros);
  return true;
}

/// The whole record, so that a saved enclosure comes back with exactly the record it had.
bool ApplyNvram(const Field& field, BridgeConfig& config) {
  std::vector<std::uint8_t> bytes;
  if (!ReadHex(field, kNvramRecordSize, Width::Exactly, bytes)) return false;
  std::ranges::copy(bytes, config.nvramRecord.begin());
  return true;
}

// ---- What the host knows of a disk -------------------------------------------------------------

constexpr std::array kAccess{
    Choice<bool>{"granted", false},
    Choice<bool>{"denied", true},
};

bool ApplyAccess(const Field& field, DiskHost& host) {
  return ReadChoice(field, kAccess, host.accessDenied);
}

bool ApplyMounted(const Field& field, DiskHost& host) {
  if (field.value().is_null()) {
    host.mountPoint.clear();
    return true;
  }
  // An empty mount point would read as "nothing mounted" and hide what the author meant.
  if (!field.value().is_string() || Text(field).empty()) {
    return field.Expected("the mount point as a non-empty string, or null");
  }
  host.mountPoint = Text(field);
  return true;
}

/// An hour: long enough for any demonstration of a program that waits.
constexpr std::uint64_t kMaxPlugInAfterMs = 3'600'000;

bool ApplyPlugInAfter(const Field& field, DiskHost& host) {
  std::uint64_t millis = 0;
  if (!ReadInteger(field, 0, kMaxPlugInAfterMs, millis)) return false;
  host.plugInAfter = std::chrono::milliseconds(millis);
  return true;
}

bool ApplyReplugAfter(const Field& field, DiskHost& host) {
  std::uint64_t millis = 0;
  if (!ReadInteger(field, 0, kMaxPlugInAfterMs, millis)) return false;
  host.replugAfter = std::chrono::milliseconds(millis);
  return true;
}

bool ApplyReplugInto(const Field& field, DiskHost& host) {
  const std::string text = field.value().is_string() ? Text(field) : std::string();
  if (text == "flash" || text == "rom") {
    host.replugInto = text == "rom" ? ReplugInto::BootRom : ReplugInto::Flash;
    return true;
  }
  const auto version = ParseVersion(text);
  if (!version) return field.Expected(R"("flash", "rom" or a version "a.b.c.d")");
  host.replugInto = ReplugInto::Version;
  host.replugVersion = *version;
  return true;
}

// ---- Faults ----------------------------------------------------------------------------------

constexpr std::array kEffects{
    Choice<FaultEffect>{"fail", FaultEffect::Fail},
    Choice<FaultEffect>{"refuse", FaultEffect::Refuse},
    Choice<FaultEffect>{"busy", FaultEffect::Busy},
    Choice<FaultEffect>{"corrupt", FaultEffect::Corrupt},
    Choice<FaultEffect>{"vanish", FaultEffect::Vanish},
    Choice<FaultEffect>{"late", FaultEffect::Late},
};

/// Counts every command the disk receives instead of those of one operation.
constexpr std::string_view kAnyCommand = "any";

bool ReadCommand(const Field& field, Fault& fault) {
  if (field.value().is_string() && Text(field) == kAnyCommand) {
    fault.anyCommand = true;
    return true;
  }
  const auto found = field.value().is_string() ? OperationFromName(Text(field)) : std::nullopt;
  if (found) {
    fault.operation = *found;
    return true;
  }
  std::vector<std::string_view> names;
  for (std::size_t i = 0; i < kOperationCount; ++i) {
    names.push_back(OperationName(static_cast<Operation>(i)));
  }
  names.push_back(kAnyCommand);
  return field.Expected("one of " + Listed(names, false));
}

bool ReadFaultCount(const Field& fault, unsigned& nth) {
  if (!fault.Has("nth")) return true;  // the first such command
  std::uint64_t value = 0;
  if (!ReadInteger(fault.Member("nth"), 1, kMaxNth, value)) return false;
  nth = static_cast<unsigned>(value);
  return true;
}

bool ReadFaultByte(const Field& fault, FaultEffect effect, std::size_t& byte) {
  if (!fault.Has("byte")) return true;
  const Field field = fault.Member("byte");
  if (effect != FaultEffect::Corrupt) return field.Fail(R"(only a "corrupt" fault takes a byte)");
  std::uint64_t value = 0;
  if (!ReadInteger(field, 0, kMaxFaultByte, value)) return false;
  byte = static_cast<std::size_t>(value);
  return true;
}

// A late answer is meant to outlast the host's time-out, not to stall a run for good.
constexpr std::uint64_t kMaxDelayMs = 600'000;

bool ReadFaultDelay(const Field& fault, FaultEffect effect, std::chrono::milliseconds& delay) {
  const bool late = effect == FaultEffect::Late;
  if (!fault.Has("delay_ms")) {
    return late ? fault.Missing("delay_ms", "the delay in milliseconds") : true;
  }
  const Field field = fault.Member("delay_ms");
  if (!late) return field.Fail(R"(only a "late" fault takes a delay)");
  std::uint64_t value = 0;
  if (!ReadInteger(field, 1, kMaxDelayMs, value)) return false;
  delay = std::chrono::milliseconds(value);
  return true;
}

bool ReadFault(const Field& field, Fault& fault) {
  static constexpr std::array<std::string_view, 5> kKeys{"command", "nth", "effect", "byte",
                                                         "delay_ms"};
  if (!field.value().is_object()) return field.Expected("an object with command, nth and effect");
  if (!OnlyKnownKeys(field, kKeys)) return false;
  if (!field.Has("command")) {
    return field.Missing("command", R"(an operation such as "ReadNvram", or "any")");
  }
  if (!field.Has("effect"))
    return field.Missing("effect", R"("fail", "refuse", "busy", "corrupt", "vanish" or "late")");
  return ReadCommand(field.Member("command"), fault) &&
         ReadChoice(field.Member("effect"), kEffects, fault.effect) &&
         ReadFaultCount(field, fault.nth) && ReadFaultByte(field, fault.effect, fault.byte) &&
         ReadFaultDelay(field, fault.effect, fault.delay);
}

bool ApplyFaults(const Field& field, BridgeConfig& config) {
  if (!field.value().is_array()) return field.Expected("a list of faults");
  std::vector<Fault> faults;
  for (std::size_t i = 0; i < field.value().size(); ++i) {
    Fault fault;
    const Field item = field.Item(i);
    if (!ReadFault(item, fault)) return false;
    // The bridge applies the first fault that matches; a second one would never strike.
    const auto earlier =
        std::ranges::find_if(faults, [&](const Fault& other) { return SameTarget(other, fault); });
    if (earlier != faults.end()) {
      return item.Fail("a second fault on the same command and nth as faults[" +
                       std::to_string(earlier - faults.begin()) + "]");
    }
    faults.push_back(fault);
  }
  config.faults = std::move(faults);
  return true;
}

// ---- Disks -----------------------------------------------------------------------------------

constexpr std::array kBridgeKinds{
    Choice<BridgeKind>{"jms583", BridgeKind::Jms583},
    Choice<BridgeKind>{"jms578", BridgeKind::Jms578},
    Choice<BridgeKind>{"none", BridgeKind::None},
    Choice<BridgeKind>{"custom", BridgeKind::Custom},
};

/// A disk with no bridge of ours in front: a USB stick or an internal disk.
BridgeConfig PlainDisk() {
  BridgeConfig config;
  config.vendorCommands = false;
  config.inquiry = {
      .vendor = "Generic ", .product = "Flash Disk", .revision = "1.00", .chipTag = ""};
  return config;
}

}  // namespace

std::string_view BridgeKindName(BridgeKind kind) {
  const auto found = std::ranges::find(kBridgeKinds, kind, &Choice<BridgeKind>::value);
  return found == kBridgeKinds.end() ? std::string_view() : found->name;
}

BridgeConfig KindDefaults(BridgeKind kind) {
  switch (kind) {
    case BridgeKind::Jms578:
      return DefaultConfig(Chip::Jms578);
    case BridgeKind::None:
      return PlainDisk();
    case BridgeKind::Custom:
      // Answers INQUIRY; every optional answer of the configuration starts absent.
      return BridgeConfig{};
    case BridgeKind::Jms583:
      break;
  }
  return DefaultConfig(Chip::Jms583);
}

namespace {

using Apply = bool (*)(const Field&, BridgeConfig&);

struct Override {
  std::string_view key;
  Apply apply;
};

constexpr std::array kOverrides{
    Override{"firmware", ApplyFirmware},
    Override{"rom_mode", ApplyRomMode},
    Override{"inquiry", ApplyInquiry},
    Override{"identity", ApplyIdentity},
    Override{"identity_alt", ApplyIdentityAlt},
    Override{"flash_type", ApplyFlashType},
    Override{"config_word", ApplyConfigWord},
    Override{"buffer1", ApplyBufferOne},
    Override{"chip_tag", ApplyChipTag},
    Override{"b5", ApplyVendorB5},
    Override{"memory_fdb1", ApplyMemoryFdb1},
    Override{"busy_reads", ApplyBusyReads},
    Override{"latency_us", ApplyLatency},
    Override{"nvram", ApplyNvram},
    Override{"faults", ApplyFaults},
};

using ApplyHost = bool (*)(const Field&, DiskHost&);

struct HostKey {
  std::string_view key;
  ApplyHost apply;
};

constexpr std::array kHostKeys{
    HostKey{"access", ApplyAccess},
    HostKey{"mounted", ApplyMounted},
    HostKey{"plug_in_after_ms", ApplyPlugInAfter},
    HostKey{"replug_after_ms", ApplyReplugAfter},
    HostKey{"replug_into", ApplyReplugInto},
};

constexpr auto kDiskKeys = [] {
  std::array<std::string_view, 2 + kHostKeys.size() + kOverrides.size()> keys{"path", "bridge"};
  const auto next = std::ranges::transform(kHostKeys, keys.begin() + 2, &HostKey::key).out;
  std::ranges::transform(kOverrides, next, &Override::key);
  return keys;
}();

bool ReadPath(const Field& disk, std::string& path) {
  if (!disk.Has("path")) return disk.Missing("path", "the disk's interface path");
  const Field field = disk.Member("path");
  if (!field.value().is_string() || Text(field).empty()) {
    return field.Expected("the disk's interface path as a non-empty string");
  }
  path = Text(field);
  return true;
}

bool ReadDisk(const Field& field, ScenarioDisk& disk) {
  if (!field.value().is_object()) return field.Expected("an object with a path and a bridge");
  if (!OnlyKnownKeys(field, kDiskKeys) || !ReadPath(field, disk.path)) return false;
  disk.kind = BridgeKind::Jms583;
  if (field.Has("bridge") && !ReadChoice(field.Member("bridge"), kBridgeKinds, disk.kind)) {
    return false;
  }
  disk.bridge = KindDefaults(disk.kind);
  for (const HostKey& entry : kHostKeys) {
    if (field.Has(entry.key) && !entry.apply(field.Member(entry.key), disk.host)) return false;
  }
  for (const Override& entry : kOverrides) {
    if (field.Has(entry.key) && !entry.apply(field.Member(entry.key), disk.bridge)) return false;
  }
  return true;
}

/// The bus names disks without regard to case, so two such paths would be one disk.
bool SamePath(std::string_view a, std::string_view b) { return SameIgnoringCase(a, b); }

bool ReadDisks(const Field& field, std::vector<ScenarioDisk>& disks) {
  if (!field.value().is_array()) return field.Expected("a list of disks");
  for (std::size_t i = 0; i < field.value().size(); ++i) {
    ScenarioDisk disk;
    if (!ReadDisk(field.Item(i), disk)) return false;
    const auto same = std::ranges::find_if(
        disks, [&](const ScenarioDisk& other) { return SamePath(other.path, disk.path); });
    if (same != disks.end()) {
      return field.Item(i).Member("path").Fail("the same disk as disks[" +
                                               std::to_string(same - disks.begin()) +
                                               "] (paths match whatever the letter case)");
    }
    disks.push_back(std::move(disk));
  }
  return true;
}

bool ReadScenario(const Field& root, Scenario& scenario) {
  static constexpr std::array<std::string_view, 1> kKeys{"disks"};
  if (!root.value().is_object()) return root.Expected(R"(an object {"disks": [...]})");
  if (!OnlyKnownKeys(root, kKeys)) return false;
  if (!root.Has("disks")) return root.Missing("disks", "a list of disks");
  return ReadDisks(root.Member("disks"), scenario.disks);
}

// ---- JSON text -------------------------------------------------------------------------------

/// Line and column, from 1, of the byte a parse error names (the last one read, from 1).
std::pair<std::size_t, std::size_t> LineAndColumn(std::string_view text, std::size_t byte) {
  const std::string_view before = text.substr(0, std::min(byte == 0 ? 0 : byte - 1, text.size()));
  const std::size_t lineStart = before.rfind('\n');
  const auto line = static_cast<std::size_t>(std::ranges::count(before, '\n')) + 1;
  const std::size_t column =
      lineStart == std::string_view::npos ? before.size() + 1 : before.size() - lineStart;
  return {line, column};
}

/// The parser's reason without its prefix and position, which the message gives its own way.
std::string_view Reason(std::string_view what) {
  const std::size_t column = what.find(", column ");
  const std::size_t colon = what.find(": ", column == std::string_view::npos ? 0 : column);
  return colon == std::string_view::npos ? what : what.substr(colon + 2);
}

ScenarioError SyntaxError(std::string_view text, std::string_view source,
                          const Json::parse_error& error) {
  const auto [line, column] = LineAndColumn(text, error.byte);
  return Error(source, "line " + std::to_string(line) + ", column " + std::to_string(column),
               "not valid JSON: " + std::string(Reason(error.what())));
}

/// Parses the text and notes a key given twice in one object: the parser would keep only the
/// last, and half of what the author wrote would be lost without a word.
Json ParseJson(std::string_view text, std::string& duplicateKey) {
  std::vector<std::set<std::string>> open;
  const Json::parser_callback_t watch = [&](int, Json::parse_event_t event, Json& parsed) {
    if (event == Json::parse_event_t::object_start) open.emplace_back();
    if (event == Json::parse_event_t::object_end && !open.empty()) open.pop_back();
    if (event == Json::parse_event_t::key && !open.empty() &&
        !open.back().insert(parsed.get<std::string>()).second && duplicateKey.empty()) {
      duplicateKey = parsed.get<std::string>();
    }
    return true;
  };
  return Json::parse(text.begin(), text.end(), watch);
}

std::variant<Scenario, ScenarioError> Parse(std::string_view text, std::string_view source) {
  std::string duplicateKey;
  Json document;
  try {
    document = ParseJson(text, duplicateKey);
  } catch (const Json::parse_error& error) {
    return SyntaxError(text, source, error);
  }
  if (!duplicateKey.empty()) {
    return Error(source, "", "the key \"" + duplicateKey + "\" appears twice in one object");
  }
  Problem problem;
  Scenario scenario;
  if (!ReadScenario(Field(document, "", problem), scenario)) {
    return Error(source, problem.at, problem.what);
  }
  return scenario;
}

// ---- Files -----------------------------------------------------------------------------------

std::string NotFound() {
  return "no such file, and no built-in scenario has that name (" +
         Listed(BuiltInScenarioNames(), false) + ")";
}

std::optional<ScenarioError> ReadFile(std::string_view name, std::string& text) {
  const std::filesystem::path path{std::string(name)};
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (status.type() == std::filesystem::file_type::not_found) return Error(name, "", NotFound());
  if (code) return Error(name, "", "cannot be examined: " + code.message());
  if (std::filesystem::is_directory(status)) return Error(name, "", "is a folder, not a file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Error(name, "", "cannot be opened for reading");
  std::vector<char> chunk(kReadChunk);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxFileSize) return Error(name, "", "larger than 16 MiB: not a scenario");
  }
  if (in.bad()) return Error(name, "", "could not be read to the end");
  return std::nullopt;
}

// ---- After a replug ----------------------------------------------------------------------------

/// The disk as a replug of its bridge leaves it; the bridge on the bus is copied, never touched.
ScenarioDisk Replugged(const ScenarioDisk& disk, const SimulatedBus& bus) {
  const SimulatedBridge* onBus = bus.Find(disk.path);
  if (onBus == nullptr) return disk;
  SimulatedBridge bridge = *onBus;
  ScenarioDisk after = disk;
  // A disk whose scenario replugs it after its update runs what the scenario says, as the run
  // that waited for it reported; that replug has happened, so the next one boots the flash.
  if (disk.host.replugAfter && bridge.flashWritten()) {
    ReplugAfterUpdate(bridge, disk.host);
    after.host.replugInto = ReplugInto::Flash;
    after.host.replugVersion = {};
  } else {
    bridge.Replug();
  }
  // A bridge without a firmware area (a plain disk, most custom ones) has nothing to boot from,
  // so what it runs is what the scenario said, not what an empty flash would give.
  if (!bridge.flash().empty()) {
    after.bridge.romMode = bridge.runState() == RunState::BootRom;
    after.bridge.firmwareVersion = bridge.runningVersion();
  }
  std::ranges::copy(bridge.nvramRecord(), after.bridge.nvramRecord.begin());
  after.bridge.faults.clear();
  // Plugged in again, it is there from the start.
  after.host.plugInAfter = {};
  return after;
}

}  // namespace

std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text,
                                                    std::string_view source) {
  try {
    return Parse(text, source);
  } catch (const std::exception& error) {
    return Error(source, "", std::string("could not be read: ") + error.what());
  }
}

std::variant<Scenario, ScenarioError> LoadScenario(std::string_view nameOrPath) {
  if (const auto builtIn = BuiltInScenarioText(nameOrPath)) {
    return ParseScenario(*builtIn, nameOrPath);
  }
  try {
    std::string text;
    if (auto error = ReadFile(nameOrPath, text)) return *std::move(error);
    return ParseScenario(text, nameOrPath);
  } catch (const std::exception& error) {
    return Error(nameOrPath, "", std::string("could not be read: ") + error.what());
  }
}

void PlugIn(const Scenario& scenario, SimulatedBus& bus) {
  PlugInDue(scenario, bus, std::chrono::microseconds{0});
}

void PlugInDue(const Scenario& scenario, SimulatedBus& bus, std::chrono::microseconds now) {
  for (const ScenarioDisk& disk : scenario.disks) {
    if (disk.host.plugInAfter <= now && bus.Host(disk.path) == nullptr) {
      bus.AddDisk(disk.path, SimulatedBridge(disk.bridge), disk.host);
    }
  }
}

std::optional<std::chrono::microseconds> NextPlugIn(const Scenario& scenario,
                                                    const SimulatedBus& bus) {
  std::optional<std::chrono::microseconds> next;
  for (const ScenarioDisk& disk : scenario.disks) {
    if (bus.Host(disk.path) != nullptr) continue;
    const std::chrono::microseconds at = disk.host.plugInAfter;
    if (!next || at < *next) next = at;
  }
  return next;
}

Scenario ScenarioAfterReplug(const Scenario& original, const SimulatedBus& bus) {
  Scenario replugged;
  for (const ScenarioDisk& disk : original.disks) {
    replugged.disks.push_back(Replugged(disk, bus));
  }
  return replugged;
}

std::vector<DiskInterface> SimulatedDiskLister::ListDisks() {
  std::vector<DiskInterface> disks;
  for (const std::string& path : bus_.Paths()) {
    const SimulatedBridge* bridge = bus_.Find(path);
    // A disk that vanished during a command has left the platform's list.
    if (bridge == nullptr || !bridge->present()) continue;
    disks.push_back({path, MarksFromPath(path)});
  }
  return disks;
}

}  // namespace korvane::sim
