#include "ScenarioWriter.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace korvane::sim {
namespace {

Scenario Parsed(std::string_view text) {
  auto result = ParseScenario(text, "written.json");
  if (const auto* error = std::get_if<ScenarioError>(&result)) {
    ADD_FAILURE() << error->message << "\n" << text;
    return {};
  }
  return std::get<Scenario>(std::move(result));
}

/// Writes the scenario, reads it back and expects the same disks, and the same text when written
/// again.
void ExpectRoundTrip(const Scenario& scenario) {
  const std::string text = ScenarioJson(scenario);
  const Scenario again = Parsed(text);
  ASSERT_EQ(again.disks.size(), scenario.disks.size()) << text;
  for (std::size_t i = 0; i < scenario.disks.size(); ++i) {
    SCOPED_TRACE("disk " + std::to_string(i));
    const ScenarioDisk& before = scenario.disks[i];
    const ScenarioDisk& after = again.disks[i];
    EXPECT_EQ(after.path, before.path);
    EXPECT_EQ(after.kind, before.kind);
    EXPECT_EQ(after.host, before.host);
    EXPECT_TRUE(after.bridge == before.bridge) << text;
  }
  EXPECT_EQ(ScenarioJson(again), text);
}

/// Bytes as hex digits without blanks, in lower case: the reader takes any spelling.
std::string HexOf(std::span<const std::uint8_t> bytes) {
  static constexpr std::string_view kDigits = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

/// A record of 512 bytes counting up from first.
std::string Hex512(std::uint8_t first) {
  NvramRecord record{};
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(first + i);
  return HexOf(record);
}

TEST(ScenarioWriter, BuiltInsReadBackTheSame) {
  for (const std::string_view name : BuiltInScenarioNames()) {
    SCOPED_TRACE(name);
    const auto loaded = LoadScenario(name);
    ASSERT_TRUE(std::holds_alternative<Scenario>(loaded));
    ExpectRoundTrip(std::get<Scenario>(loaded));
  }
}

TEST(ScenarioWriter, EveryKeyReadsBackTheSame) {
  const std::string text = R"({"disks": [
    {"path": "usbstor#a", "bridge": "jms583", "firmware": "1.2.3.4", "rom_mode": true,
     "access": "denied", "mounted": "/media/user/NVME", "plug_in_after_ms": 2500,
     "replug_after_ms": 4000, "replug_into": "0.0.1.3",
     "inquiry": {"vendor": "Korvane", "product": "NVMe Box", "revision": "0200", "tag": null},
     "identity": "00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff", "identity_alt": null,
     "flash_type": "02000000", "config_word": 4660,
     "buffer1": {"boundary": 9, "data": "DEADBEEF01"}, "chip_tag": "KV583", "b5": true,
     "memory_fdb1": 180, "busy_reads": 3, "latency_us": 250, "nvram": ")" +
                           Hex512(7) + R"(",
     "faults": [{"command": "WriteBuffer", "nth": 5, "effect": "vanish"},
                {"command": "any", "nth": 2, "effect": "busy"},
                {"command": "ReadBuffer", "effect": "corrupt", "byte": 700},
                {"command": "ReadNvram", "effect": "corrupt"},
                {"command": "Inquiry", "effect": "fail"},
                {"command": "ReadIdentity", "effect": "late", "delay_ms": 12000}]},
    {"path": "scsi#b", "bridge": "jms578", "inquiry": {"tag": "j578"}, "identity": null,
     "flash_type": null, "config_word": null, "buffer1": null, "chip_tag": null},
    {"path": "usbstor#c", "bridge": "none", "inquiry": null, "config_word": 1,
     "replug_into": "rom"},
    {"path": "usbstor#d", "bridge": "custom", "firmware": "0.1.2.0",
     "identity_alt": "F4 E7 15 2D 05 80 03 05 35 38 30 31 00 01 02 00", "b5": false}
  ]})";
  const Scenario scenario = Parsed(text);
  ASSERT_EQ(scenario.disks.size(), 4u);
  ExpectRoundTrip(scenario);

  // A key the reader learns later must join the text above, or the writer may miss it unseen.
  const auto unknown = ParseScenario(R"({"disks": [{"path": "a", "?": 0}]})", "keys.json");
  const std::string message = std::get<ScenarioError>(unknown).message;
  std::istringstream listed(message.substr(message.find("expected one of ") + 16));
  std::size_t count = 0;
  for (std::string key; std::getline(listed >> std::ws, key, ',');) {
    EXPECT_NE(text.find('"' + key + '"'), std::string::npos) << key;
    ++count;
  }
  EXPECT_GT(count, 10u) << message;
}

