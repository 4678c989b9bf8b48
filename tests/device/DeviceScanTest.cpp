#include "DeviceScan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimulatedBus.h"
#include "SimulatedClock.h"
#include "Text.h"
#include "app/FormRig.h"

namespace korvane {
namespace {

constexpr std::string_view kUsbPath = R"(\\?\usbstor#Disk&Ven_Korvane&Prod_NVMe#0001&0#{53f5})";
constexpr std::string_view kUaspPath = R"(\\?\scsi#disk&ven_korvane&prod_sata#0002&0#{53f5})";
constexpr std::string_view k1394Path = R"(\\?\sbp2#disk&ven_korvane&prod_sata#0003&0#{53f5})";
constexpr std::string_view kStickPath = R"(\\?\usbstor#disk&ven_generic&prod_stick#0004&0#{53f5})";

/// Lists the disks of the bus in the order they were plugged in.
class BusLister final : public DiskLister {
 public:
  explicit BusLister(sim::SimulatedBus& bus) : bus_(bus) {}
  std::vector<DiskInterface> ListDisks() override {
    std::vector<DiskInterface> disks;
    for (const std::string& path : bus_.Paths()) disks.push_back({path, MarksFromPath(path)});
    return disks;
  }

 private:
  sim::SimulatedBus& bus_;
};

struct NoMessages final : MessageSink {
  void ShowMessage(std::string_view, std::string_view, MessageIcon) override { ++shown; }
  int shown = 0;
};

sim::BridgeConfig Enclosure(sim::Chip chip, std::string vendor, std::string product) {
  sim::BridgeConfig config = sim::DefaultConfig(chip);
  config.inquiry.vendor = std::move(vendor);
  config.inquiry.product = std::move(product);
  return config;
}

using testing::UnknownBridge;

/// A simulated bus with its transport and lister.
struct Rig {
  ScanResult Scan() { return ScanBridgeDisks(lister, io, messages); }
  void Plug(std::string_view path, sim::BridgeConfig config) {
    bus.AddDisk(path, sim::SimulatedBridge(std::move(config)));
  }

  sim::SimulatedClock clock;
  sim::SimulatedBus bus{clock};
  Transport io{bus};
  BusLister lister{bus};
  NoMessages messages;
};

class DeviceScan : public ::testing::Test, protected Rig {};

TEST_F(DeviceScan, OneEnclosureIsListedWithItsBusTagAndFullModelText) {
  Plug(kUsbPath, Enclosure(sim::Chip::Jms583, "Korvane", "NVMe Enclosure"));
  const ScanResult result = Scan();
  EXPECT_EQ(result.enumeratedDiskCount, 1);
  ASSERT_EQ(result.listed.size(), 1u);
  const ListedDisk& disk = result.listed[0];
  EXPECT_EQ(disk.line, "<<USB>> Korvane NVMe Enclosure  ");
  EXPECT_EQ(disk.model.size(), kModelTextLength);
  EXPECT_EQ(disk.path, AsciiLower(kUsbPath));
  EXPECT_EQ(disk.path.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
  EXPECT_EQ(ChipCodeOf(disk.bridgeInfo), kChipCodeJms583);
  EXPECT_EQ(result.currentBridgeInfo, disk.bridgeInfo);
  EXPECT_EQ(messages.shown, 0);
}

TEST_F(DeviceScan, BusTagsFollowThePath) {
  Plug(kUaspPath, Enclosure(sim::Chip::Jms578, "Korvane", "SATA"));
  Plug(k1394Path, Enclosure(sim::Chip::Jms578, "Korvane", "SATA"));
  Plug(kUsbPath, Enclosure(sim::Chip::Jms583, "Korvane", "NVMe"));
  const ScanResult result = Scan();
  ASSERT_EQ(result.listed.size(), 3u);
  EXPECT_EQ(result.listed[0].line.substr(0, 9), "<<UASP>> ");
  EXPECT_EQ(result.listed[0].bus, Bus::Uasp);
  EXPECT_EQ(result.listed[1].line.substr(0, 9), "<<1394>> ");
  EXPECT_EQ(result.listed[2].line.substr(0, 8), "<<USB>> ");
}

TEST(DeviceScanOrder, AnUnrecognisedCandidateIsCountedButNotListedInEitherOrder) {
  for (const bool enclosureFirst : {true, false}) {
    Rig rig;
    if (enclosureFirst) rig.Plug(kUsbPath, Enclosure(sim::Chip::Jms583, "Korvane", "NVMe"));
    rig.Plug(kStickPath, UnknownBridge());
    if (!enclosureFirst) rig.Plug(kUsbPath, Enclosure(sim::Chip::Jms583, "Korvane", "NVMe"));

    const ScanResult result = rig.Scan();
    EXPECT_EQ(result.enumeratedDiskCount, 2);
    ASSERT_EQ(result.listed.size(), 1u);
    EXPECT_EQ(result.listed[0].path, AsciiLower(kUsbPath));
    // The last disk examined decides the current identification.
    EXPECT_EQ(ChipCodeOf(result.currentBridgeInfo), enclosureFirst ? 0 : kChipCodeJms583);
    EXPECT_EQ(result.unlistedPath, enclosureFirst ? std::string(kStickPath) : "");
  }
}

TEST_F(DeviceScan, DiskWhoseInquiryFailsIsListedWithoutAModelText) {
  Plug(kUsbPath, Enclosure(sim::Chip::Jms583, "Korvane", "First"));
  sim::BridgeConfig silent = UnknownBridge();
  silent.inquiry.fails = true;
  silent.chipTag = "j335C0";  // recognised by its chip tag alone
  Plug(kUaspPath, silent);
  const ScanResult result = Scan();
  ASSERT_EQ(result.listed.size(), 2u);
  EXPECT_EQ(result.listed[1].line, "<<UASP>> ");
  EXPECT_EQ(ChipCodeOf(result.listed[1].bridgeInfo), 1);
}

TEST_F(DeviceScan, NothingAttachedGivesAnEmptyScan) {
  const ScanResult result = Scan();
  EXPECT_EQ(result.enumeratedDiskCount, 0);
  EXPECT_TRUE(result.listed.empty());
  EXPECT_EQ(result.currentBridgeInfo, 0);
}

TEST(ModelText, StopsAtTheFirstZeroByteAndKeepsBlanks) {
  std::array<std::uint8_t, 40> inquiry{};
  const std::string_view text = "Korvane NVMe    ";
  std::ranges::copy(text, inquiry.begin() + 8);
  EXPECT_EQ(ModelText(inquiry), text);
  std::ranges::fill(std::span(inquiry).subspan(8, 24), 'x');
  EXPECT_EQ(ModelText(inquiry), std::string(24, 'x'));
}

}  // namespace
}  // namespace korvane
