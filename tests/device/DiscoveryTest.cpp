#include "Discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimulatedBus.h"
#include "SimulatedClock.h"

namespace korvane {
namespace {

using sim::Operation;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

/// Lists exactly the interfaces it was given, marks from the path as on Windows.
class GivenLister final : public DiskLister {
 public:
  std::vector<DiskInterface> ListDisks() override { return disks; }
  void Add(std::string path) { disks.push_back({path, MarksFromPath(path)}); }
  std::vector<DiskInterface> disks;
};

std::string UsbPath(int n) { return R"(\\?\usbstor#disk&ven_k#)" + std::to_string(n); }

sim::BridgeConfig Enclosure() { return sim::DefaultConfig(sim::Chip::Jms583); }

/// Answers INQUIRY and rejects every vendor command.
sim::BridgeConfig PlainDisk() {
  sim::BridgeConfig config;
  config.vendorCommands = false;
  return config;
}

class Discovery : public ::testing::Test {
 protected:
  sim::SimulatedBridge& Plug(const std::string& path, sim::BridgeConfig config) {
    lister.Add(path);
    return bus.AddDisk(path, sim::SimulatedBridge(std::move(config)));
  }
  int Enumerate(bool include1394 = true) {
    return EnumerateBridgeDisks(lister, io, paths, include1394, &warnings);
  }
  static std::vector<Operation> Sent(const sim::SimulatedBridge& bridge) {
    std::vector<Operation> operations;
    for (const auto& command : bridge.log()) operations.push_back(command.operation);
    return operations;
  }

