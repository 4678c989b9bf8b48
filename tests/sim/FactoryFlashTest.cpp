// The simulated bridge's factory flash against the update's own image check: a firmware area read
// back from a fresh bridge, with its NVRAM record after it, is what a backup of a real one holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "ChipUpdate.h"
#include "ImageCheck.h"
#include "SimulatedBridge.h"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(FactoryFlashTest, ReadsBackAsABackupOfTheConfiguredVersion) {
  const struct {
    const char* what;
    sim::Chip chip;
    std::uint8_t chipCode;
    std::optional<sim::FirmwareVersion> version;  ///< nothing: the chip's default
    Bytes versionBytes;
  } cases[] = {
      {"JMS583", sim::Chip::Jms583, kChipCodeJms583, std::nullopt, {0x00, 0x00, 0x00, 0x08}},
      {"JMS578", sim::Chip::Jms578, kChipCodeJms578, std::nullopt, {'0', '1', '0', '3'}},
      {"JMS583 1.2.3.4",
       sim::Chip::Jms583,
       kChipCodeJms583,
       sim::FirmwareVersion{1, 2, 3, 4},
       {0x01, 0x02, 0x03, 0x04}},
      {"JMS578 0.2.1.4",
       sim::Chip::Jms578,
       kChipCodeJms578,
       sim::FirmwareVersion{0, 2, 1, 4},
       {'0', '2', '1', '4'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ChipUpdate& chip = *FindChipUpdate(c.chipCode);
    sim::BridgeConfig config = sim::DefaultConfig(c.chip);
    if (c.version) config.firmwareVersion = *c.version;
    const sim::SimulatedBridge bridge(config);
    Bytes backup(bridge.flash().begin(), bridge.flash().end());
    backup.insert(backup.end(), bridge.nvramRecord().begin(), bridge.nvramRecord().end());

    EXPECT_EQ(FirmwareImageProblem(chip, backup, ImageJudgement::Backup), std::nullopt);
    const auto atHeader = ImageVersion(backup);
    ASSERT_TRUE(atHeader.has_value());
    EXPECT_TRUE(std::ranges::equal(*atHeader, c.versionBytes));
    const auto atEnd = std::span(backup).subspan(chip.firmwareArea - 0x14, 4);
    EXPECT_TRUE(std::ranges::equal(atEnd, c.versionBytes));
    EXPECT_EQ(bridge.runningVersion(), config.firmwareVersion);
  }
}

}  // namespace
}  // namespace korvane
