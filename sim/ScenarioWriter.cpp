#include "ScenarioWriter.h"

#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Text.h"

namespace korvane::sim {
namespace {

// Members keep the order they were added in, so that every save of a bus reads the same.
using Json = nlohmann::ordered_json;

constexpr unsigned kFirstCommand = 1;  // a fault without "nth" strikes the first command
constexpr std::string_view kAnyCommand = "any";
constexpr std::array<std::string_view, 6> kEffectNames{"fail",    "refuse", "busy",
                                                       "corrupt", "vanish", "late"};

std::string VersionText(const FirmwareVersion& version) {
  std::string text;
  for (const std::uint8_t number : version) {
    if (!text.empty()) text += '.';
    text += std::to_string(number);
  }
  return text;
}

template <typename T, typename Convert>
Json OrNull(const std::optional<T>& value, Convert convert) {
  return value ? Json(convert(*value)) : Json(nullptr);
}

/// Sets key to convert(now) when now differs from the bridge type's value.
template <typename T, typename Convert>
void IfChanged(Json& object, const char* key, const T& now, const T& base, Convert convert) {
  if (now != base) object[key] = convert(now);
}

const auto kSame = [](const auto& value) { return value; };

// ---- Keys of a disk, each written only where it differs from the bridge type ------------------

using Writer = void (*)(const BridgeConfig& now, const BridgeConfig& base, Json& disk);

void WriteInquiry(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  if (now.inquiry == base.inquiry) return;
  if (now.inquiry.fails) {
    disk["inquiry"] = nullptr;
    return;
  }
  Json inquiry = Json::object();
  IfChanged(inquiry, "vendor", now.inquiry.vendor, base.inquiry.vendor, kSame);
  IfChanged(inquiry, "product", now.inquiry.product, base.inquiry.product, kSame);
  IfChanged(inquiry, "revision", now.inquiry.revision, base.inquiry.revision, kSame);
  IfChanged(inquiry, "tag", now.inquiry.chipTag, base.inquiry.chipTag,
            [](const std::string& tag) { return tag.empty() ? Json(nullptr) : Json(tag); });
  disk["inquiry"] = std::move(inquiry);
}

/// An identity block has a key only as given bytes or as absent; one built field by field in
/// code has none, and the bridge type's block stands in for it.
void WriteIdentity(const char* key, const std::optional<IdentityConfig>& now,
                   const std::optional<IdentityConfig>& base, Json& disk) {
  if (now == base) return;
  if (!now) {
    disk[key] = nullptr;
  } else if (now->bytes) {
    disk[key] = HexText(*now->bytes, HexCase::Upper, " ");
  }
}

void WriteIdentities(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  WriteIdentity("identity", now.identity, base.identity, disk);
  WriteIdentity("identity_alt", now.identityAlt, base.identityAlt, disk);
}

void WriteFlashType(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  IfChanged(disk, "flash_type", now.flashType, base.flashType, [](const auto& type) {
    return OrNull(type, [](const auto& b) { return HexText(b, HexCase::Upper, " "); });
  });
}

void WriteConfigWord(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  // The host reads the two bytes as a little-endian word.
  const auto word = [](const std::array<std::uint8_t, 2>& bytes) {
    return static_cast<unsigned>(bytes[0] | bytes[1] << 8);
  };
  IfChanged(disk, "config_word", now.configWord, base.configWord,
            [&](const auto& bytes) { return OrNull(bytes, word); });
}

void WriteBufferOne(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  const auto buffer = [](const BufferOneConfig& one) {
    Json json = Json::object();
    json["boundary"] = one.boundary;
    json["data"] = HexText(one.data, HexCase::Upper, " ");
    return json;
  };
  IfChanged(disk, "buffer1", now.bufferOne, base.bufferOne,
            [&](const auto& one) { return OrNull(one, buffer); });
}

void WriteChipTag(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  IfChanged(disk, "chip_tag", now.chipTag, base.chipTag,
            [](const auto& tag) { return OrNull(tag, kSame); });
}

void WriteCounts(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  IfChanged(disk, "b5", now.vendorB5, base.vendorB5, kSame);
  IfChanged(disk, "memory_fdb1", now.memoryFdb1, base.memoryFdb1, kSame);
  IfChanged(disk, "busy_reads", now.busyReads, base.busyReads, kSame);
  IfChanged(disk, "latency_us", now.latency, base.latency,
            [](std::chrono::microseconds latency) { return latency.count(); });
}

void WriteNvram(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  IfChanged(disk, "nvram", now.nvramRecord, base.nvramRecord,
            [](const NvramRecord& record) { return HexText(record, HexCase::Upper, " "); });
}

Json FaultJson(const Fault& fault) {
  Json json = Json::object();
  json["command"] = std::string(fault.anyCommand ? kAnyCommand : OperationName(fault.operation));
  if (fault.nth != kFirstCommand) json["nth"] = fault.nth;
  json["effect"] = std::string(kEffectNames.at(static_cast<std::size_t>(fault.effect)));
  // Only a damaging fault takes a byte; the reader refuses it on any other.
  if (fault.effect == FaultEffect::Corrupt && fault.byte != 0) json["byte"] = fault.byte;
  if (fault.effect == FaultEffect::Late) json["delay_ms"] = fault.delay.count();
  return json;
}

void WriteFaults(const BridgeConfig& now, const BridgeConfig& base, Json& disk) {
  IfChanged(disk, "faults", now.faults, base.faults, [](const std::vector<Fault>& faults) {
    Json list = Json::array();
    for (const Fault& fault : faults) list.push_back(FaultJson(fault));
    return list;
  });
}

// The order of the keys in the file; the long NVRAM record and the faults of one run come last.
constexpr std::array<Writer, 9> kWriters{
    WriteInquiry, WriteIdentities, WriteFlashType, WriteConfigWord, WriteBufferOne,
    WriteChipTag, WriteCounts,     WriteNvram,     WriteFaults,
};

void WriteHost(const DiskHost& host, Json& disk) {
  if (host.accessDenied) disk["access"] = "denied";
  if (!host.mountPoint.empty()) disk["mounted"] = host.mountPoint;
  if (host.plugInAfter.count() != 0) disk["plug_in_after_ms"] = host.plugInAfter.count();
  if (host.replugAfter) disk["replug_after_ms"] = host.replugAfter->count();
  if (host.replugInto == ReplugInto::BootRom) disk["replug_into"] = "rom";
  if (host.replugInto == ReplugInto::Version) disk["replug_into"] = VersionText(host.replugVersion);
}

Json DiskJson(const ScenarioDisk& disk) {
  const BridgeConfig base = KindDefaults(disk.kind);
  Json json = Json::object();
  json["path"] = disk.path;
  json["bridge"] = std::string(BridgeKindName(disk.kind));
  json["firmware"] = VersionText(disk.bridge.firmwareVersion);
  json["rom_mode"] = disk.bridge.romMode;
  WriteHost(disk.host, json);
  for (const Writer write : kWriters) write(disk.bridge, base, json);
  return json;
}

}  // namespace

std::string ScenarioJson(const Scenario& scenario) {
  Json disks = Json::array();
  for (const ScenarioDisk& disk : scenario.disks) disks.push_back(DiskJson(disk));
  Json root = Json::object();
  root["disks"] = std::move(disks);
  // Text that is not UTF-8 cannot come from a scenario file; from code it is replaced, not thrown.
  return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace korvane::sim