  sim::SimulatedClock clock;
  sim::SimulatedBus bus{clock};
  Transport io{bus};
  GivenLister lister;
  CandidatePaths paths{};
  std::vector<std::string> warnings;
};

TEST(InterfaceMarks, CandidateTestAndBusTagReadTheSubstringsInTheirOwnOrders) {
  struct Case {
    std::string_view path;
    bool with1394, without1394;
    std::string_view tag;
  };
  const Case cases[] = {
      {R"(\\?\usbstor#disk&ven_a)", true, true, "<<USB>> "},
      {R"(\\?\scsi#disk&ven_a)", true, true, "<<UASP>> "},
      {R"(\\?\sbp2#disk&ven_a)", true, false, "<<1394>> "},
      {R"(\\?\sbp2#usbstor)", true, true, "<<1394>> "},
      {R"(\\?\sbp2#scsi)", true, true, "<<1394>> "},
      {R"(\\?\usbstor#scsi)", true, true, "<<UASP>> "},
      {R"(\\?\ide#diskst3000)", false, false, "<<USB>> "},
      {R"(\\?\USBSTOR#DISK)", false, false, "<<USB>> "},  // the test is case-sensitive
  };
  for (const Case& c : cases) {
    const InterfaceMarks marks = MarksFromPath(c.path);
    EXPECT_EQ(IsCandidate(marks, true), c.with1394) << c.path;
    EXPECT_EQ(IsCandidate(marks, false), c.without1394) << c.path;
    EXPECT_EQ(BusTag(BusOf(marks)), c.tag) << c.path;
  }
}

TEST_F(Discovery, ProbeSendsInquiryThenTheIdentityRead) {
  sim::SimulatedBridge& bridge = Plug(UsbPath(1), Enclosure());
  EXPECT_TRUE(ProbeBridge(io, UsbPath(1)));
  ASSERT_THAT(Sent(bridge), ElementsAre(Operation::Inquiry, Operation::ReadIdentity));
  EXPECT_EQ(bridge.log()[0].cdb[4], 40);
}

TEST_F(Discovery, AcceptsWhatAnswersTheProbeOrTheConfigurationWord) {
  struct Case {
    const char* name;
    bool inquiryFails, identity, configWord, accepted;
  };
  const Case cases[] = {
      {"probe answered", false, true, false, true},
      {"identity rejected, word answered", false, false, true, true},
      {"INQUIRY fails, word answered", true, true, true, true},
      {"answers neither", false, false, false, false},
      {"INQUIRY fails and no word", true, true, false, false},
  };
  for (const Case& c : cases) {
    sim::BridgeConfig config;
    config.inquiry.fails = c.inquiryFails;
    if (c.identity) config.identity = sim::IdentityConfig{};
    if (c.configWord) config.configWord = std::array<std::uint8_t, 2>{0, 0};
    sim::SimulatedClock clock2;
    sim::SimulatedBus bus2{clock2};
    Transport io2{bus2};
    GivenLister lister2;
    lister2.Add(UsbPath(1));
    bus2.AddDisk(UsbPath(1), sim::SimulatedBridge(config));
    CandidatePaths found{};
    EXPECT_EQ(EnumerateBridgeDisks(lister2, io2, found, true), c.accepted ? 1 : 0) << c.name;
  }
}

TEST_F(Discovery, OnlyCandidatesAreProbed) {
  sim::SimulatedBridge& ide = Plug(R"(\\?\ide#disk&ven_wd)", Enclosure());
  sim::SimulatedBridge& firewire = Plug(R"(\\?\sbp2#disk&ven_k)", Enclosure());
  EXPECT_EQ(Enumerate(false), 0);
  EXPECT_TRUE(ide.log().empty());
  EXPECT_TRUE(firewire.log().empty());
  EXPECT_EQ(Enumerate(true), 1);
  EXPECT_TRUE(ide.log().empty());
  EXPECT_EQ(paths[0].path, R"(\\?\sbp2#disk&ven_k)");
}

TEST_F(Discovery, AcceptedDisksFillTheSlotsInOrderWithoutGaps) {
  Plug(UsbPath(1), Enclosure());
  Plug(UsbPath(2), PlainDisk());
  Plug(UsbPath(3), Enclosure());
  ASSERT_EQ(Enumerate(), 2);
  EXPECT_EQ(paths[0].path, UsbPath(1));
  EXPECT_EQ(paths[1].path, UsbPath(3));
  EXPECT_TRUE(paths[0].marks.usbStorage);
  EXPECT_TRUE(paths[2].path.empty());
  EXPECT_TRUE(warnings.empty());
}

TEST_F(Discovery, NothingPresentLeavesTheListUntouched) {
  paths[0].path = "left from before";
  EXPECT_EQ(Enumerate(), 0);
  EXPECT_EQ(paths[0].path, "left from before");
}

TEST_F(Discovery, StopsAtSixteenAndNeverProbesTheSeventeenth) {
  for (int n = 0; n < 16; ++n) Plug(UsbPath(n), Enclosure());
  sim::SimulatedBridge& seventeenth = Plug(UsbPath(16), Enclosure());
  EXPECT_EQ(Enumerate(), 16);
  EXPECT_EQ(paths[15].path, UsbPath(15));
  EXPECT_TRUE(seventeenth.log().empty());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], HasSubstr("16"));
}

TEST_F(Discovery, APathThatDoesNotFitASlotIsSkippedUnprobed) {
  const std::string longest = UsbPath(1) + std::string(kMaxDevicePath - UsbPath(1).size(), 'x');
  const std::string tooLong = longest + "y";
  sim::SimulatedBridge& skipped = Plug(tooLong, Enclosure());
  Plug(longest, Enclosure());
  ASSERT_EQ(Enumerate(), 1);
  EXPECT_EQ(paths[0].path, longest);
  EXPECT_TRUE(skipped.log().empty());
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_THAT(warnings[0], HasSubstr("longer than 255"));
}

TEST_F(Discovery, ADiskThatCannotBeOpenedIsLeftOutWithAReason) {
  lister.Add(UsbPath(7));  // listed by the platform, gone before we open it
  Plug(UsbPath(1), PlainDisk());
  EXPECT_EQ(Enumerate(), 0);
  ASSERT_EQ(warnings.size(), 1u);  // the plain disk refused; only the unopenable one is news
  EXPECT_THAT(warnings[0], HasSubstr(UsbPath(7)));
}

}  // namespace
}  // namespace korvane