/// The keys of the first disk of written text, in order.
std::vector<std::string> KeysWritten(std::string_view members) {
  const Scenario scenario =
      Parsed(R"({"disks": [{"path": "usbstor#a", )" + std::string(members) + "}]}");
  const auto written = nlohmann::ordered_json::parse(ScenarioJson(scenario));
  std::vector<std::string> keys;
  for (const auto& item : written.at("disks").at(0).items()) keys.push_back(item.key());
  return keys;
}

TEST(ScenarioWriter, WritesOnlyWhatDiffersFromTheBridgeType) {
  using Keys = std::vector<std::string>;
  const Keys always{"path", "bridge", "firmware", "rom_mode"};
  const auto with = [&](std::initializer_list<std::string> more) {
    Keys keys = always;
    keys.insert(keys.end(), more);
    return keys;
  };
  const std::string factoryRecord = HexOf(DefaultConfig(Chip::Jms583).nvramRecord);
  const struct {
    std::string members;
    Keys keys;
  } cases[] = {
      {R"("bridge": "jms583")", always},
      // Values equal to the bridge type's defaults, spelt out.
      {R"("firmware": "0.0.0.8", "inquiry": {"vendor": "JMicron ", "tag": "j583"},
          "b5": null, "busy_reads": 0, "latency_us": 0, "memory_fdb1": 0, "faults": [],
          "access": "granted", "mounted": null, "config_word": 0, "flash_type": "01000000",
          "nvram": ")" +
           factoryRecord + "\"",
       always},
      {R"("bridge": "jms578", "inquiry": {"tag": null}, "chip_tag": null, "buffer1": null)",
       always},
      {R"("bridge": "custom", "identity": null, "config_word": null)", always},
      {R"("mounted": "/media/x", "faults": [{"command": "Inquiry", "effect": "fail"}],
          "nvram": ")" +
           Hex512(0) + R"(", "inquiry": {"product": "Box"}, "access": "denied")",
       with({"access", "mounted", "inquiry", "nvram", "faults"})},
      {R"("bridge": "none", "inquiry": {"vendor": "Korvane"})", with({"inquiry"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.members);
    EXPECT_EQ(KeysWritten(c.members), c.keys);
  }
}

TEST(ScenarioWriter, TextIsIndentedByTwoWithAFixedKeyOrder) {
  const Scenario scenario = Parsed(R"({"disks": [{"path": "\\\\?\\usbstor#a",
      "bridge": "jms578", "firmware": "0.2.1.4", "inquiry": {"vendor": "Korvane "},
      "faults": [{"command": "ReadBuffer", "nth": 3, "effect": "corrupt", "byte": 16}]}]})");
  EXPECT_EQ(ScenarioJson(scenario), R"({
  "disks": [
    {
      "path": "\\\\?\\usbstor#a",
      "bridge": "jms578",
      "firmware": "0.2.1.4",
      "rom_mode": false,
      "inquiry": {
        "vendor": "Korvane "
      },
      "faults": [
        {
          "command": "ReadBuffer",
          "nth": 3,
          "effect": "corrupt",
          "byte": 16
        }
      ]
    }
  ]
}
)");
}

TEST(ScenarioWriter, NoDisksIsAnEmptyList) {
  EXPECT_EQ(ScenarioJson(Scenario{}), "{\n  \"disks\": []\n}\n");
  EXPECT_TRUE(Parsed(ScenarioJson(Scenario{})).disks.empty());
}

}  // namespace
}  // namespace korvane::sim
